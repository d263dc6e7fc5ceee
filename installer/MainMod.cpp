#include "installer/MainMod.h"

#include "installer/Messages.h"
#include "installer/Paths.h"
#include "installer/SettingsRecord.h"

#include <utility>

namespace qx {

template <typename T> Outcome<T> MainMod::Logged(const std::wstring& step, Outcome<T> outcome) {
    host_.Log(step + L": " + (outcome ? std::wstring(L"done") : FailureText(outcome.error())));
    return outcome;
}

// For removals, "not there" is the end wanted, not a failure.
Status MainMod::LoggedRemoval(const std::wstring& step, Status outcome) {
    if (!outcome && outcome.error().notFound) {
        host_.Log(step + L": not there");
        return outcome;
    }
    return Logged(step, std::move(outcome));
}

void MainMod::Main() {
    // 1. Each step below states where the sequence goes on when it fails.

    // Under another account the add-in and its record would land in that account's profile,
    // where the desktop's user never sees them.
    if (RunsUnderAnotherAccount()) {
        Fail(kWrongAccount);
        return;
    }

    // 2. On failure the handle stays empty, so step 3 fails in turn.
    if (auto excel = Logged(L"Start Excel", host_.AcquireExcelApplication())) {
        state_.excel = std::move(excel.value());
    }

    // 3. On failure the folder stays empty.
    if (auto folder =
            Logged(L"Ask Excel for its start-up folder", host_.ReadStartupPath(state_.excel))) {
        state_.startupFolder = folder.value();
        host_.Log(L"Excel's start-up folder: " + state_.startupFolder);
    }
    // Without Excel's folder there is nowhere sound to look or to install: a bare
    // "\QxButton.xla" would land on the root of whatever drive is current.
    if (state_.startupFolder.empty()) {
        Fail(kStartupFolderUnknown);
        return;
    }

    // 4. A failed test counts as "installed": the user is asked rather than overwritten.
    const auto found = host_.FindFile(InstalledAddinPath());
    const bool installed = !found.succeeded() || !found.value().empty();
    host_.Log(L"Look for " + InstalledAddinPath() + L": " +
              (!found      ? FailureText(found.error()) + L", so taken as installed"
               : installed ? L"installed"
                           : L"not installed"));

    switch (options_.mode) {
    case RunMode::Toggle:
        if (installed) {
            Uninstall(); // steps 5 to 9
        } else {
            Install(); // steps 10 to 13
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
    case RunMode::Help:
        return;
    }
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

void MainMod::Uninstall() {
    // 5. A question that could not be asked was not answered Yes: nothing changes.
    const auto answer = Logged(L"Ask whether to uninstall", host_.AskYesNo(kUninstallQuestion));
    if (!answer) {
        exitCode_ = kExitFailed;
        return;
    }

    // 6. Only Yes removes anything.
    if (answer.value() != kAnswerYes) {
        host_.Log(L"The user answered No: nothing changed");
        exitCode_ = kExitDeclined;
        return;
    }

    Remove(); // steps 8, 7 and 9
}

void MainMod::Remove() {
    // 8 before 7. The add-in goes first: while Excel holds it open the delete fails, and the
    // record must then stay for the add-in that stays.
    const auto deleted =
        LoggedRemoval(L"Delete " + InstalledAddinPath(), host_.DeleteFile(InstalledAddinPath()));
    if (!deleted && !deleted.error().notFound) {
        Fail(RemovalFailedMessage(deleted.error().description));
        return;
    }

    // 7. An absent section is already the wanted end; any other failure leaves only an
    // unread record behind, since the add-in that reads it is gone.
    LoggedRemoval(L"Delete the settings record", DeleteSettingsRecord(host_));

    // 9. Then leave: the uninstall path never runs on into the install path.
    SucceedWithNotice(kRemovalNotice);
}

// A record without its add-in is only a leftover; taking it away makes a second /uninstall
// find exactly what the first left.
void MainMod::NothingToRemove() {
    LoggedRemoval(L"Delete the settings record", DeleteSettingsRecord(host_));
    SucceedWithNotice(kNothingToRemove);
}

void MainMod::Install() {
    InstallOver(nullptr);
}

// The add-in is replaced by the program's own and the record rewritten; should any of it fail,
// the earlier add-in and record are put back, not taken away.
void MainMod::Update() {
    EarlierInstall earlier;
    auto addin =
        Logged(L"Keep a copy of the installed add-in", host_.ReadFileBytes(InstalledAddinPath()));
    if (!addin) {
        if (addin.error().notFound) {
            Install(); // nothing there to keep after all
            return;
        }
        Fail(InstallFailedMessage(addin.error().description));
        return;
    }
    earlier.addin = std::move(addin.value());
    for (auto [key, value] : {std::pair{kPathKey, &earlier.path}, {kUnitKey, &earlier.unit}}) {
        const auto kept =
            Logged(L"Keep the record's " + std::wstring(key), ReadRecordValue(host_, key));
        if (kept) {
            *value = kept.value();
        } else if (!kept.error().notFound) {
            Fail(InstallFailedMessage(kept.error().description));
            return;
        }
    }
    InstallOver(&earlier);
}

void MainMod::InstallOver(const EarlierInstall* earlier) {
    // 10. On failure nothing has been changed yet, unless the copy broke off half-way.
    if (const auto copied = CopyAddinIntoStartupFolder(); !copied) {
        if (earlier) {
            PutBack(*earlier);
        }
        Fail(InstallFailedMessage(copied.error().description));
        return;
    }

    // 11. On failure the copied add-in is taken back out, or the earlier one put back.
    if (const auto recorded = RecordWorkbookPath(); !recorded) {
        RollBackInstall(earlier, recorded.error());
        return;
    }

    // 12. As for step 11.
    if (const auto recorded =
            Logged(L"Record Unit = " + std::wstring(kUnitValue), WriteUnit(host_));
        !recorded) {
        RollBackInstall(earlier, recorded.error());
        return;
    }

    // 13. On failure the program simply ends: the install itself is complete.
    SucceedWithWindow();
}

Status MainMod::CopyAddinIntoStartupFolder() {
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
    if (const auto made = host_.MakeFileOrdinary(InstalledAddinPath());
        !made && !made.error().notFound) {
        host_.Log(L"Clear the attributes of " + InstalledAddinPath() + L": " +
                  FailureText(made.error()));
    }
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

// An add-in without its record would load into Excel half-configured, and the next run would
// offer to uninstall something that never installed.
void MainMod::RollBackInstall(const EarlierInstall* earlier, const HostError& cause) {
    if (earlier) {
        PutBack(*earlier);
    } else {
        Logged(L"Take the copied add-in back out", host_.DeleteFile(InstalledAddinPath()));
    }
    Fail(InstallFailedMessage(cause.description));
}

void MainMod::PutBack(const EarlierInstall& earlier) {
    // A copy that failed at the start (Excel holds the add-in) has left it as it was.
    const auto now = host_.ReadFileBytes(InstalledAddinPath());
    if (!now || now.value() != earlier.addin) {
        Logged(L"Put the earlier add-in back",
               host_.WriteFileBytes(InstalledAddinPath(), earlier.addin));
    }
    PutBackSetting(kPathKey, earlier.path);
    PutBackSetting(kUnitKey, earlier.unit);
}

void MainMod::PutBackSetting(const wchar_t* key, const std::optional<std::wstring>& value) {
    if (value) {
        Logged(L"Put back the record's " + std::wstring(key), WriteRecordValue(host_, key, *value));
        return;
    }
    LoggedRemoval(L"Remove the record's " + std::wstring(key) + L", which it did not have",
                  DeleteRecordValue(host_, key));
}

void MainMod::ReportStatus(const Outcome<std::wstring>& found) {
    if (!found) {
        exitCode_ = kExitFailed;
        return;
    }
    exitCode_ = found.value().empty() ? kExitNotInstalled : kExitDone;
}

void MainMod::SucceedWithNotice(const wchar_t* notice) {
    exitCode_ = kExitDone;
    if (!ShowsNothing()) {
        host_.Log(std::wstring(L"Show: ") + notice);
        host_.Inform(notice);
    }
}

void MainMod::SucceedWithWindow() {
    exitCode_ = kExitDone;
    if (!ShowsNothing()) {
        host_.Log(L"Show the success window");
        host_.ShowSuccessWindow();
    }
}

void MainMod::Fail(const std::wstring& message) {
    exitCode_ = kExitFailed;
    host_.Log(L"Failed: " + message);
    if (!ShowsNothing()) {
        host_.Warn(message);
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
