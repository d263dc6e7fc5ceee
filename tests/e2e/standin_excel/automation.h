#pragma once

#include "host/ScopedWin.h"

#include <oaidl.h>

namespace standin {

enum class ObjectKind { global, application, workbooks, workbook };

// Excel's global class and the application class; both are dual interfaces in the real
// product, but only their IDispatch side is served here.
extern const CLSID clsid_global;
extern const CLSID clsid_application;
// The class a running Excel registers its application under, for GetActiveObject.
extern const CLSID clsid_running_application;

// The global object or the application (any other kind): what COM and the user's Excel hand
// out; workbooks come from the application.
qx::ComPtr<IDispatch> create_object(ObjectKind kind);

} // namespace standin
