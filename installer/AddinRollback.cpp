// Undoing a replacement that failed part-way: what PutInPlace changed, and no more, put back by
// the same renames it made, so that a failure or a kill here still leaves the add-in whole.
#include "installer/AddinReplacement.h"

#include "installer/SettingsRecord.h"

namespace qx {

// The add-in first, then the record's values this run wrote, each put back as it was or taken
// away where there was none. What cannot be undone is named in the log and in what it hands
// back.
Leftovers AddinReplacement::Undo() {
    Leftovers left;
    if (progress_ == Progress::Replaced && !PutBackAddin()) {
        // The record is whole, as it was written before the add-in: the add-in that stays keeps
        // it, or it would load half-configured and the next run would offer to uninstall
        // something that never installed.
        log_.Log(
            {"Not undone: the add-in stayed in ", state_.startupFolder, " as this run left it"});
        left.addin = true;
        if (RecordChanged()) {
            log_.Log(
                {"Not undone: the record stayed as this run wrote it, for the add-in that stayed"});
            left.record = true;
        }
    } else {
        if (!PutBackAttributes()) {
            log_.Log({"Not undone: the add-in stayed in ", state_.startupFolder,
                      " without the attributes it had"});
            left.addin = true;
        }
        if (!PutBackRecord()) {
            log_.Log({"Not undone: the record's values stayed as this run wrote them"});
            left.record = true;
        }
    }
    if (progress_ >= Progress::Staging) {
        RemoveStaging();
    }
    return left;
}

// Written beside the folder and renamed into place, as the new one was: never over it.
bool AddinReplacement::PutBackAddin() {
    if (!earlier_.addin) {
        // Nothing was there: the copied add-in goes.
        const auto taken = TakeAddinOut({"Take the copied add-in back out"});
        return taken || taken.error().notFound;
    }
    if (!log_.Logged({"Write the earlier add-in to ", staging_},
                     host_.WriteFileBytes(staging_, *earlier_.addin))) {
        return false;
    }
    return MoveDurably({"Put the earlier add-in back"}, staging_, addin_).succeeded();
}

// Someone made the earlier file hidden or read-only; putting it back includes that.
bool AddinReplacement::PutBackAttributes() {
    if (!earlier_.addin || earlier_.clearedAttributes == 0) {
        return true;
    }
    return log_
        .Logged({"Give ", addin_, " back the attributes it had"},
                host_.RestoreFileAttributes(addin_, earlier_.clearedAttributes))
        .succeeded();
}

// Each value this run changed, as it was; then to disk, as the install's own values went.
bool AddinReplacement::PutBackRecord() {
    if (progress_ < Progress::PathWritten) {
        return true;
    }
    bool asItWas =
        earlier_.path == state_.WorkbookPath() || PutBackSetting(kPathKey, earlier_.path);
    if (progress_ >= Progress::RecordWritten && earlier_.unit != std::wstring(kUnitValue)) {
        asItWas = PutBackSetting(kUnitKey, earlier_.unit) && asItWas;
    }
    // Not reaching the disk changes nothing the user sees now; only the log needs to know.
    log_.Logged({"Write the record to disk"}, FlushSettingsRecord(host_));
    return asItWas;
}

bool AddinReplacement::PutBackSetting(const wchar_t* key,
                                      const std::optional<std::wstring>& value) {
    if (value) {
        return log_.Logged({"Put back the record's ", key}, WriteRecordValue(host_, key, *value))
            .succeeded();
    }
    const auto removed = log_.LoggedAllowingAbsent(
        {"Remove the record's ", key, ", which it did not have"}, DeleteRecordValue(host_, key));
    return removed || removed.error().notFound;
}

bool AddinReplacement::RecordChanged() const {
    return earlier_.path != state_.WorkbookPath() || earlier_.unit != std::wstring(kUnitValue);
}

} // namespace qx
