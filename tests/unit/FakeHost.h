#pragma once

#include "host/HostServices.h"

#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace qx::testing {

// The in-memory world's places, as every test spells them.
inline const std::wstring kExcelFolder = L"C:\\Users\\Lin\\AppData\\Roaming\\Microsoft\\Excel";
inline const std::wstring kStartup = kExcelFolder + L"\\XLSTART";
inline const std::wstring kInstalled = kStartup + L"\\QxButton.xla";
inline const std::wstring kProgram = L"D:\\Quorvale 数据";
inline const std::wstring kSource = kProgram + L"\\安装.xla";
inline const std::wstring kTemporary = L"C:\\Users\\Lin\\AppData\\Local\\Temp";

// An in-memory world (Excel, files, settings store, the user at the message boxes) that
// records every operation the sequence asks of it, in order.
class FakeHost final : public HostServices {
public:
    enum class Op {
        RunsAsDesktopUser,
        AttachToRunningExcel,
        AcquireExcelApplication,
        ReadStartupPath,
        OpenAddin,
        CloseAddin,
        FindFile,
        CopyFile,
        MakeFileOrdinary,
        RestoreFileAttributes,
        DeleteFile,
        CreateFolder,
        ReadFileBytes,
        WriteFileBytes,
        FileExists,
        ApplicationFolder,
        IsInTemporaryFolder,
        SaveSetting,
        ReadSetting,
        DeleteSetting,
        DeleteSettingKey,
        AskYesNo,
        Inform,
        Warn,
        ShowSuccessWindow,
    };

    // --- The world before the run ---
    std::optional<bool> desktopUser = true; // nullopt: the host cannot tell
    bool excelInstalled = true;
    // The Excel the user has open: registered for other programs to reach, answering them (a
    // busy one rejects every call), and the workbooks it has open, which it holds locked.
    bool usersExcelRunning = false;
    bool usersExcelAnswers = true;
    bool excelWindowOpen = false;
    std::set<std::wstring> openInUsersExcel; // full paths
    std::wstring startupFolder = kStartup;
    std::wstring temporaryFolder = kTemporary;
    std::wstring programFolder = kProgram;
    std::map<std::wstring, std::string> files;   // full path -> contents
    std::set<std::wstring> hiddenFiles;          // present, but not ordinary files
    std::set<std::wstring> readOnlyFiles;        // as on Windows: neither replaced nor deleted
    std::set<std::wstring> lockedFiles;          // in use: cannot be deleted
    std::set<std::wstring> missingFolders;       // every other folder exists
    std::set<std::wstring> settingsApplications; // application keys present
    std::map<std::wstring, std::map<std::wstring, std::wstring>> settingsSections; // "app\\sec"
    std::optional<std::int16_t> userAnswer = kAnswerYes; // nullopt: the box cannot be shown
    // As CopyFileW can, a copy that fails leaves the destination half-written.
    bool failedCopyLeavesPart = false;
    // Forced failures: the nth call (1-based) of an operation fails with this error.
    std::map<std::pair<Op, int>, HostError> failures;

    void FailNth(Op op, int nth, HostError error) { failures[{op, nth}] = std::move(error); }
    void Fail(Op op, HostError error = DefaultError()) { FailNth(op, 1, std::move(error)); }
    static HostError DefaultError() { return HostError{5, L"拒绝访问。\r\n", false}; }
    // The attributes MakeFileOrdinary hands back, numbered as Windows numbers them.
    static constexpr std::uint32_t kReadOnlyAttribute = 0x1;
    static constexpr std::uint32_t kHiddenAttribute = 0x2;

    // --- What the run did ---
    std::vector<std::wstring> calls;
    std::vector<Op> ops; // every call that can fail, in order: what a fault is injected into
    std::vector<std::wstring> shownMessages; // every box, in order, as "Kind: text"
    std::vector<std::wstring> logLines;
    const ExcelApplication* handedOut = nullptr;
    bool successWindowShown = false;

    bool HasSection(const std::wstring& application, const std::wstring& section) const;
    std::wstring Setting(const std::wstring& application, const std::wstring& section,
                         const std::wstring& key) const;

    Outcome<bool> RunsAsDesktopUser() override;
    Outcome<ExcelApplicationHandle> AttachToRunningExcel() override;
    bool ExcelWindowOpen() override;
    Outcome<ExcelApplicationHandle> AcquireExcelApplication() override;
    Outcome<std::wstring> ReadStartupPath(const ExcelApplicationHandle& excel) override;
    Status OpenAddin(const ExcelApplicationHandle& excel, const std::wstring& path) override;
    Status CloseAddin(const ExcelApplicationHandle& excel, const std::wstring& name) override;
    Outcome<std::wstring> FindFile(const std::wstring& path) override;
    Status CopyFile(const std::wstring& source, const std::wstring& destination) override;
    Outcome<std::uint32_t> MakeFileOrdinary(const std::wstring& path) override;
    Status RestoreFileAttributes(const std::wstring& path, std::uint32_t attributes) override;
    Status DeleteFile(const std::wstring& path) override;
    Status CreateFolder(const std::wstring& path) override;
    Outcome<std::string> ReadFileBytes(const std::wstring& path) override;
    Status WriteFileBytes(const std::wstring& path, const std::string& bytes) override;
    Outcome<bool> FileExists(const std::wstring& path) override;
    Outcome<std::wstring> ApplicationFolder() override;
    Outcome<bool> IsInTemporaryFolder(const std::wstring& folder) override;
    Status SaveSetting(const std::wstring& application, const std::wstring& section,
                       const std::wstring& key, const std::wstring& value) override;
    Outcome<std::wstring> ReadSetting(const std::wstring& application, const std::wstring& section,
                                      const std::wstring& key) override;
    Status DeleteSetting(const std::wstring& application, const std::wstring& section) override;
    Status DeleteSettingKey(const std::wstring& application, const std::wstring& section,
                            const std::wstring& key) override;
    Outcome<std::int16_t> AskYesNo(const std::wstring& prompt) override;
    Status Inform(const std::wstring& prompt) override;
    Status Warn(const std::wstring& prompt) override;
    Status ShowSuccessWindow() override;
    void UnloadWindow() override;
    void EndProgram() override;
    void Log(const std::wstring& line) override;

private:
    std::optional<HostError> Forced(Op op);
    bool InUse(const std::wstring& path) const;
    std::map<Op, int> callCounts_;
};

} // namespace qx::testing
