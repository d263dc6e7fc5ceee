#pragma once

#include "host/ExcelAutomation.h"
#include "host/HostServices.h"
#include "host/WinApi.h"
#include "ui/fMsgBox.h"

namespace qx {

// The host operations on Windows: Excel automation, the registry, the file system, message
// boxes and the success window.
class Win32HostServices final : public HostServices {
public:
    explicit Win32HostServices(HINSTANCE instance);

    Outcome<bool> RunsAsDesktopUser() override;
    Outcome<ExcelApplicationHandle> AcquireExcelApplication() override;
    Outcome<std::wstring> ReadStartupPath(const ExcelApplicationHandle& excel) override;
    Outcome<std::wstring> FindFile(const std::wstring& path) override;
    Status CopyFile(const std::wstring& source, const std::wstring& destination) override;
    Status MakeFileOrdinary(const std::wstring& path) override;
    Status DeleteFile(const std::wstring& path) override;
    Status CreateFolder(const std::wstring& path) override;
    Outcome<std::wstring> ApplicationFolder() override;
    Status SaveSetting(const std::wstring& application, const std::wstring& section,
                       const std::wstring& key, const std::wstring& value) override;
    Status DeleteSetting(const std::wstring& application, const std::wstring& section) override;
    Outcome<std::int16_t> AskYesNo(const std::wstring& prompt) override;
    Status Inform(const std::wstring& prompt) override;
    Status Warn(const std::wstring& prompt) override;
    Status ShowSuccessWindow() override;
    void UnloadWindow() override;
    void EndProgram() override;

    // Serves the success window until the program ends; returns the exit code.
    int RunMessageLoopWhileWindowOpen();

private:
    ExcelAutomation excel_;
    fMsgBox successWindow_;
    bool ended_ = false;
};

} // namespace qx
