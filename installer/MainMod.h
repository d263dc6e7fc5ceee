#pragma once

#include "host/HostServices.h"
#include "installer/CommandLine.h"
#include "installer/ExitCodes.h"

#include <optional>
#include <string>

namespace qx {

struct Leftovers;

// Kept from the moment each is set until the program ends. Excel is never told to quit:
// the handle only goes away with the program.
struct InstallState {
    ExcelApplicationHandle excel;
    std::wstring startupFolder;
    // The Excel asked is the one the user has open, not a hidden one started for this run.
    bool excelIsUsers = false;
    // Excel is open on the desktop, whether or not it could be reached.
    bool excelOpen = false;
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
    // What an install replaces, kept so that a failed one can put it back, and how far it got,
    // so that putting back undoes what it changed and no more.
    struct EarlierInstall {
        std::optional<std::string> addin; // none: nothing was at the add-in's place
        std::optional<std::wstring> path;
        std::optional<std::wstring> unit;
        bool update = false; // an installed add-in is replaced
        bool openInUsersExcel = false;
        bool addinTouched = false;
        std::uint32_t clearedAttributes = 0; // what the copy needed taken off a leftover
        bool pathWritten = false;
    };

    bool RunsUnderAnotherAccount();
    void FindExcel();
    bool ReachUsersExcel();
    void StartExcel();
    void Uninstall();
    void Remove();
    void NothingToRemove();
    bool ProgramFolderCanInstall();
    void Install();
    void Update();
    bool KeepEarlier(EarlierInstall& earlier, bool installed);
    void InstallOver(EarlierInstall& earlier);
    Status CopyAddinIntoStartupFolder(EarlierInstall& earlier);
    Status RecordWorkbookPath();
    Status RecordUnit();
    void LoadIntoOpenExcel(const EarlierInstall& earlier);
    Status OpenInUsersExcel(const std::wstring& step);
    Outcome<bool> LetGoInUsersExcel();
    void RollBackInstall(EarlierInstall& earlier, const HostError& cause);
    bool PutBackAddin(const EarlierInstall& earlier);
    bool PutBackAttributes(const EarlierInstall& earlier);
    bool CompleteRecord(EarlierInstall& earlier);
    bool OpenAgainInUsersExcel(const std::wstring& step);
    bool PutBackSetting(const wchar_t* key, const std::optional<std::wstring>& value);
    void ReportStatus(const Outcome<std::wstring>& found);
    std::wstring InstalledAddinPath() const;

    // What the user is shown, unless the run is quiet; everything shown is logged too.
    void SucceedWithNotice(const wchar_t* notice);
    void SucceedWithWindow();
    void AskToRestartExcel(const std::wstring& reason);
    void Fail(const std::wstring& message);
    void FailLeaving(const std::wstring& message, const Leftovers& left);
    void LogIfNotShown(const Status& shown);
    bool ShowsNothing() const;

    // Logs the step and how it ended, and hands the outcome on.
    template <typename T> Outcome<T> Logged(const std::wstring& step, Outcome<T> outcome);
    void LogStep(const std::wstring& step, const HostError* failure);
    // For what an install keeps: an absence is logged only when `logAbsent`.
    template <typename T>
    Outcome<T> Kept(const std::wstring& step, Outcome<T> outcome, bool logAbsent);
    // For a step whose "not found" is a fine end (a removal, a close), logged as `absent`.
    Status LoggedAllowingAbsent(const std::wstring& step, Status outcome,
                                const wchar_t* absent = L"not there");

    HostServices& host_;
    const RunOptions options_;
    InstallState state_;
    // A failure until the run reaches the end state it was asked for: a path that forgets to
    // say how it ended cannot report success.
    int exitCode_ = kExitFailed;
};

} // namespace qx
