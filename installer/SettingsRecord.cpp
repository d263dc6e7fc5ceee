#include "installer/SettingsRecord.h"

namespace qx {

Status WriteWorkbookPath(HostServices& host, const std::wstring& workbookPath) {
    return host.SaveSetting(kSettingsApplication, kSettingsSection, kPathKey, workbookPath);
}

Status WriteUnit(HostServices& host) {
    return host.SaveSetting(kSettingsApplication, kSettingsSection, kUnitKey, kUnitValue);
}

Status DeleteSettingsRecord(HostServices& host) {
    return host.DeleteSetting(kSettingsApplication, kSettingsSection);
}

} // namespace qx
