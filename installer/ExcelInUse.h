#pragma once

#include "host/HostServices.h"
#include "installer/InstallState.h"
#include "installer/Messages.h"
#include "installer/StepLog.h"

namespace qx {

// The Excel this run asks for its start-up folder: the one the user has open, when it can be
// reached, or else one started for the run. It knows which it is, and opens or closes the
// add-in in the user's own, the only Excel where that shows.
class ExcelInUse {
public:
    enum class Asked { Answered, CannotBeAsked, DidNotAnswer };

    ExcelInUse(HostServices& host, StepLog& log, InstallState& state)
        : host_(host), log_(log), state_(state) {}

    // Sets the run's Excel, its start-up folder and which Excel it is.
    Asked Find();
    bool IsUsers() const { return state_.excelUsed == ExcelUsed::Users; }
    // Whether this run took the add-in out of the user's Excel, where it was open.
    bool ClosedTheAddin() const { return closedTheAddin_; }

    // Opens the installed add-in in the user's Excel, as Excel's start would.
    Status Open(Pieces step);
    // Takes the add-in out of the user's Excel, so that Windows lets its file be replaced or
    // deleted; nothing to do with another Excel. Fails (timedOut) when Excel did not answer in
    // time: it may still close the add-in once it gets to the call.
    Status LetGo();
    // Opens the add-in again where this run closed it; what it could not, it names.
    void OpenAgain(Pieces step, Leftovers& left);
    // Names, in the log and in what the user is told, that Excel may still close the add-in.
    void MayHaveClosedIt(Leftovers& left);

private:
    bool ReachUsers(bool& usersExcelOpen);
    Asked Start();

    HostServices& host_;
    StepLog& log_;
    InstallState& state_;
    bool closedTheAddin_ = false;
};

} // namespace qx
