#include "installer/RunReport.h"

namespace qx {

int RunReport::Finish() {
    log_.Log({ExitCodeLine(exitCode_)});
    return exitCode_;
}

void RunReport::SucceedWithNotice(const wchar_t* notice) {
    exitCode_ = kExitDone;
    Tell(notice, false);
}

void RunReport::SucceedWithWindow() {
    exitCode_ = kExitDone;
    if (!showsNothing_) {
        log_.Log({"Show the success window"});
        LogIfNotShown(host_.ShowSuccessWindow());
    }
}

// Where the add-in will never run, the window is not shown at all. The install stands either
// way.
void RunReport::SucceedTelling(const NextStart& next) {
    const std::wstring& folder = state_.startupFolder;
    if (next.disabled) {
        exitCode_ = kExitDone;
        Tell(kAddinStaysDisabled, true);
        return;
    }
    switch (next.macros) {
    case AtNextStart::NeverRun:
        exitCode_ = kExitDone;
        Tell(MacrosNeverRunMessage(folder), true);
        return;
    case AtNextStart::RunIfSigned:
        Tell(MacrosRunIfSignedMessage(folder), false);
        break;
    case AtNextStart::RunOnceEnabled:
        Tell(MacrosRunOnceEnabledMessage(folder), false);
        break;
    case AtNextStart::Run:
        break;
    }
    SucceedWithWindow();
}

void RunReport::AskToRestartExcel(Pieces reason) {
    std::wstring line = Joined({"Excel must be restarted to load the add-in: "});
    Append(line, reason);
    log_.Log({line});
    Tell(kRestartExcel, false);
}

void RunReport::Fail(const std::wstring& message) {
    log_.Log({"Failed: ", message});
    if (!showsNothing_) {
        LogIfNotShown(host_.Warn(message));
    }
}

void RunReport::FailLeaving(const std::wstring& message, const Leftovers& left) {
    Fail(WithLeftovers(message, left, state_.startupFolder));
}

void RunReport::Tell(const std::wstring& notice, bool warning) {
    if (showsNothing_) {
        return;
    }
    log_.Log({"Show: ", notice});
    LogIfNotShown(warning ? host_.Warn(notice) : host_.Inform(notice));
}

// What was not shown changes nothing the run did, but whoever reads the log must know the user
// did not see it.
void RunReport::LogIfNotShown(const Status& shown) {
    if (!shown) {
        log_.Log({"Show it: ", FailureText(shown.error())});
    }
}

} // namespace qx
