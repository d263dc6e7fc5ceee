#pragma once

#include "host/HostServices.h"
#include "installer/CommandLine.h"
#include "installer/ExcelTrust.h"
#include "installer/ExitCodes.h"
#include "installer/Text.h"

#include <optional>
#include <string>

namespace qx {

struct Leftovers;

// Which Excel gave the start-up folder.
enum class ExcelUsed {
    None,
    Users,              // the one the user has open
    StartedBesideUsers, // one started for the run: the user's is open but could not be reached
    Started,            // one started for the run: none was open
};

// Kept from the moment each is set until the program ends. Excel is never told to quit:
// the handle only goes away with the program.
struct InstallState {
    ExcelApplicationHandle excel;
    std::wstring startupFolder;
    ExcelUsed excelUsed = ExcelUsed::None;
    // Looked up once, by a run that installs.
    std::wstring programFolder;
};

// How a run goes: the toggle, or one of the administrator's modes.
struct RunOptions {
    RunMode mode = RunMode::Toggle;
    bool quiet = false; // nothing shown: no question, no box, no window
};

// The start procedure: installs the add-in, or offers to remove it when it is installed; for
// an administrator's command line, installs, updates, removes or reports without asking.
class MainMod {
public:
    explicit MainMod(HostServices& host, RunOptions options = {})
        : host_(host), options_(options) {}

    void Main();
    // Writes the exit code as the log's last line and hands it back: called once, as the
    // program ends, after the success window has closed.
    int Finish();

    const InstallState& state() const { return state_; }
    int ExitCode() const { return exitCode_; }

private:
    // How far an install got, in the order it goes: what a failure has to undo.
    enum class Progress {
        Nothing,
        Staging, // the new add-in is being written beside the start-up folder
        PathWritten,
        RecordWritten, // both values, flushed to disk
        Replaced,      // renamed over the add-in's place: the install's one commit
    };
    // What an install replaces, kept so that a failed one can put it back, and how far it got.
    struct EarlierInstall {
        std::optional<std::string> addin; // none: nothing was at the add-in's place
        std::optional<std::wstring> path;
        std::optional<std::wstring> unit;
        bool update = false; // an installed add-in is replaced
        bool openInUsersExcel = false;
        std::uint32_t clearedAttributes = 0; // what the rename needed taken off a leftover
        FileDigest staged;                   // the bytes the new add-in was written with
        Progress progress = Progress::Nothing;
    };
    enum class ExcelAsked { Answered, CannotBeAsked, DidNotAnswer };
    enum class AddinLook { Installed, NotInstalled, CannotTell };
    // What Excel will do with the add-in when it next starts, as far as its settings tell.
    struct NextStart {
        bool disabled = false; // in Excel's list of disabled items, and it stays there
        AtNextStart macros = AtNextStart::Run;
        bool Runs() const { return !disabled && macros == AtNextStart::Run; }
        bool NeverRuns() const { return disabled || macros == AtNextStart::NeverRun; }
    };

    bool RunsUnderAnotherAccount();
    ExcelAsked FindExcel();
    bool ReachUsersExcel(bool& usersExcelOpen);
    ExcelAsked StartExcel();
    void RemoveStagingLeftBehind();
    void ReportStagingLeftBehind();
    AddinLook LookForInstalledAddin();
    void Uninstall();
    void Remove();
    void NothingToRemove();
    bool ProgramFolderCanInstall();
    void Install();
    void Update();
    bool KeepEarlier(EarlierInstall& earlier, bool installed);
    void InstallOver(EarlierInstall& earlier);
    Status CreateStartupFolder();
    Status WriteRecord(EarlierInstall& earlier);
    Status StageAddin(EarlierInstall& earlier);
    Status ReplaceAddin(EarlierInstall& earlier);
    Status CheckAddinStayed(const EarlierInstall& earlier);
    NextStart LookAtExcelsSettings(bool onlyLook);
    void LoadIntoOpenExcel(const EarlierInstall& earlier, const NextStart& next);
    Status OpenInUsersExcel(Pieces step);
    Outcome<bool> LetGoInUsersExcel();
    Status TakeAddinOut(Pieces step);
    Status MoveDurably(Pieces step, const std::wstring& from, const std::wstring& to);
    void FlushStartupFolder();
    void RemoveStaging();
    void RollBackInstall(EarlierInstall& earlier, const HostError& cause);
    bool PutBackAddin(const EarlierInstall& earlier);
    bool PutBackAttributes(const EarlierInstall& earlier);
    bool PutBackRecord(const EarlierInstall& earlier);
    bool RecordChangedFor(const EarlierInstall& earlier) const;
    void OpenAgainInUsersExcel(Pieces step, Leftovers& left);
    void FailGivenUpOnExcel(const std::wstring& message);
    bool PutBackSetting(const wchar_t* key, const std::optional<std::wstring>& value);
    void ReportStatus(AddinLook look);
    std::wstring InstalledAddinPath() const;
    std::wstring SourcePath() const;
    std::wstring StagingPath() const;
    std::wstring WorkbookPath() const;

    // What the user is shown, unless the run is quiet; everything shown is logged too.
    void SucceedWithNotice(const wchar_t* notice);
    void SucceedWithWindow();
    void SucceedTelling(const NextStart& next);
    void Tell(const std::wstring& notice, bool warning);
    void AskToRestartExcel(Pieces reason);
    void Fail(const std::wstring& message);
    void FailLeaving(const std::wstring& message, const Leftovers& left);
    void LogIfNotShown(const Status& shown);
    bool ShowsNothing() const;

    // Logs the step and how it ended, and hands the outcome on.
    template <typename T> Outcome<T> Logged(Pieces step, Outcome<T> outcome);
    void LogStep(Pieces step, const HostError* failure);
    void Log(Pieces line);
    // For what an install keeps: an absence is logged only when `logAbsent`.
    template <typename T> Outcome<T> Kept(Pieces step, Outcome<T> outcome, bool logAbsent);
    // For a step whose "not found" is a fine end (a removal, a close), logged as `absent`.
    Status LoggedAllowingAbsent(Pieces step, Status outcome, const char* absent = "not there");

    HostServices& host_;
    const RunOptions options_;
    InstallState state_;
    // A failure until the run reaches the end state it was asked for: a path that forgets to
    // say how it ended cannot report success.
    int exitCode_ = kExitFailed;
};

} // namespace qx
