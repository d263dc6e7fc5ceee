#pragma once

#include "host/HostServices.h"
#include "installer/ExcelChecks.h"
#include "installer/ExitCodes.h"
#include "installer/InstallState.h"
#include "installer/Messages.h"
#include "installer/StepLog.h"

#include <string>

namespace qx {

// What the user is told at the end of a run, and its exit code: the boxes and the success
// window, unless the run shows nothing (quiet, or a status query for scripts); then only the
// log has it. The one place that decides what a quiet run logs instead of showing.
class RunReport {
public:
    RunReport(HostServices& host, StepLog& log, const InstallState& state, bool showsNothing)
        : host_(host), log_(log), state_(state), showsNothing_(showsNothing) {}

    bool ShowsNothing() const { return showsNothing_; }
    // A failure until the run reaches the end state it was asked for: a path that forgets to
    // say how it ended cannot report success.
    int ExitCode() const { return exitCode_; }
    // An end the run reached that shows nothing of its own: a status, a No.
    void EndWith(int exitCode) { exitCode_ = exitCode; }
    // Writes the exit code as the log's last line and hands it back.
    int Finish();

    void SucceedWithNotice(const wchar_t* notice);
    void SucceedWithWindow();
    // The success window promises the add-in's menu item at Excel's next start: where Excel's
    // settings hold the add-in back, the user first learns what Excel will do.
    void SucceedTelling(const NextStart& next);
    // Comes before the success window, which then tells no more than is true once Excel
    // restarts.
    void AskToRestartExcel(Pieces reason);
    void Fail(const std::wstring& message);
    // A failure a second one kept from being undone in full says what it left.
    void FailLeaving(const std::wstring& message, const Leftovers& left);

private:
    void Tell(const std::wstring& notice, bool warning);
    void LogIfNotShown(const Status& shown);

    HostServices& host_;
    StepLog& log_;
    const InstallState& state_;
    const bool showsNothing_;
    int exitCode_ = kExitFailed;
};

} // namespace qx
