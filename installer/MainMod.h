#pragma once

#include "host/HostServices.h"
#include "installer/AddinReplacement.h"
#include "installer/CommandLine.h"
#include "installer/ExcelChecks.h"
#include "installer/ExcelInUse.h"
#include "installer/InstallState.h"
#include "installer/RunReport.h"
#include "installer/StepLog.h"

#include <string>

namespace qx {

// How a run goes: the toggle, or one of the administrator's modes.
struct RunOptions {
    RunMode mode = RunMode::Toggle;
    bool quiet = false; // nothing shown: no question, no box, no window
};

// The start procedure: installs the add-in, or offers to remove it when it is installed; for
// an administrator's command line, installs, updates, removes or reports without asking.
class MainMod {
public:
    explicit MainMod(HostServices& host, RunOptions options = {});

    void Main();
    // Writes the exit code as the log's last line and hands it back: called once, as the
    // program ends, after the success window has closed.
    int Finish() { return report_.Finish(); }

    const InstallState& state() const { return state_; }
    int ExitCode() const { return report_.ExitCode(); }

private:
    enum class AddinLook { Installed, NotInstalled, CannotTell };

    bool RunsUnderAnotherAccount();
    bool FoundExcel();
    AddinLook LookForInstalledAddin();
    void Uninstall(AddinReplacement& replacement);
    void Remove(AddinReplacement& replacement);
    void NothingToRemove();
    bool ProgramFolderCanInstall();
    void Install(AddinReplacement& replacement);
    void Update(AddinReplacement& replacement);
    bool KeptEarlier(AddinReplacement& replacement, bool installed);
    void InstallOver(AddinReplacement& replacement);
    void RollBack(AddinReplacement& replacement, const HostError& cause);
    void FailLettingGo(std::wstring (*message)(const std::wstring&), const HostError& error);
    void LoadIntoOpenExcel(bool update, const NextStart& next);
    void ReportStatus(AddinLook look);

    HostServices& host_;
    const RunOptions options_;
    InstallState state_;
    StepLog log_;
    RunReport report_;
    ExcelInUse excel_;
};

} // namespace qx
