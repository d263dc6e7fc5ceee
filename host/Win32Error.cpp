#include "host/Win32Error.h"

#include "host/ScopedWin.h"

namespace qx {

namespace {

// Windows' numbers for a file a security program refused or removed; mingw-w64's headers lack
// their names.
constexpr DWORD kVirusInfected = 225; // ERROR_VIRUS_INFECTED
constexpr DWORD kVirusDeleted = 226;  // ERROR_VIRUS_DELETED

// Some numbers (many HRESULTs) have no system text; the number still lets support help.
std::wstring DescribeError(DWORD number) {
    std::wstring text = SystemErrorText(number);
    if (text.empty()) {
        text = L"0x";
        for (int shift = 28; shift >= 0; shift -= 4) {
            text += L"0123456789ABCDEF"[(number >> shift) & 0xF];
        }
    }
    return text;
}

} // namespace

std::wstring SystemErrorText(DWORD number) {
    wchar_t* buffer = nullptr;
    const DWORD length = FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, number, 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
    const UniqueLocalMemory<wchar_t> owner(buffer);
    return length != 0 ? std::wstring(buffer, length) : std::wstring();
}

HostError Win32Failure(DWORD number) {
    HostError error;
    error.number = number;
    error.description = DescribeError(number);
    error.notFound = number == ERROR_FILE_NOT_FOUND || number == ERROR_PATH_NOT_FOUND;
    // What a security program answers for a file it refuses to let be opened, or has removed.
    error.quarantined = number == kVirusInfected || number == kVirusDeleted;
    return error;
}

HostError LastWin32Failure() {
    return Win32Failure(GetLastError());
}

HostError ComFailure(HRESULT result) {
    // Win32 errors wrapped as HRESULTs keep their own description and not-found meaning.
    if (HRESULT_FACILITY(result) == FACILITY_WIN32) {
        HostError error = Win32Failure(HRESULT_CODE(result));
        error.number = static_cast<std::uint32_t>(result);
        return error;
    }
    HostError error;
    error.number = static_cast<std::uint32_t>(result);
    error.description = DescribeError(static_cast<DWORD>(result));
    // A call still rejected once its deadline passed did not get an answer in time either, and
    // one the message filter withdrew at the deadline may still reach Excel and happen there.
    error.timedOut = result == RPC_E_TIMEOUT || result == RPC_E_CALL_REJECTED ||
                     result == RPC_E_SERVERCALL_RETRYLATER || result == RPC_E_CALL_CANCELED;
    return error;
}

} // namespace qx
