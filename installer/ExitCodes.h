#pragma once

namespace qx {

// The process's exit code, numbered as Windows Installer numbers its own, which deployment
// tools already know how to read.
enum ExitCode : int {
    kExitDone = 0,                    // installed, updated, removed, nothing to remove;
                                      // /status: installed
    kExitNotInstalled = 1,            // /status only
    kExitBadCommandLine = 87,         // ERROR_INVALID_PARAMETER
    kExitDeclined = 1602,             // ERROR_INSTALL_USEREXIT
    kExitFailed = 1603,               // ERROR_INSTALL_FAILURE
    kExitAnotherRunInProgress = 1618, // ERROR_INSTALL_ALREADY_RUNNING
    kExitLogUnavailable = 1622,       // ERROR_INSTALL_LOG_FAILURE
};

} // namespace qx
