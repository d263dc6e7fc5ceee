#pragma once

#include "host/ExcelThread.h"
#include "host/HostServices.h"
#include "host/ScopedWin.h"

#include <string>

namespace qx {

// Which Excel a handle stands for. Its objects live on that Excel's own thread (ExcelThread),
// never on the program's.
class Win32ExcelApplication : public ExcelApplication {
public:
    explicit Win32ExcelApplication(bool usersOwn) : usersOwn_(usersOwn) {}
    bool usersOwn() const { return usersOwn_; }

private:
    const bool usersOwn_;
};

// Talks to Excel through its automation interface, by late binding so that any Excel version
// serves: the Excel the user has open, or one it starts; learns the start-up folder, and opens
// or closes the add-in in the user's Excel. Each Excel has a thread of its own, so that giving
// up on one that hangs leaves the other to ask.
class ExcelAutomation {
public:
    Outcome<ExcelApplicationHandle> AttachToRunning();
    Outcome<ExcelApplicationHandle> AcquireApplication();
    Outcome<std::wstring> ReadStartupPath(const ExcelApplicationHandle& excel);
    Outcome<std::wstring> ReadVersion(const ExcelApplicationHandle& excel);
    Status OpenAddin(const ExcelApplicationHandle& excel, const std::wstring& path);
    Status CloseAddin(const ExcelApplicationHandle& excel, const std::wstring& name);

private:
    // Work on the add-in (its path or name) in the user's Excel, done on that Excel's thread.
    using AddinWork = Status (*)(IDispatch* application, const std::wstring& addin,
                                 const CallDeadline& deadline);
    Status OnUsersExcel(const ExcelApplicationHandle& excel, AddinWork work,
                        const std::wstring& addin);
    ExcelThread* ThreadOf(const ExcelApplicationHandle& excel);
    // A property of the application that is text, read on that Excel's thread.
    Outcome<std::wstring> ReadText(const ExcelApplicationHandle& excel, const wchar_t* property);

    ExcelThread usersExcel_;
    // Its global object is created on first use and kept until the program ends, as Excel
    // expects of its clients.
    ExcelThread startedExcel_;
};

// Whether a visible Excel main window of another process is on this desktop.
bool ExcelWindowOpen();

} // namespace qx
