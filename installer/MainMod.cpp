#include "installer/MainMod.h"

#include "installer/ExcelChecks.h"
#include "installer/Messages.h"
#include "installer/Paths.h"
#include "installer/SettingsRecord.h"
#include "installer/Text.h"

#include <utility>

namespace qx {

template <typename T> Outcome<T> MainMod::Logged(Pieces step, Outcome<T> outcome) {
    LogStep(step, outcome ? nullptr : &outcome.error());
    return outcome;
}

// Out of the template: the shipped build's compiler (mingw-w64 gcc 12, link-time optimisation at
// -Os) stopped with an internal compiler error when the line was built inside it.
void MainMod::LogStep(Pieces step, const HostError* failure) {
    std::wstring line = Joined(step);
    if (failure) {
        Append(line, {": ", FailureText(*failure)});
    } else {
        Append(line, {": done"});
    }
    host_.Log(line);
}

void MainMod::Log(Pieces line) {
    host_.Log(Joined(line));
}

template <typename T> Outcome<T> MainMod::Kept(Pieces step, Outcome<T> outcome, bool logAbsent) {
    if (!logAbsent && !outcome && outcome.error().notFound) {
        return outcome;
    }
    return Logged(step, std::move(outcome));
}

Status MainMod::LoggedAllowingAbsent(Pieces step, Status outcome, const char* absent) {
    if (!outcome && outcome.error().notFound) {
        std::wstring line = Joined(step);
        Append(line, {": ", absent});
        host_.Log(line);
        return outcome;
    }
    return Logged(step, std::move(outcome));
}

// The run: check whose desktop it is, find Excel and its start-up folder, look there for the
// add-in, then install, update, remove or report as the mode says. Every step below says where
// the run goes when it fails; none goes on past a failure that would leave half a change.
void MainMod::Main() {
    // Under another account the add-in and its record would land in that account's profile,
    // where the desktop's user never sees them.
    if (RunsUnderAnotherAccount()) {
        Fail(kWrongAccount);
        return;
    }

    // Without Excel's folder there is nowhere sound to look or to install: a bare
    // "\QxButton.xla" would land on the root of whatever drive is current.
    switch (FindExcel()) {
    case ExcelAsked::Answered:
        break;
    case ExcelAsked::CannotBeAsked:
        Fail(kStartupFolderUnknown);
        return;
    case ExcelAsked::DidNotAnswer:
        Fail(ExcelDidNotAnswerMessage());
        return;
    }

    // Whatever this run is asked to do, it starts from a place a killed run may have left; a
    // status query only tells of it.
    if (options_.mode == RunMode::StatusQuery) {
        ReportStagingLeftBehind();
    } else {
        RemoveStagingLeftBehind();
    }

    // A look that fails counts as "installed": the user is asked rather than overwritten.
    const AddinLook look = LookForInstalledAddin();
    const bool installed = look != AddinLook::NotInstalled;
    switch (options_.mode) {
    case RunMode::Toggle:
        if (installed) {
            Uninstall();
        } else {
            Install();
        }
        return;
    case RunMode::Install:
        if (installed) {
            Update();
        } else {
            Install();
        }
        return;
    case RunMode::Uninstall:
        if (installed) {
            Remove();
        } else {
            NothingToRemove();
        }
        return;
    case RunMode::StatusQuery:
        if (look != AddinLook::CannotTell) {
            LookAtExcelsSettings(true);
        }
        ReportStatus(look);
        return;
    case RunMode::Help: // shown by the program's entry; not a run
        return;
    }
}

int MainMod::Finish() {
    host_.Log(ExitCodeLine(exitCode_));
    return exitCode_;
}

// When the host cannot tell (no shell yet, as in a logon script), the run goes on: the user
// running it is the one logging on.
bool MainMod::RunsUnderAnotherAccount() {
    const auto desktopUser = host_.RunsAsDesktopUser();
    if (!desktopUser) {
        Log({"Check the account: cannot tell (", ErrorText(desktopUser.error()), "), so going on"});
        return false;
    }
    Log({"Check the account: ",
         desktopUser.value() ? "the desktop's own user" : "not the desktop's user"});
    return !desktopUser.value();
}

// The Excel the user has open is asked first: it knows the folder, and creating Excel's object
// while it runs would start a second, hidden Excel only to ask the same thing. Only when it
// cannot be reached or does not answer is Excel started for the run, as when none is open.
MainMod::ExcelAsked MainMod::FindExcel() {
    bool usersExcelOpen = host_.ExcelWindowOpen();
    Log({"Look for Excel's window on the desktop: ", usersExcelOpen ? "open" : "none"});

    if (ReachUsersExcel(usersExcelOpen)) {
        state_.excelUsed = ExcelUsed::Users;
    } else if (const ExcelAsked started = StartExcel(); started != ExcelAsked::Answered) {
        return started;
    } else {
        state_.excelUsed = usersExcelOpen ? ExcelUsed::StartedBesideUsers : ExcelUsed::Started;
    }
    Log({"Excel's start-up folder: ", state_.startupFolder});
    switch (state_.excelUsed) {
    case ExcelUsed::Users:
        Log({"Excel used: the user's, already open"});
        break;
    case ExcelUsed::StartedBesideUsers:
        Log({"Excel used: one started for this run; the user's is open but could not be "
             "reached"});
        break;
    case ExcelUsed::Started:
    case ExcelUsed::None:
        Log({"Excel used: one started for this run"});
        break;
    }
    return ExcelAsked::Answered;
}

bool MainMod::ReachUsersExcel(bool& usersExcelOpen) {
    auto running = host_.AttachToRunningExcel();
    if (!running) {
        if (running.error().notFound) {
            Log({"Reach the Excel the user has open: none running"});
        } else {
            Log({"Reach the Excel the user has open: ", FailureText(running.error())});
        }
        return false;
    }
    Log({"Reach the Excel the user has open: done"});
    usersExcelOpen = true;
    // A busy Excel (a dialog open, a cell being edited) fails this after a while.
    const auto folder = Logged({"Ask the user's Excel for its start-up folder"},
                               host_.ReadStartupPath(running.value()));
    if (!folder || folder.value().empty()) {
        return false;
    }
    state_.excel = std::move(running.value());
    state_.startupFolder = folder.value();
    return true;
}

// An Excel that shows an invisible first-run or sign-in dialog never answers; the run gives up
// on it rather than hang the logon script or deployment tool that waits for the program.
MainMod::ExcelAsked MainMod::StartExcel() {
    auto excel = Logged({"Start Excel"}, host_.AcquireExcelApplication());
    if (excel) {
        state_.excel = std::move(excel.value());
    }
    const auto folder =
        excel ? Logged({"Ask Excel for its start-up folder"}, host_.ReadStartupPath(state_.excel))
              : Outcome<std::wstring>(excel.error());
    if (folder && !folder.value().empty()) {
        state_.startupFolder = folder.value();
        return ExcelAsked::Answered;
    }
    if (!folder && folder.error().timedOut) {
        Log({"Excel did not answer within ", Decimal(kExcelAnswerLimitSeconds),
             " seconds; the Excel started for this run may still be running"});
        return ExcelAsked::DidNotAnswer;
    }
    return ExcelAsked::CannotBeAsked;
}

// Nothing the user needs is ever in the staging file, whatever attributes it was left with.
void MainMod::RemoveStagingLeftBehind() {
    const auto made = host_.MakeFileOrdinary(StagingPath());
    if (!made && made.error().notFound) {
        return; // the usual case: the last run finished
    }
    if (!made) {
        Log({"Clear the attributes of ", StagingPath(), ": ", FailureText(made.error())});
    }
    Logged({"Delete ", StagingPath(), ", left by a run that did not finish"},
           host_.DeleteFile(StagingPath()));
}

void MainMod::ReportStagingLeftBehind() {
    const auto there = host_.FileExists(StagingPath());
    if (!there) {
        Log({"Look for ", StagingPath(), ": ", FailureText(there.error())});
    } else if (there.value()) {
        Log({"Found ", StagingPath(),
             ", left by a run that did not finish: the next install or "
             "removal deletes it"});
    }
}

MainMod::AddinLook MainMod::LookForInstalledAddin() {
    const auto found = host_.FindFile(InstalledAddinPath());
    if (!found) {
        Log({"Look for ", InstalledAddinPath(), ": ", FailureText(found.error()),
             options_.mode == RunMode::StatusQuery ? ", so cannot tell"
                                                   : ", so taken as installed"});
        return AddinLook::CannotTell;
    }
    const bool installed = !found.value().empty();
    Log({"Look for ", InstalledAddinPath(), ": ", installed ? "installed" : "not installed"});
    return installed ? AddinLook::Installed : AddinLook::NotInstalled;
}

void MainMod::Uninstall() {
    // A question that could not be asked was not answered Yes: nothing changes.
    const auto answer = Logged({"Ask whether to uninstall"}, host_.AskYesNo(kUninstallQuestion));
    if (!answer) {
        Fail(QuestionFailedMessage(answer.error().description));
        return;
    }
    // Only Yes removes anything.
    if (answer.value() != kAnswerYes) {
        Log({"The user answered No: nothing changed"});
        exitCode_ = kExitDeclined;
        return;
    }
    Remove();
}

void MainMod::Remove() {
    const auto closedInExcel = LetGoInUsersExcel();
    if (!closedInExcel && closedInExcel.error().timedOut) {
        FailGivenUpOnExcel(RemovalFailedMessage(ExcelDidNotAnswerReason()));
        return;
    }
    if (!closedInExcel) {
        Fail(RemovalFailedMessage(closedInExcel.error().description));
        return;
    }

    // The add-in goes before the record: should that fail, the record stays for the add-in
    // that stays, and so does the add-in in the user's Excel.
    const auto taken = TakeAddinOut({"Move ", InstalledAddinPath(), " out to ", StagingPath()});
    if (!taken && !taken.error().notFound) {
        Leftovers left;
        if (closedInExcel.value()) {
            OpenAgainInUsersExcel({"Open the add-in again in the user's Excel"}, left);
        }
        // Closing Excel would not help with a read-only file.
        FailLeaving(taken.error().readOnly ? std::wstring(kInstalledAddinReadOnly)
                                           : RemovalFailedMessage(taken.error().description),
                    left);
        return;
    }

    // An absent section is already the wanted end; any other failure leaves only an unread
    // record behind, since the add-in that reads it is gone.
    LoggedAllowingAbsent({"Delete the settings record"}, DeleteSettingsRecord(host_));

    // Then leave: the uninstall path never runs on into the install path.
    SucceedWithNotice(kRemovalNotice);
}

// A record without its add-in is only a leftover; taking it away makes a second /uninstall
// find exactly what the first left.
void MainMod::NothingToRemove() {
    LoggedAllowingAbsent({"Delete the settings record"}, DeleteSettingsRecord(host_));
    SucceedWithNotice(kNothingToRemove);
}

// Opened from Explorer's view of a zip, the program runs alone from a temporary folder: the
// user is told what to do before anything changes, rather than given a copy error, or a record
// that points into a folder Windows will empty.
bool MainMod::ProgramFolderCanInstall() {
    const auto folder = Logged({"Find the program's folder"}, host_.ApplicationFolder());
    if (!folder) {
        Fail(InstallFailedMessage(folder.error().description));
        return false;
    }
    state_.programFolder = folder.value();
    const std::wstring source = JoinPath(state_.programFolder, kAddinSourceName);
    const auto present = host_.FileExists(source);
    if (present) {
        Log({"Look for ", source, ": ", present.value() ? "there" : "missing"});
    } else {
        Log({"Look for ", source, ": ", FailureText(present.error())});
    }
    if (present && !present.value()) {
        Fail(kAddinSourceMissing);
        return false;
    }
    // When Windows cannot say, the run goes on: the copy fails with its own words should the
    // folder be gone.
    const auto temporary = host_.IsInTemporaryFolder(state_.programFolder);
    if (!temporary) {
        Log({"Compare the program's folder with the temporary folder: ",
             FailureText(temporary.error())});
    } else if (temporary.value()) {
        Log({"The program's folder is inside the temporary folder: ", state_.programFolder});
        Fail(kRunsFromTemporaryFolder);
        return false;
    }
    return true;
}

void MainMod::Install() {
    if (!ProgramFolderCanInstall()) {
        return;
    }
    EarlierInstall earlier;
    if (KeepEarlier(earlier, false)) {
        InstallOver(earlier);
    }
}

// The add-in is replaced by the program's own and the record rewritten; should any of it fail,
// the earlier add-in and record are put back, not taken away.
void MainMod::Update() {
    if (!ProgramFolderCanInstall()) {
        return;
    }
    EarlierInstall earlier;
    if (!KeepEarlier(earlier, true)) {
        return;
    }
    const auto closedInExcel = LetGoInUsersExcel();
    if (!closedInExcel && closedInExcel.error().timedOut) {
        FailGivenUpOnExcel(InstallFailedMessage(ExcelDidNotAnswerReason()));
        return;
    }
    if (!closedInExcel) {
        Fail(InstallFailedMessage(closedInExcel.error().description));
        return;
    }
    earlier.openInUsersExcel = closedInExcel.value();
    InstallOver(earlier);
}

// What the install replaces is kept before anything changes, so that a failure can put it back.
// A fresh install may find a record without its add-in, or a hidden add-in left behind. An
// update logs each thing it keeps; a fresh install only what it finds or cannot read, since on a
// fresh profile nothing is there.
bool MainMod::KeepEarlier(EarlierInstall& earlier, bool installed) {
    auto addin = Kept(
        {installed ? "Keep a copy of the installed add-in" : "Keep a copy of the file already at ",
         installed ? L"" : InstalledAddinPath()},
        host_.ReadFileBytes(InstalledAddinPath()), installed);
    if (addin) {
        earlier.addin = std::move(addin.value());
    } else if (!addin.error().notFound) {
        Fail(InstallFailedMessage(addin.error().description));
        return false;
    }
    // An add-in taken as installed that is not there after all is installed afresh.
    earlier.update = installed && earlier.addin;
    for (auto [key, value] : {std::pair{kPathKey, &earlier.path}, {kUnitKey, &earlier.unit}}) {
        const auto kept = Kept({"Keep the record's ", key}, ReadRecordValue(host_, key), installed);
        if (kept) {
            *value = kept.value();
        } else if (!kept.error().notFound) {
            Fail(InstallFailedMessage(kept.error().description));
            return false;
        }
    }
    return true;
}

// The new add-in is written beside the start-up folder, the record is written, both reach the
// disk, and only then does one rename put the add-in in place: however the run ends (a failure,
// a kill, the power), the start-up folder holds the earlier add-in or the new one, never a part,
// and never one without its record.
void MainMod::InstallOver(EarlierInstall& earlier) {
    if (const auto created = CreateStartupFolder(); !created) {
        RollBackInstall(earlier, created.error());
        return;
    }
    // First, so that a source that cannot be read, or a full disk, changes nothing the add-in
    // or the workbook would see.
    if (const auto staged = StageAddin(earlier); !staged) {
        RollBackInstall(earlier, staged.error());
        return;
    }
    if (const auto recorded = WriteRecord(earlier); !recorded) {
        RollBackInstall(earlier, recorded.error());
        return;
    }
    if (const auto replaced = ReplaceAddin(earlier); !replaced) {
        RollBackInstall(earlier, replaced.error());
        return;
    }
    if (const auto stayed = CheckAddinStayed(earlier); !stayed) {
        RollBackInstall(earlier, stayed.error());
        return;
    }

    // The install is complete; what follows only makes sure Excel will load it, and tells the
    // user: it cannot undo the install.
    const NextStart next = LookAtExcelsSettings(false);
    LoadIntoOpenExcel(earlier, next);
    SucceedTelling(next);
}

// Excel reports its start-up folder even where a fresh or reset profile has none yet.
Status MainMod::CreateStartupFolder() {
    return Logged({"Create ", state_.startupFolder, " if missing"},
                  host_.CreateFolder(state_.startupFolder));
}

// The record's Path, then its Unit, then both to disk.
Status MainMod::WriteRecord(EarlierInstall& earlier) {
    if (const auto path =
            Logged({"Record Path = ", WorkbookPath()}, WriteWorkbookPath(host_, WorkbookPath()));
        !path) {
        return path;
    }
    earlier.progress = Progress::PathWritten;
    if (const auto unit = Logged({"Record Unit = ", kUnitValue}, WriteUnit(host_)); !unit) {
        return unit;
    }
    earlier.progress = Progress::RecordWritten;
    return Logged({"Write the record to disk"}, FlushSettingsRecord(host_));
}

// Beside the start-up folder, not in it: Excel opens every file there when it starts.
Status MainMod::StageAddin(EarlierInstall& earlier) {
    // From here a file may be at the staging place, even one that broke off half-way.
    earlier.progress = Progress::Staging;
    auto copied = Logged({"Copy ", SourcePath(), " to ", StagingPath()},
                         host_.CopyFile(SourcePath(), StagingPath()));
    if (!copied) {
        HostError error = copied.error();
        if (error.sourceChanged) {
            error.description = SourceChangedReason(SourcePath(), error.description);
        }
        return error;
    }
    earlier.staged = std::move(copied.value());
    return Completed();
}

Status MainMod::ReplaceAddin(EarlierInstall& earlier) {
    // Windows refuses to replace a hidden or read-only file, and a leftover may be either.
    // Should the attributes stay, the rename's own failure says why.
    if (const auto made = host_.MakeFileOrdinary(InstalledAddinPath()); made) {
        earlier.clearedAttributes = made.value();
    } else if (!made.error().notFound) {
        Log({"Clear the attributes of ", InstalledAddinPath(), ": ", FailureText(made.error())});
    }
    const auto moved = MoveDurably({"Move ", StagingPath(), " to ", InstalledAddinPath()},
                                   StagingPath(), InstalledAddinPath());
    if (moved) {
        earlier.progress = Progress::Replaced;
        return moved;
    }
    if (!moved.error().notFound) {
        return moved;
    }
    // The copy was complete a moment ago.
    HostError vanished = moved.error();
    vanished.description = AddinTakenAwayReason(state_.startupFolder);
    return vanished;
}

// A security program may quarantine or rewrite a new file moments after it appears; the success
// the run is about to claim must still be true then. The add-in is compared with what this run
// wrote, never with its source again: a source on a share that dropped, or that someone changed
// since, says nothing of what a security program did.
Status MainMod::CheckAddinStayed(const EarlierInstall& earlier) {
    const auto same = host_.SameBytesAfterScan(InstalledAddinPath(), earlier.staged);
    const std::wstring step = Joined({"Compare ", InstalledAddinPath(),
                                      " with what was staged, after a security program's look"});
    if (same) {
        Log({step, ": ", same.value() ? "the same" : "different"});
    } else {
        Log({step, ": ", FailureText(same.error())});
    }
    if (same && same.value()) {
        return Completed();
    }
    HostError error = same ? HostError{} : same.error();
    if (same || error.notFound || error.quarantined) {
        error.description = AddinTakenAwayReason(state_.startupFolder);
    }
    return error;
}

// Excel's version names where its settings are. Without it nothing is checked: a guessed
// version would read another Excel's settings and tell the user something untrue.
MainMod::NextStart MainMod::LookAtExcelsSettings(bool onlyLook) {
    NextStart next;
    const auto answered =
        Logged({"Ask Excel for its version"}, host_.ReadExcelVersion(state_.excel));
    const auto version = answered ? UsableExcelVersion(answered.value()) : std::nullopt;
    if (!version) {
        Log({"Excel's version is not known", answered ? " (it answered \"" : "",
             answered ? answered.value() : L"", answered ? "\")" : "",
             ": its disabled items and trust settings are not checked"});
        return next;
    }
    Log({"Excel's version: ", *version});
    next.disabled = ClearDisabledItems(host_, *version, InstalledAddinPath(), onlyLook);
    next.macros = ReadTrust(host_, *version, state_.startupFolder).macros;
    return next;
}

// Excel opens start-up add-ins only when it starts, so an Excel already open would not show
// the new menu item the success window points to. The user's Excel, when reached, opens the
// add-in now; otherwise the user is asked to restart Excel. An update whose add-in was not
// loaded there leaves it to Excel's next start, as before.
void MainMod::LoadIntoOpenExcel(const EarlierInstall& earlier, const NextStart& next) {
    // Opened by a program, Excel runs an add-in's macros whatever its security settings say: an
    // add-in they hold back is left to Excel's own start, and the user is told what Excel will
    // do there.
    if (next.NeverRuns()) {
        Log({"The add-in is not opened in Excel now: Excel's settings hold it back"});
        return;
    }
    const bool wanted =
        earlier.update ? earlier.openInUsersExcel : state_.excelUsed == ExcelUsed::Users;
    if (wanted && !next.Runs()) {
        AskToRestartExcel({"Excel's security settings leave the add-in to Excel's next start"});
        return;
    }
    if (wanted) {
        if (const auto opened =
                OpenInUsersExcel({"Open ", InstalledAddinPath(), " in the user's Excel"});
            !opened) {
            AskToRestartExcel(
                {"the user's Excel did not open the add-in (", ErrorText(opened.error()), ")"});
        }
        return;
    }
    if (!earlier.update && state_.excelUsed == ExcelUsed::StartedBesideUsers) {
        AskToRestartExcel({"Excel is open but could not be reached"});
    }
}

Status MainMod::OpenInUsersExcel(Pieces step) {
    return Logged(step, host_.OpenAddin(state_.excel, InstalledAddinPath()));
}

// Excel keeps a loaded add-in open, and Windows neither deletes nor replaces an open file: the
// user's Excel lets go of it first. Should it not, nothing is changed. Hands back whether the
// add-in was open there.
Outcome<bool> MainMod::LetGoInUsersExcel() {
    if (state_.excelUsed != ExcelUsed::Users) {
        return false;
    }
    const auto closed = LoggedAllowingAbsent(
        {"Take ", InstalledAddinFileName(), " out of the user's Excel"},
        host_.CloseAddin(state_.excel, InstalledAddinFileName()), "not open there");
    if (!closed && !closed.error().notFound) {
        return closed.error();
    }
    return closed.succeeded();
}

// Renamed out of the start-up folder in one step rather than deleted, and the folder written
// to disk: the record that goes next must not reach the disk before the add-in's absence does.
Status MainMod::TakeAddinOut(Pieces step) {
    const auto moved = LoggedAllowingAbsent(
        step, host_.MoveFileReplacing(InstalledAddinPath(), StagingPath()), "nothing there");
    if (moved || moved.error().notFound) {
        // Gone by another hand (a security program) is maybe only in the cache too.
        FlushStartupFolder();
    }
    if (moved) {
        RemoveStaging();
    }
    return moved;
}

// A rename reaches the disk with the file system's journal, whenever Windows next writes it:
// Windows promises a written-through rename only for one it made by copying. So the start-up
// folder is written to disk after each, before the record or anything else moves.
Status MainMod::MoveDurably(Pieces step, const std::wstring& from, const std::wstring& to) {
    const auto moved = Logged(step, host_.MoveFileReplacing(from, to));
    if (moved) {
        FlushStartupFolder();
    }
    return moved;
}

// Should the folder not be written, the rename is still there, and Windows writes it within
// seconds: only the log needs to know.
void MainMod::FlushStartupFolder() {
    Logged({"Write ", state_.startupFolder, " to disk"}, host_.FlushFolder(state_.startupFolder));
}

// Outside the start-up folder a staging file harms nothing, and the next run removes it.
void MainMod::RemoveStaging() {
    LoggedAllowingAbsent({"Delete ", StagingPath()}, host_.DeleteFile(StagingPath()),
                         "nothing there");
}

// Undoes what the install changed, and no more: the add-in first, then the record's values this
// run wrote, each put back as it was or taken away where there was none. What cannot be undone
// is named in the log and the message.
void MainMod::RollBackInstall(EarlierInstall& earlier, const HostError& cause) {
    Leftovers left;
    if (earlier.progress == Progress::Replaced && !PutBackAddin(earlier)) {
        // The record is whole, as it was written before the add-in: the add-in that stays keeps
        // it, or it would load half-configured and the next run would offer to uninstall
        // something that never installed.
        Log({"Not undone: the add-in stayed in ", state_.startupFolder, " as this run left it"});
        left.addin = true;
        if (RecordChangedFor(earlier)) {
            Log({"Not undone: the record stayed as this run wrote it, for the add-in that stayed"});
            left.record = true;
        }
    } else {
        if (!PutBackAttributes(earlier)) {
            Log({"Not undone: the add-in stayed in ", state_.startupFolder,
                 " without the attributes it had"});
            left.addin = true;
        }
        if (!PutBackRecord(earlier)) {
            Log({"Not undone: the record's values stayed as this run wrote them"});
            left.record = true;
        }
    }
    if (earlier.progress >= Progress::Staging) {
        RemoveStaging();
    }
    if (earlier.openInUsersExcel) {
        OpenAgainInUsersExcel({"Open the earlier add-in again in the user's Excel"}, left);
    }
    FailLeaving(InstallFailedMessage(cause.description), left);
}

// Puts back what the rename replaced, by the same one-step rename.
bool MainMod::PutBackAddin(const EarlierInstall& earlier) {
    if (!earlier.addin) {
        // Nothing was there: the copied add-in goes.
        const auto taken = TakeAddinOut({"Take the copied add-in back out"});
        return taken || taken.error().notFound;
    }
    if (!Logged({"Write the earlier add-in to ", StagingPath()},
                host_.WriteFileBytes(StagingPath(), *earlier.addin))) {
        return false;
    }
    return MoveDurably({"Put the earlier add-in back"}, StagingPath(), InstalledAddinPath())
        .succeeded();
}

// Someone made the earlier file hidden or read-only; putting it back includes that.
bool MainMod::PutBackAttributes(const EarlierInstall& earlier) {
    if (!earlier.addin || earlier.clearedAttributes == 0) {
        return true;
    }
    const auto restored =
        Logged({"Give ", InstalledAddinPath(), " back the attributes it had"},
               host_.RestoreFileAttributes(InstalledAddinPath(), earlier.clearedAttributes));
    return restored.succeeded();
}

// Each value this run changed, as it was; then to disk, as the install's own values went.
bool MainMod::PutBackRecord(const EarlierInstall& earlier) {
    if (earlier.progress < Progress::PathWritten) {
        return true;
    }
    bool asItWas = earlier.path == WorkbookPath() || PutBackSetting(kPathKey, earlier.path);
    if (earlier.progress >= Progress::RecordWritten && earlier.unit != std::wstring(kUnitValue)) {
        asItWas = PutBackSetting(kUnitKey, earlier.unit) && asItWas;
    }
    // Not reaching the disk changes nothing the user sees now; only the log needs to know.
    Logged({"Write the record to disk"}, FlushSettingsRecord(host_));
    return asItWas;
}

bool MainMod::RecordChangedFor(const EarlierInstall& earlier) const {
    return earlier.path != WorkbookPath() || earlier.unit != std::wstring(kUnitValue);
}

// An Excel that did not answer in time may still open the add-in once it gets to the call.
void MainMod::OpenAgainInUsersExcel(Pieces step, Leftovers& left) {
    const auto opened = OpenInUsersExcel(step);
    if (opened) {
        return;
    }
    if (opened.error().timedOut) {
        Log({"Not undone: the add-in may be closed in the user's Excel, which did not answer in "
             "time"});
        left.mayBeClosedInExcel = true;
        return;
    }
    Log({"Not undone: the add-in stayed closed in the user's Excel"});
    left.closedInExcel = true;
}

// Taking the add-in out of Excel runs its auto-close macro, which may show a box of its own; the
// run stops waiting, but Excel closes the add-in once the box goes. Nothing else changed, but
// the user must not be told that nothing did.
void MainMod::FailGivenUpOnExcel(const std::wstring& message) {
    Log({"Not undone: the add-in may be closed in the user's Excel, which did not answer in time"});
    Leftovers left;
    left.mayBeClosedInExcel = true;
    FailLeaving(message, left);
}

bool MainMod::PutBackSetting(const wchar_t* key, const std::optional<std::wstring>& value) {
    if (value) {
        const auto written =
            Logged({"Put back the record's ", key}, WriteRecordValue(host_, key, *value));
        return written.succeeded();
    }
    const auto removed = LoggedAllowingAbsent(
        {"Remove the record's ", key, ", which it did not have"}, DeleteRecordValue(host_, key));
    return removed || removed.error().notFound;
}

void MainMod::ReportStatus(AddinLook look) {
    switch (look) {
    case AddinLook::Installed:
        Log({"Status: installed"});
        exitCode_ = kExitDone;
        return;
    case AddinLook::NotInstalled:
        Log({"Status: not installed"});
        exitCode_ = kExitNotInstalled;
        return;
    case AddinLook::CannotTell:
        Log({"Status: cannot tell"}); // a failure
        return;
    }
}

void MainMod::SucceedWithNotice(const wchar_t* notice) {
    exitCode_ = kExitDone;
    Tell(notice, false);
}

// The success window promises the add-in's menu item at Excel's next start; where Excel's
// settings hold the add-in back, the user first learns what Excel will do, and where it will
// never run, the window is not shown at all. The install stands either way.
void MainMod::SucceedTelling(const NextStart& next) {
    const std::wstring& folder = state_.startupFolder;
    if (next.disabled) {
        exitCode_ = kExitDone;
        Tell(kAddinStaysDisabled, true);
        return;
    }
    switch (next.macros) {
    case AtNextStart::NeverRun:
        exitCode_ = kExitDone;
        Tell(MacrosNeverRunMessage(folder), true);
        return;
    case AtNextStart::RunIfSigned:
        Tell(MacrosRunIfSignedMessage(folder), false);
        break;
    case AtNextStart::RunOnceEnabled:
        Tell(MacrosRunOnceEnabledMessage(folder), false);
        break;
    case AtNextStart::Run:
        break;
    }
    SucceedWithWindow();
}

void MainMod::Tell(const std::wstring& notice, bool warning) {
    if (ShowsNothing()) {
        return;
    }
    Log({"Show: ", notice});
    LogIfNotShown(warning ? host_.Warn(notice) : host_.Inform(notice));
}

void MainMod::SucceedWithWindow() {
    exitCode_ = kExitDone;
    if (!ShowsNothing()) {
        Log({"Show the success window"});
        LogIfNotShown(host_.ShowSuccessWindow());
    }
}

// Comes before the success window, which then tells no more than is true once Excel restarts.
void MainMod::AskToRestartExcel(Pieces reason) {
    std::wstring line = Joined({"Excel must be restarted to load the add-in: "});
    Append(line, reason);
    host_.Log(line);
    Tell(kRestartExcel, false);
}

void MainMod::Fail(const std::wstring& message) {
    Log({"Failed: ", message});
    if (!ShowsNothing()) {
        LogIfNotShown(host_.Warn(message));
    }
}

// A failure a second one kept from being undone in full says what it left.
void MainMod::FailLeaving(const std::wstring& message, const Leftovers& left) {
    Fail(WithLeftovers(message, left, state_.startupFolder));
}

// What was not shown changes nothing the run did, but whoever reads the log must know the user
// did not see it.
void MainMod::LogIfNotShown(const Status& shown) {
    if (!shown) {
        Log({"Show it: ", FailureText(shown.error())});
    }
}

// A status query is for scripts: it never shows anything either.
bool MainMod::ShowsNothing() const {
    return options_.quiet || options_.mode == RunMode::StatusQuery;
}

std::wstring MainMod::InstalledAddinPath() const {
    return JoinPath(state_.startupFolder, kInstalledAddinName);
}

std::wstring MainMod::SourcePath() const {
    return JoinPath(state_.programFolder, kAddinSourceName);
}

std::wstring MainMod::StagingPath() const {
    return JoinPath(ParentFolder(state_.startupFolder), kStagingName);
}

std::wstring MainMod::WorkbookPath() const {
    return JoinPath(state_.programFolder, kWorkbookName);
}

} // namespace qx
