#include "commands.h"

#include "host/ScopedWin.h"

#include <string>

namespace qxdriver {

// As Excel holds a loaded add-in: open for reading, others may read it too, but neither write
// nor delete it, until the test kills the process (or the timeout passes).
int cmd_hold_open(const Invocation& call) {
    require_args(call, 1, "hold-open PATH");
    const qx::UniqueFile file(qx::OpenFileHandle(
        call.args[0].c_str(), GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL));
    if (!file)
        throw Failure("CreateFileW failed: " + win32_error_text(GetLastError()));
    write_stdout("{\"pid\":" + std::to_string(GetCurrentProcessId()) + "}\n");
    Sleep(call.timeout_ms);
    return 0;
}

} // namespace qxdriver
