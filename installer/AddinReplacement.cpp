#include "installer/AddinReplacement.h"

#include "installer/SettingsRecord.h"

#include <utility>

namespace qx {

// Nothing the user needs is ever in the staging file, whatever attributes it was left with.
void AddinReplacement::RemoveLeftBehind() {
    const auto made = host_.MakeFileOrdinary(staging_);
    if (!made && made.error().notFound) {
        return; // the usual case: the last run finished
    }
    if (!made) {
        log_.Log({"Clear the attributes of ", staging_, ": ", FailureText(made.error())});
    }
    log_.Logged({"Delete ", staging_, ", left by a run that did not finish"},
                host_.DeleteFile(staging_));
}

void AddinReplacement::ReportLeftBehind() {
    const auto there = host_.FileExists(staging_);
    if (!there) {
        log_.Log({"Look for ", staging_, ": ", FailureText(there.error())});
    } else if (there.value()) {
        log_.Log({"Found ", staging_,
                  ", left by a run that did not finish: the next install or removal deletes it"});
    }
}

// A fresh install may find a record without its add-in, or a hidden add-in left behind: it
// logs only what it finds or cannot read, since on a fresh profile nothing is there.
Status AddinReplacement::KeepEarlier(bool installed) {
    auto addin = log_.Kept(
        {installed ? "Keep a copy of the installed add-in" : "Keep a copy of the file already at ",
         installed ? L"" : addin_},
        host_.ReadFileBytes(addin_), installed);
    if (addin) {
        earlier_.addin = std::move(addin.value());
    } else if (!addin.error().notFound) {
        return addin.error();
    }
    // An add-in taken as installed that is not there after all is installed afresh.
    earlier_.update = installed && earlier_.addin;
    for (auto [key, value] : {std::pair{kPathKey, &earlier_.path}, {kUnitKey, &earlier_.unit}}) {
        const auto kept =
            log_.Kept({"Keep the record's ", key}, ReadRecordValue(host_, key), installed);
        if (kept) {
            *value = kept.value();
        } else if (!kept.error().notFound) {
            return kept.error();
        }
    }
    return Completed();
}

// The order every install and update keeps. Each step stops it at its first failure, which
// Undo then undoes as far as it got.
Status AddinReplacement::PutInPlace() {
    if (const auto created = CreateStartupFolder(); !created) {
        return created;
    }
    // First, so that a source that cannot be read, or a full disk, changes nothing the add-in
    // or the workbook would see.
    if (const auto staged = Stage(); !staged) {
        return staged;
    }
    if (const auto recorded = WriteRecord(); !recorded) {
        return recorded;
    }
    if (const auto replaced = Replace(); !replaced) {
        return replaced;
    }
    return CheckStayed();
}

// Excel reports its start-up folder even where a fresh or reset profile has none yet.
Status AddinReplacement::CreateStartupFolder() {
    return log_.Logged({"Create ", state_.startupFolder, " if missing"},
                       host_.CreateFolder(state_.startupFolder));
}

// Beside the start-up folder, not in it: Excel opens every file there when it starts.
Status AddinReplacement::Stage() {
    // From here a file may be at the staging place, even one that broke off half-way.
    progress_ = Progress::Staging;
    const std::wstring source = state_.SourcePath();
    auto copied =
        log_.Logged({"Copy ", source, " to ", staging_}, host_.CopyFile(source, staging_));
    if (!copied) {
        HostError error = copied.error();
        if (error.sourceChanged) {
            error.description = SourceChangedReason(source, error.description);
        }
        return error;
    }
    staged_ = std::move(copied.value());
    return Completed();
}

// The record's Path, then its Unit, then both to disk.
Status AddinReplacement::WriteRecord() {
    const std::wstring workbook = state_.WorkbookPath();
    if (const auto path =
            log_.Logged({"Record Path = ", workbook}, WriteWorkbookPath(host_, workbook));
        !path) {
        return path;
    }
    progress_ = Progress::PathWritten;
    if (const auto unit = log_.Logged({"Record Unit = ", kUnitValue}, WriteUnit(host_)); !unit) {
        return unit;
    }
    progress_ = Progress::RecordWritten;
    return log_.Logged({"Write the record to disk"}, FlushSettingsRecord(host_));
}

Status AddinReplacement::Replace() {
    // Windows refuses to replace a hidden or read-only file, and a leftover may be either.
    // Should the attributes stay, the rename's own failure says why.
    if (const auto made = host_.MakeFileOrdinary(addin_); made) {
        earlier_.clearedAttributes = made.value();
    } else if (!made.error().notFound) {
        log_.Log({"Clear the attributes of ", addin_, ": ", FailureText(made.error())});
    }
    const auto moved = MoveDurably({"Move ", staging_, " to ", addin_}, staging_, addin_);
    if (moved) {
        progress_ = Progress::Replaced;
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
Status AddinReplacement::CheckStayed() {
    const auto same = host_.SameBytesAfterScan(addin_, staged_);
    const std::wstring step =
        Joined({"Compare ", addin_, " with what was staged, after a security program's look"});
    if (same) {
        log_.Log({step, ": ", same.value() ? "the same" : "different"});
    } else {
        log_.Log({step, ": ", FailureText(same.error())});
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

Status AddinReplacement::TakeOut() {
    return TakeAddinOut({"Move ", addin_, " out to ", staging_});
}

// Renamed out of the start-up folder in one step rather than deleted, and the folder written
// to disk: the record that goes next must not reach the disk before the add-in's absence does.
Status AddinReplacement::TakeAddinOut(Pieces step) {
    const auto moved =
        log_.LoggedAllowingAbsent(step, host_.MoveFileReplacing(addin_, staging_), "nothing there");
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
Status AddinReplacement::MoveDurably(Pieces step, const std::wstring& from,
                                     const std::wstring& to) {
    const auto moved = log_.Logged(step, host_.MoveFileReplacing(from, to));
    if (moved) {
        FlushStartupFolder();
    }
    return moved;
}

// Should the folder not be written, the rename is still there, and Windows writes it within
// seconds: only the log needs to know.
void AddinReplacement::FlushStartupFolder() {
    log_.Logged({"Write ", state_.startupFolder, " to disk"},
                host_.FlushFolder(state_.startupFolder));
}

// Outside the start-up folder a staging file harms nothing, and the next run removes it.
void AddinReplacement::RemoveStaging() {
    log_.LoggedAllowingAbsent({"Delete ", staging_}, host_.DeleteFile(staging_), "nothing there");
}

} // namespace qx
