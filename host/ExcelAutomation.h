#pragma once

#include "host/ExcelThread.h"
#include "host/HostServices.h"
#include "host/ScopedWin.h"

#include <string>

namespace qx {

// Excel's application object, reached by late binding so that any Excel version serves: the
// Excel started for the run, held here; or the one the user has open, which its own thread
// holds (ExcelThread).
class Win32ExcelApplication : public ExcelApplication {
public:
    explicit Win32ExcelApplication(ComPtr<IDispatch> dispatch) : dispatch_(std::move(dispatch)) {}
    // The Excel the user has open.
    Win32ExcelApplication() = default;
    IDispatch* dispatch() const { return dispatch_.get(); }
    bool usersOwn() const { return !dispatch_; }

private:
    ComPtr<IDispatch> dispatch_;
};

// Talks to Excel through its automation interface: the Excel the user has open, or one it
// starts; learns the start-up folder, and opens or closes the add-in in the user's Excel.
class ExcelAutomation {
public:
    Outcome<ExcelApplicationHandle> AttachToRunning();
    Outcome<ExcelApplicationHandle> AcquireApplication();
    Outcome<std::wstring> ReadStartupPath(const ExcelApplicationHandle& excel);
    Status OpenAddin(const ExcelApplicationHandle& excel, const std::wstring& path);
    Status CloseAddin(const ExcelApplicationHandle& excel, const std::wstring& name);

private:
    // Work on the add-in (its path or name) in the user's Excel, done on that Excel's thread.
    using AddinWork = Status (*)(IDispatch* application, const std::wstring& addin,
                                 CallDeadline& deadline);
    Status OnUsersExcel(const ExcelApplicationHandle& excel, AddinWork work,
                        const std::wstring& addin);

    // Created on first use and kept until the program ends, as Excel expects of its clients.
    ComPtr<IDispatch> global_;
    ExcelThread usersExcel_;
};

// Whether a visible Excel main window of another process is on this desktop.
bool ExcelWindowOpen();

} // namespace qx
