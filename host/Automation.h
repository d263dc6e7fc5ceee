#pragma once

#include "host/CallDeadline.h"
#include "host/Outcome.h"
#include "host/ScopedWin.h"

#include <string>

namespace qx {

// Late-bound calls into an automation server such as Excel, as its clients make them: each
// member looked up by name, then invoked with the locale Excel's members take. A deadline, when
// given, bounds each call (see CallDeadline); without one, a call is made once.

// Invokes `name` with `arguments` (last argument first, as DISPPARAMS holds them). Excel's own
// error description, when it gives one, is the failure's description.
Status CallMember(IDispatch* object, const wchar_t* name, WORD flags, VARIANT* arguments,
                  UINT count, VARIANT* result, const CallDeadline* deadline);
// A property with no arguments, coerced to `type`.
Status GetProperty(IDispatch* object, const wchar_t* name, VARTYPE type, VARIANT* result,
                   const CallDeadline* deadline);
// A member that hands back an object; fails rather than hand back none.
Status GetObject(IDispatch* object, const wchar_t* name, WORD flags, VARIANT* arguments, UINT count,
                 ScopedVariant& result, const CallDeadline* deadline);
// Copies `text` into `argument`, which owns the copy from then on.
Status PutText(ScopedVariant& argument, const std::wstring& text);

} // namespace qx
