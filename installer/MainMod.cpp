#include "installer/MainMod.h"

#include "installer/Messages.h"
#include "installer/Paths.h"
#include "installer/SettingsRecord.h"

#include <utility>

namespace qx {

template <typename T> Outcome<T> MainMod::Logged(const std::wstring& step, Outcome<T> outcome) {
    LogStep(step, outcome ? nullptr : &outcome.error());
    return outcome;
}

// Out of the template: the shipped build's compiler (mingw-w64 gcc 12, link-time optimisation at
// -Os) stopped with an internal compiler error when the line was built inside it.
void MainMod::LogStep(const std::wstring& step, const HostError* failure) {
    host_.Log(step + L": " + (failure ? FailureText(*failure) : std::wstring(L"done")));
}

template <typename T>
Outcome<T> MainMod::Kept(const std::wstring& step, Outcome<T> outcome, bool logAbsent) {
    if (!logAbsent && !outcome && outcome.error().notFound) {
        return outcome;
    }
    return Logged(step, std::move(outcome));
}

Status MainMod::LoggedAllowingAbsent(const std::wstring& step, Status outcome,
                                     const wchar_t* absent) {
    if (!outcome && outcome.error().notFound) {
        host_.Log(step + L": " + absent);
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
    FindExcel();
    if (state_.startupFolder.empty()) {
        Fail(kStartupFolderUnknown);
        return;
    }

    // A failed test counts as "installed": the user is asked rather than overwritten.
    const auto found = host_.FindFile(InstalledAddinPath());
    const bool installed = !found.succeeded() || !found.value().empty();
    host_.Log(L"Look for " + InstalledAddinPath() + L": " +
              (!found      ? FailureText(found.error()) + L", so taken as installed"
               : installed ? L"installed"
                           : L"not installed"));

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
        ReportStatus(found);
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
        host_.Log(L"Check the account: cannot tell (" + ErrorText(desktopUser.error()) +
                  L"), so going on");
        return false;
    }
    host_.Log(desktopUser.value() ? L"Check the account: the desktop's own user"
                                  : L"Check the account: not the desktop's user");
    return !desktopUser.value();
}

// The Excel the user has open is asked first: it knows the folder, and creating Excel's object
// while it runs would start a second, hidden Excel only to ask the same thing. Only when it
// cannot be reached or does not answer is Excel started for the run, as when none is open.
void MainMod::FindExcel() {
    state_.excelOpen = host_.ExcelWindowOpen();
    host_.Log(std::wstring(L"Look for Excel's window on the desktop: ") +
              (state_.excelOpen ? L"open" : L"none"));

    if (!ReachUsersExcel()) {
        StartExcel();
    }
    if (state_.startupFolder.empty()) {
        return;
    }
    host_.Log(L"Excel's start-up folder: " + state_.startupFolder);
    host_.Log(state_.excelIsUsers ? L"Excel used: the user's, already open"
              : state_.excelOpen  ? L"Excel used: one started for this run; the user's is open "
                                   L"but could not be reached"
                                 : L"Excel used: one started for this run");
}

bool MainMod::ReachUsersExcel() {
    auto running = host_.AttachToRunningExcel();
    if (!running) {
        host_.Log(L"Reach the Excel the user has open: " + (running.error().notFound
                                                                ? std::wstring(L"none running")
                                                                : FailureText(running.error())));
        return false;
    }
    host_.Log(L"Reach the Excel the user has open: done");
    state_.excelOpen = true;
    // A busy Excel (a dialog open, a cell being edited) fails this after a while.
    const auto folder = Logged(L"Ask the user's Excel for its start-up folder",
                               host_.ReadStartupPath(running.value()));
    if (!folder || folder.value().empty()) {
        return false;
    }
    state_.excel = std::move(running.value());
    state_.excelIsUsers = true;
    state_.startupFolder = folder.value();
    return true;
}

// On failure the handle stays empty, so asking for the folder fails in turn and the folder
// stays empty.
void MainMod::StartExcel() {
    if (auto excel = Logged(L"Start Excel", host_.AcquireExcelApplication())) {
        state_.excel = std::move(excel.value());
    }
    if (auto folder =
            Logged(L"Ask Excel for its start-up folder", host_.ReadStartupPath(state_.excel))) {
        state_.startupFolder = folder.value();
    }
}

void MainMod::Uninstall() {
    // A question that could not be asked was not answered Yes: nothing changes.
    const auto answer = Logged(L"Ask whether to uninstall", host_.AskYesNo(kUninstallQuestion));
    if (!answer) {
        Fail(QuestionFailedMessage(answer.error().description));
        return;
    }
    // Only Yes removes anything.
    if (answer.value() != kAnswerYes) {
        host_.Log(L"The user answered No: nothing changed");
        exitCode_ = kExitDeclined;
        return;
    }
    Remove();
}

void MainMod::Remove() {
    const auto closedInExcel = LetGoInUsersExcel();
    if (!closedInExcel) {
        Fail(RemovalFailedMessage(closedInExcel.error().description));
        return;
    }

    // The add-in goes before the record: should the delete fail, the record stays for the
    // add-in that stays, and so does the add-in in the user's Excel.
    const auto deleted = LoggedAllowingAbsent(L"Delete " + InstalledAddinPath(),
                                              host_.DeleteFile(InstalledAddinPath()));
    if (!deleted && !deleted.error().notFound) {
        Leftovers left;
        if (closedInExcel.value()) {
            left.closedInExcel =
                !OpenAgainInUsersExcel(L"Open the add-in again in the user's Excel");
        }
        // Closing Excel would not help with a read-only file.
        FailLeaving(deleted.error().readOnly ? std::wstring(kInstalledAddinReadOnly)
                                             : RemovalFailedMessage(deleted.error().description),
                    left);
        return;
    }

    // An absent section is already the wanted end; any other failure leaves only an unread
    // record behind, since the add-in that reads it is gone.
    LoggedAllowingAbsent(L"Delete the settings record", DeleteSettingsRecord(host_));

    // Then leave: the uninstall path never runs on into the install path.
    SucceedWithNotice(kRemovalNotice);
}

// A record without its add-in is only a leftover; taking it away makes a second /uninstall
// find exactly what the first left.
void MainMod::NothingToRemove() {
    LoggedAllowingAbsent(L"Delete the settings record", DeleteSettingsRecord(host_));
    SucceedWithNotice(kNothingToRemove);
}

// Opened from Explorer's view of a zip, the program runs alone from a temporary folder: the
// user is told what to do before anything changes, rather than given a copy error, or a record
// that points into a folder Windows will empty.
bool MainMod::ProgramFolderCanInstall() {
    const auto folder = host_.ApplicationFolder();
    if (!folder) {
        // The copy looks again, and fails with its own words if this was no passing failure.
        host_.Log(L"Find the program's folder: " + FailureText(folder.error()));
        return true;
    }
    const std::wstring source = JoinPath(folder.value(), kAddinSourceName);
    const auto present = host_.FileExists(source);
    host_.Log(L"Look for " + source + L": " +
              (!present          ? FailureText(present.error())
               : present.value() ? L"there"
                                 : L"missing"));
    if (present && !present.value()) {
        Fail(kAddinSourceMissing);
        return false;
    }
    const auto temporary = host_.IsInTemporaryFolder(folder.value());
    if (!temporary) {
        host_.Log(L"Compare the program's folder with the temporary folder: " +
                  FailureText(temporary.error()));
    } else if (temporary.value()) {
        host_.Log(L"The program's folder is inside the temporary folder: " + folder.value());
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
    auto addin = Kept(installed ? std::wstring(L"Keep a copy of the installed add-in")
                                : L"Keep a copy of the file already at " + InstalledAddinPath(),
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
        const auto kept =
            Kept(L"Keep the record's " + std::wstring(key), ReadRecordValue(host_, key), installed);
        if (kept) {
            *value = kept.value();
        } else if (!kept.error().notFound) {
            Fail(InstallFailedMessage(kept.error().description));
            return false;
        }
    }
    return true;
}

void MainMod::InstallOver(EarlierInstall& earlier) {
    if (const auto copied = CopyAddinIntoStartupFolder(earlier); !copied) {
        RollBackInstall(earlier, copied.error());
        return;
    }
    // The record's Path, then its Unit.
    if (const auto recorded = RecordWorkbookPath(); !recorded) {
        RollBackInstall(earlier, recorded.error());
        return;
    }
    earlier.pathWritten = true;
    if (const auto recorded = RecordUnit(); !recorded) {
        RollBackInstall(earlier, recorded.error());
        return;
    }

    // The install is complete; what follows only tells the user, and cannot undo it.
    LoadIntoOpenExcel(earlier);
    SucceedWithWindow();
}

Status MainMod::CopyAddinIntoStartupFolder(EarlierInstall& earlier) {
    const auto programFolder = Logged(L"Find the program's folder", host_.ApplicationFolder());
    if (!programFolder) {
        return programFolder.error();
    }
    // Excel reports its start-up folder even where a fresh or reset profile has none yet.
    if (const auto created = Logged(L"Create " + state_.startupFolder + L" if missing",
                                    host_.CreateFolder(state_.startupFolder));
        !created) {
        return created;
    }
    // Windows refuses to copy onto a hidden or read-only file, and a leftover may be either.
    // Should the attributes stay, the copy's own failure says why.
    if (const auto made = host_.MakeFileOrdinary(InstalledAddinPath()); made) {
        earlier.clearedAttributes = made.value();
    } else if (!made.error().notFound) {
        host_.Log(L"Clear the attributes of " + InstalledAddinPath() + L": " +
                  FailureText(made.error()));
    }
    // From here the add-in's place may have changed, even by a copy that broke off half-way.
    earlier.addinTouched = true;
    const std::wstring source = JoinPath(programFolder.value(), kAddinSourceName);
    return Logged(L"Copy " + source + L" to " + InstalledAddinPath(),
                  host_.CopyFile(source, InstalledAddinPath()));
}

Status MainMod::RecordWorkbookPath() {
    const auto programFolder = host_.ApplicationFolder();
    if (!programFolder) {
        return Logged(L"Find the program's folder", Status(programFolder.error()));
    }
    const std::wstring workbook = JoinPath(programFolder.value(), kWorkbookName);
    return Logged(L"Record Path = " + workbook, WriteWorkbookPath(host_, workbook));
}

Status MainMod::RecordUnit() {
    return Logged(L"Record Unit = " + std::wstring(kUnitValue), WriteUnit(host_));
}

// Excel opens start-up add-ins only when it starts, so an Excel already open would not show
// the new menu item the success window points to. The user's Excel, when reached, opens the
// add-in now; otherwise the user is asked to restart Excel. An update whose add-in was not
// loaded there leaves it to Excel's next start, as before.
void MainMod::LoadIntoOpenExcel(const EarlierInstall& earlier) {
    const bool wanted = earlier.update ? earlier.openInUsersExcel : state_.excelIsUsers;
    if (wanted) {
        if (const auto opened =
                OpenInUsersExcel(L"Open " + InstalledAddinPath() + L" in the user's Excel");
            !opened) {
            AskToRestartExcel(L"the user's Excel did not open the add-in (" +
                              ErrorText(opened.error()) + L")");
        }
        return;
    }
    if (!earlier.update && state_.excelOpen) {
        AskToRestartExcel(L"Excel is open but could not be reached");
    }
}

Status MainMod::OpenInUsersExcel(const std::wstring& step) {
    return Logged(step, host_.OpenAddin(state_.excel, InstalledAddinPath()));
}

// Excel keeps a loaded add-in open, and Windows neither deletes nor replaces an open file: the
// user's Excel lets go of it first. Should it not, nothing is changed. Hands back whether the
// add-in was open there.
Outcome<bool> MainMod::LetGoInUsersExcel() {
    if (!state_.excelIsUsers) {
        return false;
    }
    const auto closed = LoggedAllowingAbsent(
        L"Take " + InstalledAddinFileName() + L" out of the user's Excel",
        host_.CloseAddin(state_.excel, InstalledAddinFileName()), L"not open there");
    if (!closed && !closed.error().notFound) {
        return closed.error();
    }
    return closed.succeeded();
}

// Undoes what the install changed, and no more: the add-in first, then the record's values this
// run wrote, each put back as it was or taken away where there was none. What cannot be undone
// is named in the log and the message.
void MainMod::RollBackInstall(EarlierInstall& earlier, const HostError& cause) {
    Leftovers left;
    if (earlier.addinTouched && !PutBackAddin(earlier)) {
        host_.Log(L"Not undone: the add-in stayed in " + state_.startupFolder +
                  L" as this run left it");
        left.addin = true;
        left.record = CompleteRecord(earlier);
    } else {
        if (earlier.addinTouched && !PutBackAttributes(earlier)) {
            host_.Log(L"Not undone: the add-in stayed in " + state_.startupFolder +
                      L" without the attributes it had");
            left.addin = true;
        }
        if (earlier.pathWritten && !PutBackSetting(kPathKey, earlier.path)) {
            host_.Log(L"Not undone: the record's Path stayed as this run wrote it");
            left.record = true;
        }
    }
    if (earlier.openInUsersExcel) {
        left.closedInExcel =
            !OpenAgainInUsersExcel(L"Open the earlier add-in again in the user's Excel");
    }
    FailLeaving(InstallFailedMessage(cause.description), left);
}

// An add-in that stays keeps the record as it stands, made whole where a value is missing:
// without one it would load into Excel half-configured, and the next run would offer to
// uninstall something that never installed. Hands back whether this run changed the record.
bool MainMod::CompleteRecord(EarlierInstall& earlier) {
    bool whole = true;
    if (!earlier.path && !earlier.pathWritten) {
        earlier.pathWritten = RecordWorkbookPath().succeeded();
        whole = earlier.pathWritten;
    }
    bool unitWritten = false;
    if (whole && !earlier.unit) {
        unitWritten = RecordUnit().succeeded();
        whole = unitWritten;
    }
    if (!whole) {
        host_.Log(L"Not undone: the add-in stayed in " + state_.startupFolder +
                  L" without its whole record");
    }
    const bool changed = earlier.pathWritten || unitWritten;
    if (changed) {
        host_.Log(
            L"Not undone: the record stayed as this run wrote it, for the add-in that stayed");
    }
    return changed;
}

bool MainMod::OpenAgainInUsersExcel(const std::wstring& step) {
    if (OpenInUsersExcel(step)) {
        return true;
    }
    host_.Log(L"Not undone: the add-in stayed closed in the user's Excel");
    return false;
}

// Someone made the earlier file hidden or read-only; putting it back includes that.
bool MainMod::PutBackAttributes(const EarlierInstall& earlier) {
    if (!earlier.addin || earlier.clearedAttributes == 0) {
        return true;
    }
    const auto restored =
        Logged(L"Give " + InstalledAddinPath() + L" back the attributes it had",
               host_.RestoreFileAttributes(InstalledAddinPath(), earlier.clearedAttributes));
    return restored.succeeded();
}

// Whether the add-in's place is as it was, attributes aside.
bool MainMod::PutBackAddin(const EarlierInstall& earlier) {
    if (!earlier.addin) {
        // Nothing was there: whatever the copy left goes.
        const auto taken =
            LoggedAllowingAbsent(L"Take the copied add-in back out",
                                 host_.DeleteFile(InstalledAddinPath()), L"nothing there");
        return taken || taken.error().notFound;
    }
    // A copy that failed at the start (Excel holds the add-in) has left it as it was.
    const auto now = host_.ReadFileBytes(InstalledAddinPath());
    if (!now) {
        host_.Log(L"Compare the add-in with the earlier one: " + FailureText(now.error()));
    } else if (now.value() == *earlier.addin) {
        return true;
    }
    return Logged(L"Put the earlier add-in back",
                  host_.WriteFileBytes(InstalledAddinPath(), *earlier.addin))
        .succeeded();
}

bool MainMod::PutBackSetting(const wchar_t* key, const std::optional<std::wstring>& value) {
    if (value) {
        const auto written = Logged(L"Put back the record's " + std::wstring(key),
                                    WriteRecordValue(host_, key, *value));
        return written.succeeded();
    }
    const auto removed = LoggedAllowingAbsent(L"Remove the record's " + std::wstring(key) +
                                                  L", which it did not have",
                                              DeleteRecordValue(host_, key));
    return removed || removed.error().notFound;
}

void MainMod::ReportStatus(const Outcome<std::wstring>& found) {
    if (!found) {
        return; // cannot tell: a failure
    }
    exitCode_ = found.value().empty() ? kExitNotInstalled : kExitDone;
}

void MainMod::SucceedWithNotice(const wchar_t* notice) {
    exitCode_ = kExitDone;
    if (!ShowsNothing()) {
        host_.Log(std::wstring(L"Show: ") + notice);
        LogIfNotShown(host_.Inform(notice));
    }
}

void MainMod::SucceedWithWindow() {
    exitCode_ = kExitDone;
    if (!ShowsNothing()) {
        host_.Log(L"Show the success window");
        LogIfNotShown(host_.ShowSuccessWindow());
    }
}

// Comes before the success window, which then tells no more than is true once Excel restarts.
void MainMod::AskToRestartExcel(const std::wstring& reason) {
    host_.Log(L"Excel must be restarted to load the add-in: " + reason);
    if (!ShowsNothing()) {
        host_.Log(std::wstring(L"Show: ") + kRestartExcel);
        LogIfNotShown(host_.Inform(kRestartExcel));
    }
}

void MainMod::Fail(const std::wstring& message) {
    host_.Log(L"Failed: " + message);
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
        host_.Log(L"Show it: " + FailureText(shown.error()));
    }
}

// A status query is for scripts: it never shows anything either.
bool MainMod::ShowsNothing() const {
    return options_.quiet || options_.mode == RunMode::StatusQuery;
}

std::wstring MainMod::InstalledAddinPath() const {
    return JoinPath(state_.startupFolder, kInstalledAddinName);
}

} // namespace qx
