#pragma once

#include "host/HostServices.h"
#include "host/ScopedWin.h"

#include <string>

namespace qx {

// Excel's application object, reached by late binding so that any Excel version serves.
class Win32ExcelApplication : public ExcelApplication {
public:
    explicit Win32ExcelApplication(ComPtr<IDispatch> dispatch) : dispatch_(std::move(dispatch)) {}
    IDispatch* dispatch() const { return dispatch_.get(); }

private:
    ComPtr<IDispatch> dispatch_;
};

// Talks to Excel through its automation interface, only to learn the start-up folder.
class ExcelAutomation {
public:
    Outcome<ExcelApplicationHandle> AcquireApplication();
    Outcome<std::wstring> ReadStartupPath(const ExcelApplicationHandle& excel);

private:
    // Created on first use and kept until the program ends, as Excel expects of its clients.
    ComPtr<IDispatch> global_;
};

} // namespace qx
