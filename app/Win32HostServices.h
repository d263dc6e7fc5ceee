#pragma once

#include "host/ExcelAutomation.h"
#include "host/HostServices.h"
#include "host/LogFile.h"
#include "host/WinApi.h"
#include "ui/fMsgBox.h"

namespace qx {

// The host operations on Windows: Excel automation, the registry, the file system, message
// boxes and the success window.
class Win32HostServices final : public HostServices {
public:
    Win32HostServices(HINSTANCE instance, LogFile& log);

    Outcome<bool> RunsAsDesktopUser() override;
    Outcome<ExcelApplicationHandle> AttachToRunningExcel() override;
    bool ExcelWindowOpen() override;
    Outcome<ExcelApplicationHandle> AcquireExcelApplication() override;
    Outcome<std::wstring> ReadStartupPath(const ExcelApplicationHandle& excel) override;
    Outcome<std::wstring> ReadExcelVersion(const ExcelApplicationHandle& excel) override;
    Status OpenAddin(const ExcelApplicationHandle& excel, const std::wstring& path) override;
    Status CloseAddin(const ExcelApplicationHandle& excel, const std::wstring& name) override;
    Outcome<std::wstring> FindFile(const std::wstring& path) override;
    Outcome<FileDigest> CopyFile(const std::wstring& source,
                                 const std::wstring& destination) override;
    Status MoveFileReplacing(const std::wstring& from, const std::wstring& to) override;
    Status FlushFolder(const std::wstring& path) override;
    Outcome<std::uint32_t> MakeFileOrdinary(const std::wstring& path) override;
    Status RestoreFileAttributes(const std::wstring& path, std::uint32_t attributes) override;
    Status DeleteFile(const std::wstring& path) override;
    Status CreateFolder(const std::wstring& path) override;
    Outcome<std::string> ReadFileBytes(const std::wstring& path) override;
    Status WriteFileBytes(const std::wstring& path, const std::string& bytes) override;
    Outcome<bool> FileExists(const std::wstring& path) override;
    Outcome<std::wstring> ApplicationFolder() override;
    Outcome<bool> IsInTemporaryFolder(const std::wstring& folder) override;
    Outcome<bool> IsOnNetwork(const std::wstring& folder) override;
    Outcome<bool> SameBytesAfterScan(const std::wstring& path, const FileDigest& staged) override;
    bool SameFileName(const std::wstring& first, const std::wstring& second) override;
    Outcome<bool> LocationCovers(const std::wstring& location, const std::wstring& folder,
                                 bool withSubfolders) override;
    Status SaveSetting(const std::wstring& application, const std::wstring& section,
                       const std::wstring& key, const std::wstring& value) override;
    Outcome<std::wstring> ReadSetting(const std::wstring& application, const std::wstring& section,
                                      const std::wstring& key) override;
    Status DeleteSetting(const std::wstring& application, const std::wstring& section) override;
    Status DeleteSettingKey(const std::wstring& application, const std::wstring& section,
                            const std::wstring& key) override;
    Status FlushSettings(const std::wstring& application, const std::wstring& section) override;
    Outcome<std::uint32_t> ReadUserNumber(const std::wstring& key,
                                          const std::wstring& name) override;
    Outcome<std::wstring> ReadUserText(const std::wstring& key, const std::wstring& name) override;
    Outcome<std::vector<std::wstring>> ListUserSubkeys(const std::wstring& key) override;
    Outcome<std::vector<RegistryValue>> ListUserValues(const std::wstring& key) override;
    Status DeleteUserValue(const std::wstring& key, const std::wstring& name) override;
    Outcome<std::int16_t> AskYesNo(const std::wstring& prompt) override;
    Status Inform(const std::wstring& prompt) override;
    Status Warn(const std::wstring& prompt) override;
    Status ShowSuccessWindow() override;
    void UnloadWindow() override;
    void EndProgram() override;
    void Log(const std::wstring& line) override;

    // Serves the success window until the program ends.
    void RunMessageLoopWhileWindowOpen();

private:
    LogFile& log_;
    ExcelAutomation excel_;
    fMsgBox successWindow_;
    bool ended_ = false;
};

} // namespace qx
