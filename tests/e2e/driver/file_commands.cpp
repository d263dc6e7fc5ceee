#include "commands.h"

#include <string>

namespace qxdriver {

int cmd_file_attributes(const Invocation& call) {
    require_args(call, 1, "file-attributes PATH");
    const DWORD attributes = GetFileAttributesW(call.args[0].c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES)
        throw Failure("GetFileAttributesW failed: " + win32_error_text(GetLastError()));
    write_stdout(std::to_string(attributes) + "\n");
    return 0;
}

} // namespace qxdriver
