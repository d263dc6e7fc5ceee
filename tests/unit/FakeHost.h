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
inline const std::wstring kStaging = kExcelFolder + L"\\QxButton.xla.QXSetup-staging";
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
        ReadExcelVersion,
        OpenAddin,
        CloseAddin,
        FindFile,
        CopyFile,
        MoveFileReplacing,
        FlushFolder,
        MakeFileOrdinary,
        RestoreFileAttributes,
        DeleteFile,
        CreateFolder,
        ReadFileBytes,
        WriteFileBytes,
        FileExists,
        ApplicationFolder,
        IsInTemporaryFolder,
        IsOnNetwork,
        SameBytesAfterScan,
        LocationCovers,
        SaveSetting,
        ReadSetting,
        DeleteSetting,
        DeleteSettingKey,
        FlushSettings,
        ReadUserNumber,
        ReadUserText,
        ListUserSubkeys,
        ListUserValues,
        DeleteUserValue,
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
    std::optional<std::wstring> excelVersion = L"16.0"; // nullopt: Excel does not say
    std::wstring temporaryFolder = kTemporary;
    std::wstring programFolder = kProgram;
    std::map<std::wstring, std::string> files;   // full path -> contents
    std::set<std::wstring> hiddenFiles;          // present, but not ordinary files
    std::set<std::wstring> readOnlyFiles;        // as on Windows: neither replaced nor deleted
    std::set<std::wstring> lockedFiles;          // in use: cannot be deleted or renamed
    std::set<std::wstring> otherVolumes;         // folders on a volume of their own
    std::set<std::wstring> missingFolders;       // every other folder exists
    std::set<std::wstring> settingsApplications; // application keys present
    std::map<std::wstring, std::map<std::wstring, std::wstring>> settingsSections; // "app\\sec"
    std::optional<std::int16_t> userAnswer = kAnswerYes; // nullopt: the box cannot be shown
    // The rest of the current user's registry: key path -> value name -> value, as stored.
    struct UserValue {
        std::optional<std::uint32_t> number; // REG_DWORD
        std::optional<std::wstring> text;    // REG_SZ, REG_EXPAND_SZ
        std::string bytes;                   // REG_BINARY
    };
    std::map<std::wstring, std::map<std::wstring, UserValue>> userRegistry;
    std::map<std::wstring, std::wstring> environment; // name -> value
    std::map<std::wstring, std::wstring> shortNames;  // a folder's 8.3 path -> its long path
    std::set<std::wstring> networkFolders;            // and every folder inside them
    // A security program that takes this file away as soon as it appears, or, when it
    // `cleans`, rewrites it.
    std::optional<std::wstring> quarantined;
    bool cleans = false;
    static constexpr char kCleaned[] = "cleaned by a security program";
    // Forced failures: the nth call (1-based) of an operation fails with this error.
    std::map<std::pair<Op, int>, HostError> failures;
    // Failures that break off a write half-way, as a full disk does: the destination, opened to
    // be overwritten, was emptied first and holds part of the bytes.
    std::set<std::pair<Op, int>> breakingOff;

    // Calls into Excel that the run gives up on, but that Excel still carries out once it gets
    // to them: a cancelled call is only withdrawn on the caller's side.
    std::set<std::pair<Op, int>> happenAnyway;

    void FailNth(Op op, int nth, HostError error) { failures[{op, nth}] = std::move(error); }
    void GiveUpOnNth(Op op, int nth, HostError error) {
        FailNth(op, nth, std::move(error));
        happenAnyway.insert({op, nth});
    }
    void BreakOffNth(Op op, int nth, HostError error) {
        FailNth(op, nth, std::move(error));
        breakingOff.insert({op, nth});
    }

    // --- Death and power ---
    // The process dies before this call (1-based, counted over `ops`): from then on no call
    // reaches the world. 0: it lives.
    std::size_t diesBeforeCall = 0;
    bool Dead() const { return dead_; }
    // The digest the in-memory world gives a file's bytes.
    static FileDigest DigestOf(const std::string& bytes) {
        return FileDigest{"digest of " + bytes};
    }
    // What the disk and the registry hold after a power cut at this moment, in the worst cases
    // Windows allows: only what was flushed; or the registry's lazy writer got there, but not
    // the file system's; or the file system's journal did (names and sizes), but not the data.
    enum class PowerCut { OnlyFlushed, RegistryWritten, FileNamesLogged };
    FakeHost AfterPowerCut(PowerCut cut) const;
    // The same world for a new process: no failure planted, nothing recorded, alive.
    FakeHost NextRun() const;
    void Fail(Op op, HostError error = DefaultError()) { FailNth(op, 1, std::move(error)); }
    static HostError DefaultError() { return HostError{5, L"拒绝访问。\r\n", false}; }
    // The attributes MakeFileOrdinary hands back, numbered as Windows numbers them.
    static constexpr std::uint32_t kReadOnlyAttribute = 0x1;
    static constexpr std::uint32_t kHiddenAttribute = 0x2;

    // --- What the run did ---
    std::vector<std::wstring> calls;
    std::vector<Op> ops; // every call that can fail, in order: what a fault is injected into
    std::set<std::pair<Op, int>> failed;     // the forced failures the run really met
    std::vector<std::wstring> shownMessages; // every box, in order, as "Kind: text"
    std::vector<std::wstring> logLines;
    const ExcelApplication* handedOut = nullptr;
    bool successWindowShown = false;

    bool HasSection(const std::wstring& application, const std::wstring& section) const;
    // Whether the run asked, boxed or opened a window: what a quiet run never does.
    bool ShowedAnything() const;
    std::wstring Setting(const std::wstring& application, const std::wstring& section,
                         const std::wstring& key) const;

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

private:
    std::optional<HostError> Forced(Op op);
    bool BreaksOff(Op op) const;
    bool HappensAnyway(Op op) const;
    void WriteUnflushed(const std::wstring& path, std::string bytes);
    void Flush(const std::wstring& path);
    std::map<std::wstring, std::string> DiskView() const;

    bool dead_ = false;
    // Since the run's first call: what a power cut would leave of the files and the record.
    bool durableTaken_ = false;
    std::map<std::wstring, std::string> durableFiles_;
    std::map<std::wstring, std::map<std::wstring, std::wstring>> durableSettings_;
    std::set<std::wstring> unflushed_; // files whose bytes are still only in the cache
    bool InUse(const std::wstring& path) const;
    std::map<Op, int> callCounts_;
};

} // namespace qx::testing
