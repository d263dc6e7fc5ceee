#include "installer/MainMod.h"

#include "installer/Messages.h"
#include "installer/Paths.h"
#include "installer/SettingsRecord.h"

namespace qx {

namespace {

// A status query is for scripts: it never shows anything either.
bool ShowsNothing(const RunOptions& options) {
    return options.quiet || options.mode == RunMode::StatusQuery;
}

} // namespace

MainMod::MainMod(HostServices& host, RunOptions options)
    : host_(host), options_(options), log_(host),
      report_(host, log_, state_, ShowsNothing(options)), excel_(host, log_, state_) {}

// The run: check whose desktop it is, find Excel and its start-up folder, look there for the
// add-in, then install, update, remove or report as the mode says. Every step below says where
// the run goes when it fails; none goes on past a failure that would leave half a change.
void MainMod::Main() {
    // Under another account the add-in and its record would land in that account's profile,
    // where the desktop's user never sees them.
    if (RunsUnderAnotherAccount()) {
        report_.Fail(kWrongAccount);
        return;
    }

    // Without Excel's folder there is nowhere sound to look or to install: a bare
    // "\QxButton.xla" would land on the root of whatever drive is current.
    if (!FoundExcel()) {
        return;
    }

    // Whatever this run is asked to do, it starts from a place a killed run may have left; a
    // status query only tells of it.
    AddinReplacement replacement(host_, log_, state_);
    if (options_.mode == RunMode::StatusQuery) {
        replacement.ReportLeftBehind();
    } else {
        replacement.RemoveLeftBehind();
    }

    // A look that fails counts as "installed": the user is asked rather than overwritten.
    const AddinLook look = LookForInstalledAddin();
    const bool installed = look != AddinLook::NotInstalled;
    switch (options_.mode) {
    case RunMode::Toggle:
        if (installed) {
            Uninstall(replacement);
        } else {
            Install(replacement);
        }
        return;
    case RunMode::Install:
        if (installed) {
            Update(replacement);
        } else {
            Install(replacement);
        }
        return;
    case RunMode::Uninstall:
        if (installed) {
            Remove(replacement);
        } else {
            NothingToRemove();
        }
        return;
    case RunMode::StatusQuery:
        if (look != AddinLook::CannotTell) {
            LookAtExcelsSettings(host_, log_, state_, true);
        }
        ReportStatus(look);
        return;
    case RunMode::Help: // shown by the program's entry; not a run
        return;
    }
}

// When the host cannot tell (no shell yet, as in a logon script), the run goes on: the user
// running it is the one logging on.
bool MainMod::RunsUnderAnotherAccount() {
    const auto desktopUser = host_.RunsAsDesktopUser();
    if (!desktopUser) {
        log_.Log(
            {"Check the account: cannot tell (", ErrorText(desktopUser.error()), "), so going on"});
        return false;
    }
    log_.Log({"Check the account: ",
              desktopUser.value() ? "the desktop's own user" : "not the desktop's user"});
    return !desktopUser.value();
}

bool MainMod::FoundExcel() {
    switch (excel_.Find()) {
    case ExcelInUse::Asked::Answered:
        return true;
    case ExcelInUse::Asked::CannotBeAsked:
        report_.Fail(kStartupFolderUnknown);
        return false;
    case ExcelInUse::Asked::DidNotAnswer:
        report_.Fail(ExcelDidNotAnswerMessage());
        return false;
    }
    return false;
}

MainMod::AddinLook MainMod::LookForInstalledAddin() {
    const std::wstring addinPath = state_.InstalledAddinPath();
    const auto found = host_.FindFile(addinPath);
    if (!found) {
        log_.Log({"Look for ", addinPath, ": ", FailureText(found.error()),
                  options_.mode == RunMode::StatusQuery ? ", so cannot tell"
                                                        : ", so taken as installed"});
        return AddinLook::CannotTell;
    }
    const bool installed = !found.value().empty();
    log_.Log({"Look for ", addinPath, ": ", installed ? "installed" : "not installed"});
    return installed ? AddinLook::Installed : AddinLook::NotInstalled;
}

void MainMod::Uninstall(AddinReplacement& replacement) {
    // A question that could not be asked was not answered Yes: nothing changes.
    const auto answer =
        log_.Logged({"Ask whether to uninstall"}, host_.AskYesNo(kUninstallQuestion));
    if (!answer) {
        report_.Fail(QuestionFailedMessage(answer.error().description));
        return;
    }
    // Only Yes removes anything.
    if (answer.value() != kAnswerYes) {
        log_.Log({"The user answered No: nothing changed"});
        report_.EndWith(kExitDeclined);
        return;
    }
    Remove(replacement);
}

void MainMod::Remove(AddinReplacement& replacement) {
    if (const auto letGo = excel_.LetGo(); !letGo) {
        FailLettingGo(&RemovalFailedMessage, letGo.error());
        return;
    }

    // The add-in goes before the record: should that fail, the record stays for the add-in
    // that stays, and so does the add-in in the user's Excel.
    if (const auto taken = replacement.TakeOut(); !taken && !taken.error().notFound) {
        Leftovers left;
        if (excel_.ClosedTheAddin()) {
            excel_.OpenAgain({"Open the add-in again in the user's Excel"}, left);
        }
        // Closing Excel would not help with a read-only file.
        report_.FailLeaving(taken.error().readOnly
                                ? std::wstring(kInstalledAddinReadOnly)
                                : RemovalFailedMessage(taken.error().description),
                            left);
        return;
    }

    // An absent section is already the wanted end; any other failure leaves only an unread
    // record behind, since the add-in that reads it is gone.
    log_.LoggedAllowingAbsent({"Delete the settings record"}, DeleteSettingsRecord(host_));

    // Then leave: the uninstall path never runs on into the install path.
    report_.SucceedWithNotice(kRemovalNotice);
}

// A record without its add-in is only a leftover; taking it away makes a second /uninstall
// find exactly what the first left.
void MainMod::NothingToRemove() {
    log_.LoggedAllowingAbsent({"Delete the settings record"}, DeleteSettingsRecord(host_));
    report_.SucceedWithNotice(kNothingToRemove);
}

// Opened from Explorer's view of a zip, the program runs alone from a temporary folder: the
// user is told what to do before anything changes, rather than given a copy error, or a record
// that points into a folder Windows will empty.
bool MainMod::ProgramFolderCanInstall() {
    const auto folder = log_.Logged({"Find the program's folder"}, host_.ApplicationFolder());
    if (!folder) {
        report_.Fail(InstallFailedMessage(folder.error().description));
        return false;
    }
    state_.programFolder = folder.value();
    const std::wstring source = state_.SourcePath();
    const auto present = host_.FileExists(source);
    if (present) {
        log_.Log({"Look for ", source, ": ", present.value() ? "there" : "missing"});
    } else {
        log_.Log({"Look for ", source, ": ", FailureText(present.error())});
    }
    if (present && !present.value()) {
        report_.Fail(kAddinSourceMissing);
        return false;
    }
    // When Windows cannot say, the run goes on: the copy fails with its own words should the
    // folder be gone.
    const auto temporary = host_.IsInTemporaryFolder(state_.programFolder);
    if (!temporary) {
        log_.Log({"Compare the program's folder with the temporary folder: ",
                  FailureText(temporary.error())});
    } else if (temporary.value()) {
        log_.Log({"The program's folder is inside the temporary folder: ", state_.programFolder});
        report_.Fail(kRunsFromTemporaryFolder);
        return false;
    }
    return true;
}

void MainMod::Install(AddinReplacement& replacement) {
    if (ProgramFolderCanInstall() && KeptEarlier(replacement, false)) {
        InstallOver(replacement);
    }
}

// The add-in is replaced by the program's own and the record rewritten; should any of it fail,
// the earlier add-in and record are put back, not taken away.
void MainMod::Update(AddinReplacement& replacement) {
    if (!ProgramFolderCanInstall() || !KeptEarlier(replacement, true)) {
        return;
    }
    if (const auto letGo = excel_.LetGo(); !letGo) {
        FailLettingGo(&InstallFailedMessage, letGo.error());
        return;
    }
    InstallOver(replacement);
}

// What the install replaces is kept before anything changes, so that a failure can put it back.
bool MainMod::KeptEarlier(AddinReplacement& replacement, bool installed) {
    if (const auto kept = replacement.KeepEarlier(installed); !kept) {
        report_.Fail(InstallFailedMessage(kept.error().description));
        return false;
    }
    return true;
}

// However the run ends (a failure, a kill, the power), the start-up folder holds the earlier
// add-in or the new one, never a part, and never one without its record.
void MainMod::InstallOver(AddinReplacement& replacement) {
    if (const auto placed = replacement.PutInPlace(); !placed) {
        RollBack(replacement, placed.error());
        return;
    }
    // The install is complete; what follows only makes sure Excel will load it, and tells the
    // user: it cannot undo the install.
    const NextStart next = LookAtExcelsSettings(host_, log_, state_, false);
    LoadIntoOpenExcel(replacement.Updates(), next);
    report_.SucceedTelling(next);
}

// Undoes what the install changed, and no more; the user's Excel gets back the add-in it had.
void MainMod::RollBack(AddinReplacement& replacement, const HostError& cause) {
    Leftovers left = replacement.Undo();
    if (excel_.ClosedTheAddin()) {
        excel_.OpenAgain({"Open the earlier add-in again in the user's Excel"}, left);
    }
    report_.FailLeaving(InstallFailedMessage(cause.description), left);
}

// Nothing changed; but an Excel that did not answer in time may still close the add-in once it
// gets to the call (its auto-close macro may be showing a box), and the user must not be told
// that nothing did.
void MainMod::FailLettingGo(std::wstring (*message)(const std::wstring&), const HostError& error) {
    Leftovers left;
    if (error.timedOut) {
        excel_.MayHaveClosedIt(left);
    }
    report_.FailLeaving(message(error.timedOut ? ExcelDidNotAnswerReason() : error.description),
                        left);
}

// Excel opens start-up add-ins only when it starts, so an Excel already open would not show
// the new menu item the success window points to. The user's Excel, when reached, opens the
// add-in now; otherwise the user is asked to restart Excel. An update whose add-in was not
// loaded there leaves it to Excel's next start, as before.
void MainMod::LoadIntoOpenExcel(bool update, const NextStart& next) {
    // Opened by a program, Excel runs an add-in's macros whatever its security settings say: an
    // add-in they hold back is left to Excel's own start, and the user is told what Excel will
    // do there.
    if (next.NeverRuns()) {
        log_.Log({"The add-in is not opened in Excel now: Excel's settings hold it back"});
        return;
    }
    const bool wanted = update ? excel_.ClosedTheAddin() : excel_.IsUsers();
    if (wanted && !next.Runs()) {
        report_.AskToRestartExcel(
            {"Excel's security settings leave the add-in to Excel's next start"});
        return;
    }
    if (wanted) {
        if (const auto opened =
                excel_.Open({"Open ", state_.InstalledAddinPath(), " in the user's Excel"});
            !opened) {
            report_.AskToRestartExcel(
                {"the user's Excel did not open the add-in (", ErrorText(opened.error()), ")"});
        }
        return;
    }
    if (!update && state_.excelUsed == ExcelUsed::StartedBesideUsers) {
        report_.AskToRestartExcel({"Excel is open but could not be reached"});
    }
}

void MainMod::ReportStatus(AddinLook look) {
    switch (look) {
    case AddinLook::Installed:
        log_.Log({"Status: installed"});
        report_.EndWith(kExitDone);
        return;
    case AddinLook::NotInstalled:
        log_.Log({"Status: not installed"});
        report_.EndWith(kExitNotInstalled);
        return;
    case AddinLook::CannotTell:
        log_.Log({"Status: cannot tell"}); // a failure
        return;
    }
}

} // namespace qx
