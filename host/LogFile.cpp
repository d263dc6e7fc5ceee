#include "host/LogFile.h"

#include "host/Utf8.h"
#include "host/Win32Error.h"

namespace qx {

namespace {

void AppendPadded(std::wstring& text, unsigned value, int width) {
    wchar_t digits[10];
    int count = 0;
    do {
        digits[count++] = static_cast<wchar_t>(L'0' + value % 10);
        value /= 10;
    } while (value != 0 && count < 10);
    for (int pad = count; pad < width; ++pad) {
        text += L'0';
    }
    while (count > 0) {
        text += digits[--count];
    }
}

// "2026-12-07 14:03:21 "
std::wstring LocalTimestamp() {
    SYSTEMTIME now = {};
    GetLocalTime(&now);
    std::wstring stamp;
    AppendPadded(stamp, now.wYear, 4);
    stamp += L'-';
    AppendPadded(stamp, now.wMonth, 2);
    stamp += L'-';
    AppendPadded(stamp, now.wDay, 2);
    stamp += L' ';
    AppendPadded(stamp, now.wHour, 2);
    stamp += L':';
    AppendPadded(stamp, now.wMinute, 2);
    stamp += L':';
    AppendPadded(stamp, now.wSecond, 2);
    stamp += L' ';
    return stamp;
}

bool WriteAll(HANDLE file, const std::string& bytes) {
    DWORD written = 0;
    return WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
           written == bytes.size();
}

} // namespace

Status LogFile::Open(const std::wstring& path) {
    file_.reset(OpenFileHandle(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                               OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL));
    if (!file_) {
        return LastWin32Failure();
    }
    // Without the byte-order mark, Notepad before Windows 10 reads UTF-8 as the ANSI code page.
    LARGE_INTEGER size = {};
    if (GetFileSizeEx(file_.get(), &size) && size.QuadPart == 0 &&
        !WriteAll(file_.get(), "\xEF\xBB\xBF")) {
        const HostError error = LastWin32Failure();
        file_.reset();
        return error;
    }
    return Completed();
}

void LogFile::Write(const std::wstring& line) {
    if (!file_) {
        return;
    }
    std::wstring text = LocalTimestamp() + line;
    for (wchar_t& c : text) {
        if (c == L'\r' || c == L'\n') {
            c = L' '; // one line per entry, whatever a description holds
        }
    }
    WriteAll(file_.get(), Utf8(text) + "\r\n");
}

} // namespace qx
