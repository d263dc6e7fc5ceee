#pragma once

#include "installer/CommandLine.h"

#include <optional>

namespace qx {

enum class UsageBox {
    Hidden,      // a quiet run shows nothing, not even why it was refused
    Warning,     // the command line was refused
    Information, // the usage was asked for
};

// The usage, in the box it is shown in, and the exit code the run then ends with.
struct UsageAnswer {
    UsageBox box;
    int exitCode;
};

// A command line that is refused or that asks for help is answered with the usage alone, before
// anything else happens; empty when the command line asks for work.
std::optional<UsageAnswer> AnswerWithUsage(const CommandLine& commandLine);

} // namespace qx
