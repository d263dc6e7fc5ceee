#include "commands.h"

#include "host/ScopedWin.h"

#include <tlhelp32.h>

#include <string>

namespace qxdriver {

// Lets a test see a process nobody handed it, such as a server COM started.
int cmd_processes(const Invocation& call) {
    require_args(call, 1, "processes IMAGE_NAME");
    const qx::UniqueHandle snapshot(
        qx::NullIfInvalid(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0)));
    if (!snapshot)
        throw Failure("CreateToolhelp32Snapshot failed: " + win32_error_text(GetLastError()));
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof entry;
    std::string ids;
    for (BOOL more = Process32FirstW(snapshot.get(), &entry); more;
         more = Process32NextW(snapshot.get(), &entry)) {
        if (CompareStringOrdinal(entry.szExeFile, -1, call.args[0].c_str(), -1, TRUE) == CSTR_EQUAL)
            ids += (ids.empty() ? "" : ",") + std::to_string(entry.th32ProcessID);
    }
    write_stdout("[" + ids + "]\n");
    return 0;
}

} // namespace qxdriver
