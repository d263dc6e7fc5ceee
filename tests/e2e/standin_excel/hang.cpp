#include "hang.h"

#include "event_log.h"
#include "settings.h"

#include "host/WinApi.h"

#include <string>

namespace standin {

void hang_if_asked(std::wstring_view where) {
    if (!should_hang(where))
        return;
    const DWORD ms = hang_ms();
    log_event(L"hanging in " + std::wstring(where) + L" for " + std::to_wstring(ms) + L" ms");
    Sleep(ms);
    log_event(L"stopped hanging in " + std::wstring(where));
}

} // namespace standin
