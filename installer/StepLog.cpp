#include "installer/StepLog.h"

#include "installer/Messages.h"

namespace qx {

void StepLog::Log(Pieces line) {
    host_.Log(Joined(line));
}

void StepLog::Ended(Pieces step, const HostError* failure) {
    std::wstring line = Joined(step);
    if (failure) {
        Append(line, {": ", FailureText(*failure)});
    } else {
        Append(line, {": done"});
    }
    host_.Log(line);
}

Status StepLog::LoggedAllowingAbsent(Pieces step, Status outcome, const char* absent) {
    if (!outcome && outcome.error().notFound) {
        std::wstring line = Joined(step);
        Append(line, {": ", absent});
        host_.Log(line);
        return outcome;
    }
    return Logged(step, std::move(outcome));
}

} // namespace qx
