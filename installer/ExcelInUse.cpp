#include "installer/ExcelInUse.h"

#include "installer/Paths.h"

#include <utility>

namespace qx {

// The Excel the user has open is asked first: it knows the folder, and creating Excel's object
// while it runs would start a second, hidden Excel only to ask the same thing. Only when it
// cannot be reached or does not answer is Excel started for the run, as when none is open.
ExcelInUse::Asked ExcelInUse::Find() {
    bool usersExcelOpen = host_.ExcelWindowOpen();
    log_.Log({"Look for Excel's window on the desktop: ", usersExcelOpen ? "open" : "none"});

    if (ReachUsers(usersExcelOpen)) {
        state_.excelUsed = ExcelUsed::Users;
    } else if (const Asked started = Start(); started != Asked::Answered) {
        return started;
    } else {
        state_.excelUsed = usersExcelOpen ? ExcelUsed::StartedBesideUsers : ExcelUsed::Started;
    }
    log_.Log({"Excel's start-up folder: ", state_.startupFolder});
    switch (state_.excelUsed) {
    case ExcelUsed::Users:
        log_.Log({"Excel used: the user's, already open"});
        break;
    case ExcelUsed::StartedBesideUsers:
        log_.Log({"Excel used: one started for this run; the user's is open but could not be "
                  "reached"});
        break;
    case ExcelUsed::Started:
    case ExcelUsed::None:
        log_.Log({"Excel used: one started for this run"});
        break;
    }
    return Asked::Answered;
}

bool ExcelInUse::ReachUsers(bool& usersExcelOpen) {
    auto running = host_.AttachToRunningExcel();
    if (!running) {
        if (running.error().notFound) {
            log_.Log({"Reach the Excel the user has open: none running"});
        } else {
            log_.Log({"Reach the Excel the user has open: ", FailureText(running.error())});
        }
        return false;
    }
    log_.Log({"Reach the Excel the user has open: done"});
    usersExcelOpen = true;
    // A busy Excel (a dialog open, a cell being edited) fails this after a while.
    const auto folder = log_.Logged({"Ask the user's Excel for its start-up folder"},
                                    host_.ReadStartupPath(running.value()));
    if (!folder || folder.value().empty()) {
        return false;
    }
    state_.excel = std::move(running.value());
    state_.startupFolder = folder.value();
    return true;
}

// An Excel that shows an invisible first-run or sign-in dialog never answers; the run gives up
// on it rather than hang the logon script or deployment tool that waits for the program.
ExcelInUse::Asked ExcelInUse::Start() {
    auto excel = log_.Logged({"Start Excel"}, host_.AcquireExcelApplication());
    if (excel) {
        state_.excel = std::move(excel.value());
    }
    const auto folder = excel ? log_.Logged({"Ask Excel for its start-up folder"},
                                            host_.ReadStartupPath(state_.excel))
                              : Outcome<std::wstring>(excel.error());
    if (folder && !folder.value().empty()) {
        state_.startupFolder = folder.value();
        return Asked::Answered;
    }
    if (!folder && folder.error().timedOut) {
        log_.Log({"Excel did not answer within ", Decimal(kExcelAnswerLimitSeconds),
                  " seconds; the Excel started for this run may still be running"});
        return Asked::DidNotAnswer;
    }
    return Asked::CannotBeAsked;
}

Status ExcelInUse::Open(Pieces step) {
    return log_.Logged(step, host_.OpenAddin(state_.excel, state_.InstalledAddinPath()));
}

// Excel keeps a loaded add-in open, and Windows neither deletes nor replaces an open file.
Status ExcelInUse::LetGo() {
    if (!IsUsers()) {
        return Completed();
    }
    const auto closed = log_.LoggedAllowingAbsent(
        {"Take ", InstalledAddinFileName(), " out of the user's Excel"},
        host_.CloseAddin(state_.excel, InstalledAddinFileName()), "not open there");
    if (!closed && !closed.error().notFound) {
        return closed;
    }
    closedTheAddin_ = closed.succeeded();
    return Completed();
}

// An Excel that did not answer in time may still open the add-in once it gets to the call.
void ExcelInUse::OpenAgain(Pieces step, Leftovers& left) {
    const auto opened = Open(step);
    if (opened) {
        return;
    }
    if (opened.error().timedOut) {
        MayHaveClosedIt(left);
        return;
    }
    log_.Log({"Not undone: the add-in stayed closed in the user's Excel"});
    left.closedInExcel = true;
}

void ExcelInUse::MayHaveClosedIt(Leftovers& left) {
    log_.Log(
        {"Not undone: the add-in may be closed in the user's Excel, which did not answer in time"});
    left.mayBeClosedInExcel = true;
}

} // namespace qx
