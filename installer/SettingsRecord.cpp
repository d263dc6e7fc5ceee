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

Status FlushSettingsRecord(HostServices& host) {
    return host.FlushSettings(kSettingsApplication, kSettingsSection);
}

Outcome<std::wstring> ReadRecordValue(HostServices& host, const wchar_t* key) {
    return host.ReadSetting(kSettingsApplication, kSettingsSection, key);
}

Status WriteRecordValue(HostServices& host, const wchar_t* key, const std::wstring& value) {
    return host.SaveSetting(kSettingsApplication, kSettingsSection, key, value);
}

Status DeleteRecordValue(HostServices& host, const wchar_t* key) {
    return host.DeleteSettingKey(kSettingsApplication, kSettingsSection, key);
}

} // namespace qx
