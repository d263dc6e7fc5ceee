#include "event_log.h"

#include "settings.h"

#include "host/Utf8.h"
#include "host/ScopedWin.h"

namespace standin {
namespace {

std::wstring prefix;

} // namespace

void set_event_prefix(std::wstring_view text) {
    prefix = text;
}

void log_event(std::wstring_view line) {
    const std::wstring path = log_path();
    if (path.empty())
        return;
    // Opened per event so the test can read the log while the server is still running.
    const qx::UniqueFile file(qx::OpenFileHandle(path.c_str(), FILE_APPEND_DATA,
                                                 FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_ALWAYS,
                                                 FILE_ATTRIBUTE_NORMAL));
    if (!file)
        return;
    const std::string bytes = qx::Utf8(prefix + std::wstring(line)) + "\n";
    DWORD written = 0;
    WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
}

} // namespace standin
