#pragma once

#include <string>
#include <vector>

namespace qx {

enum class RunMode {
    Toggle,      // no switch: install, or offer to remove what is installed
    Install,     // install without asking, or update what is installed
    Uninstall,   // remove without asking
    StatusQuery, // change nothing; the exit code tells
    Help,        // show the usage
};

// What the administrator asked for. Switches start with / or - and are case-insensitive.
struct CommandLine {
    RunMode mode = RunMode::Toggle;
    bool quiet = false;   // no question, no box, no window
    std::wstring logFile; // empty: no log
    // False for a switch that is unknown, repeated, missing its file name or at odds with
    // another; `quiet` still says whether the usage may be shown.
    bool valid = true;
};

// `arguments` as the system split them, without the program's own name.
CommandLine ParseCommandLine(const std::vector<std::wstring>& arguments);

} // namespace qx
