#include "app/Win32HostServices.h"

#include "host/DesktopUser.h"
#include "host/FileNames.h"
#include "host/FileSystem.h"
#include "host/MessageBoxes.h"
#include "host/SettingsStore.h"
#include "host/UserRegistry.h"

namespace qx {

Win32HostServices::Win32HostServices(HINSTANCE instance, LogFile& log)
    : log_(log), successWindow_(instance, *this) {}

Outcome<bool> Win32HostServices::RunsAsDesktopUser() {
    return qx::RunsAsDesktopUser();
}

Outcome<ExcelApplicationHandle> Win32HostServices::AttachToRunningExcel() {
    return excel_.AttachToRunning();
}

bool Win32HostServices::ExcelWindowOpen() {
    return qx::ExcelWindowOpen();
}

Outcome<ExcelApplicationHandle> Win32HostServices::AcquireExcelApplication() {
    return excel_.AcquireApplication();
}

Outcome<std::wstring> Win32HostServices::ReadStartupPath(const ExcelApplicationHandle& excel) {
    return excel_.ReadStartupPath(excel);
}

Outcome<std::wstring> Win32HostServices::ReadExcelVersion(const ExcelApplicationHandle& excel) {
    return excel_.ReadVersion(excel);
}

Status Win32HostServices::OpenAddin(const ExcelApplicationHandle& excel, const std::wstring& path) {
    return excel_.OpenAddin(excel, path);
}

Status Win32HostServices::CloseAddin(const ExcelApplicationHandle& excel,
                                     const std::wstring& name) {
    return excel_.CloseAddin(excel, name);
}

Outcome<std::wstring> Win32HostServices::FindFile(const std::wstring& path) {
    return FindOrdinaryFile(path);
}

Outcome<FileDigest> Win32HostServices::CopyFile(const std::wstring& source,
                                                const std::wstring& destination) {
    return CopyFileFlushed(source, destination);
}

Status Win32HostServices::MoveFileReplacing(const std::wstring& from, const std::wstring& to) {
    return MoveFileReplacingAt(from, to);
}

Status Win32HostServices::FlushFolder(const std::wstring& path) {
    return FlushFolderEntries(path);
}

Outcome<std::uint32_t> Win32HostServices::MakeFileOrdinary(const std::wstring& path) {
    return ClearHiddenSystemReadOnly(path);
}

Status Win32HostServices::RestoreFileAttributes(const std::wstring& path,
                                                std::uint32_t attributes) {
    return RestoreAttributes(path, attributes);
}

Status Win32HostServices::DeleteFile(const std::wstring& path) {
    return DeleteFileAt(path);
}

Status Win32HostServices::CreateFolder(const std::wstring& path) {
    return CreateFolderWithParents(path);
}

Outcome<std::string> Win32HostServices::ReadFileBytes(const std::wstring& path) {
    return ReadWholeFile(path);
}

Status Win32HostServices::WriteFileBytes(const std::wstring& path, const std::string& bytes) {
    return WriteWholeFileFlushed(path, bytes);
}

Outcome<bool> Win32HostServices::FileExists(const std::wstring& path) {
    return FileExistsAt(path);
}

Outcome<std::wstring> Win32HostServices::ApplicationFolder() {
    return RunningProgramFolder();
}

Outcome<bool> Win32HostServices::IsInTemporaryFolder(const std::wstring& folder) {
    return IsInsideTemporaryFolder(folder);
}

Outcome<bool> Win32HostServices::IsOnNetwork(const std::wstring& folder) {
    return IsOnNetworkFolder(folder);
}

Outcome<bool> Win32HostServices::SameBytesAfterScan(const std::wstring& path,
                                                    const FileDigest& staged) {
    return qx::SameBytesAfterScan(path, staged);
}

bool Win32HostServices::SameFileName(const std::wstring& first, const std::wstring& second) {
    return SameFileNames(first, second);
}

Outcome<bool> Win32HostServices::LocationCovers(const std::wstring& location,
                                                const std::wstring& folder, bool withSubfolders) {
    return qx::LocationCovers(location, folder, withSubfolders);
}

Status Win32HostServices::SaveSetting(const std::wstring& application, const std::wstring& section,
                                      const std::wstring& key, const std::wstring& value) {
    return SaveSettingValue(application, section, key, value);
}

Outcome<std::wstring> Win32HostServices::ReadSetting(const std::wstring& application,
                                                     const std::wstring& section,
                                                     const std::wstring& key) {
    return ReadSettingValue(application, section, key);
}

Status Win32HostServices::DeleteSettingKey(const std::wstring& application,
                                           const std::wstring& section, const std::wstring& key) {
    return DeleteSettingValue(application, section, key);
}

Status Win32HostServices::FlushSettings(const std::wstring& application,
                                        const std::wstring& section) {
    return FlushSettingSection(application, section);
}

Outcome<std::uint32_t> Win32HostServices::ReadUserNumber(const std::wstring& key,
                                                         const std::wstring& name) {
    return ReadUserDword(key, name);
}

Outcome<std::wstring> Win32HostServices::ReadUserText(const std::wstring& key,
                                                      const std::wstring& name) {
    return ReadUserString(key, name);
}

Outcome<std::vector<std::wstring>> Win32HostServices::ListUserSubkeys(const std::wstring& key) {
    return UserSubkeys(key);
}

Outcome<std::vector<RegistryValue>> Win32HostServices::ListUserValues(const std::wstring& key) {
    return UserValues(key);
}

Status Win32HostServices::DeleteUserValue(const std::wstring& key, const std::wstring& name) {
    return DeleteUserValueAt(key, name);
}

Status Win32HostServices::DeleteSetting(const std::wstring& application,
                                        const std::wstring& section) {
    return DeleteSettingSection(application, section);
}

Outcome<std::int16_t> Win32HostServices::AskYesNo(const std::wstring& prompt) {
    return AskYesNoBox(prompt);
}

Status Win32HostServices::Inform(const std::wstring& prompt) {
    return InformBox(prompt);
}

Status Win32HostServices::Warn(const std::wstring& prompt) {
    return WarnBox(prompt);
}

Status Win32HostServices::ShowSuccessWindow() {
    if (successWindow_.IsLoaded()) {
        return Completed();
    }
    return successWindow_.Load();
}

void Win32HostServices::UnloadWindow() {
    successWindow_.Unload();
}

void Win32HostServices::EndProgram() {
    // The loop stops at WM_QUIT; leaving wWinMain then releases Excel and COM in order.
    ended_ = true;
    PostQuitMessage(0);
}

void Win32HostServices::Log(const std::wstring& line) {
    log_.Write(line);
}

void Win32HostServices::RunMessageLoopWhileWindowOpen() {
    if (!successWindow_.IsLoaded()) {
        return;
    }
    MSG message;
    while (!ended_) {
        const BOOL got = GetMessageW(&message, nullptr, 0, 0);
        if (got == 0 || got == -1) {
            break;
        }
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
}

} // namespace qx
