#include "installer/MainMod.h"

#include "installer/Messages.h"
#include "installer/Paths.h"
#include "installer/SettingsRecord.h"

#include <utility>

namespace qx {

void MainMod::Main() {
    // 1. Each step below states where the sequence goes on when it fails.

    // Under another account the add-in and its record would land in that account's profile,
    // where the desktop's user never sees them. When that cannot be told, the run goes on.
    if (const auto desktopUser = host_.RunsAsDesktopUser(); desktopUser && !desktopUser.value()) {
        host_.Warn(kWrongAccount);
        return;
    }

    // 2. On failure the handle stays empty, so step 3 fails in turn.
    if (auto excel = host_.AcquireExcelApplication()) {
        state_.excel = std::move(excel.value());
    }

    // 3. On failure the folder stays empty.
    if (auto folder = host_.ReadStartupPath(state_.excel)) {
        state_.startupFolder = folder.value();
    }
    // Without Excel's folder there is nowhere sound to look or to install: a bare
    // "\QxButton.xla" would land on the root of whatever drive is current.
    if (state_.startupFolder.empty()) {
        host_.Warn(kStartupFolderUnknown);
        return;
    }

    // 4. A failed test counts as "installed": the user is asked rather than overwritten.
    const auto installed = host_.FindFile(InstalledAddinPath());
    if (installed.succeeded() && installed.value().empty()) {
        Install(); // steps 10 to 13
        return;
    }
    Uninstall(); // steps 5 to 9
}

void MainMod::Uninstall() {
    // 5. A question that could not be asked was not answered Yes: nothing changes.
    const auto answer = host_.AskYesNo(kUninstallQuestion);
    if (!answer) {
        return;
    }

    // 6. Only Yes removes anything.
    if (answer.value() != kAnswerYes) {
        return;
    }

    // 8 before 7. The add-in goes first: while Excel holds it open the delete fails, and the
    // record must then stay for the add-in that stays.
    const auto deleted = host_.DeleteFile(InstalledAddinPath());
    if (!deleted && !deleted.error().notFound) {
        host_.Warn(RemovalFailedMessage(deleted.error().description));
        return;
    }

    // 7. An absent section is already the wanted end; any other failure leaves only an
    // unread record behind, since the add-in that reads it is gone.
    DeleteSettingsRecord(host_);

    // 9. Then leave: the uninstall path never runs on into the install path.
    host_.Inform(kRemovalNotice);
}

void MainMod::Install() {
    // 10. On failure nothing has been changed yet.
    if (const auto copied = CopyAddinIntoStartupFolder(); !copied) {
        host_.Warn(InstallFailedMessage(copied.error().description));
        return;
    }

    // 11. On failure the copied add-in is taken back out.
    if (const auto recorded = RecordWorkbookPath(); !recorded) {
        RollBackInstall(recorded.error());
        return;
    }

    // 12. On failure the copied add-in is taken back out.
    if (const auto recorded = WriteUnit(host_); !recorded) {
        RollBackInstall(recorded.error());
        return;
    }

    // 13. On failure the program simply ends: the install itself is complete.
    host_.ShowSuccessWindow();
}

Status MainMod::CopyAddinIntoStartupFolder() {
    const auto programFolder = host_.ApplicationFolder();
    if (!programFolder) {
        return programFolder.error();
    }
    // Excel reports its start-up folder even where a fresh or reset profile has none yet.
    if (const auto created = host_.CreateFolder(state_.startupFolder); !created) {
        return created;
    }
    // Windows refuses to copy onto a hidden or read-only file, and a leftover may be either.
    // Should the attributes stay, the copy's own failure says why.
    host_.MakeFileOrdinary(InstalledAddinPath());
    return host_.CopyFile(JoinPath(programFolder.value(), kAddinSourceName), InstalledAddinPath());
}

Status MainMod::RecordWorkbookPath() {
    const auto programFolder = host_.ApplicationFolder();
    if (!programFolder) {
        return programFolder.error();
    }
    return WriteWorkbookPath(host_, JoinPath(programFolder.value(), kWorkbookName));
}

// An add-in without its record would load into Excel half-configured, and the next run would
// offer to uninstall something that never installed.
void MainMod::RollBackInstall(const HostError& cause) {
    host_.DeleteFile(InstalledAddinPath());
    host_.Warn(InstallFailedMessage(cause.description));
}

std::wstring MainMod::InstalledAddinPath() const {
    return JoinPath(state_.startupFolder, kInstalledAddinName);
}

} // namespace qx
