#include "installer/UsageAnswer.h"

#include "installer/ExitCodes.h"

namespace qx {

std::optional<UsageAnswer> AnswerWithUsage(const CommandLine& commandLine) {
    if (!commandLine.valid) {
        return UsageAnswer{commandLine.quiet ? UsageBox::Hidden : UsageBox::Warning,
                           kExitBadCommandLine};
    }
    if (commandLine.mode == RunMode::Help) {
        return UsageAnswer{UsageBox::Information, kExitDone};
    }
    return std::nullopt;
}

} // namespace qx
