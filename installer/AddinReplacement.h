#pragma once

#include "host/HostServices.h"
#include "installer/InstallState.h"
#include "installer/Messages.h"
#include "installer/StepLog.h"

#include <cstdint>
#include <optional>
#include <string>

namespace qx {

// Replacing the add-in in Excel's start-up folder, and taking it out, in an order that keeps
// three things true whenever the run stops (a failure, a kill, the power):
//  - the add-in in the folder is whole: the earlier one or the new one, never a part;
//  - it is never there without its record;
//  - nothing else of this program's is in the folder: Excel opens every file there.
// The new add-in is written beside the folder and flushed, the record written and flushed, and
// only then does one rename put it in place (PutInPlace). Taking it out is one rename out of the
// folder (TakeOut). After every rename the folder is written to disk before anything else moves.
// What it replaces is kept from the start, so that Undo can put it back by the same renames.
class AddinReplacement {
public:
    // Made once Excel has given the start-up folder.
    AddinReplacement(HostServices& host, StepLog& log, const InstallState& state)
        : host_(host), log_(log), state_(state), addin_(state.InstalledAddinPath()),
          staging_(state.StagingPath()) {}

    // A killed run's staged copy beside the folder: deleted, or only told of by a run that
    // changes nothing.
    void RemoveLeftBehind();
    void ReportLeftBehind();

    // Before anything changes: what is at the add-in's place and in the record. `installed`: an
    // update, which logs each thing it keeps. Fails when any of it cannot be read.
    Status KeepEarlier(bool installed);
    // Whether an earlier add-in is replaced, not only installed afresh.
    bool Updates() const { return earlier_.update; }

    Status PutInPlace();
    Status TakeOut();
    // Puts back what PutInPlace changed before it failed, as far as it got; names what stayed.
    Leftovers Undo();

private:
    // How far PutInPlace got, in the order it goes: what Undo has to undo.
    enum class Progress {
        Nothing,
        Staging, // the new add-in is being written beside the start-up folder
        PathWritten,
        RecordWritten, // both values, flushed to disk
        Replaced,      // renamed over the add-in's place: the install's one commit
    };
    struct Earlier {
        std::optional<std::string> addin; // none: nothing was at the add-in's place
        std::optional<std::wstring> path;
        std::optional<std::wstring> unit;
        bool update = false;
        std::uint32_t clearedAttributes = 0; // what the rename needed taken off a leftover
    };

    Status CreateStartupFolder();
    Status Stage();
    Status WriteRecord();
    Status Replace();
    Status CheckStayed();
    Status TakeAddinOut(Pieces step);
    Status MoveDurably(Pieces step, const std::wstring& from, const std::wstring& to);
    void FlushStartupFolder();
    void RemoveStaging();
    bool PutBackAddin();
    bool PutBackAttributes();
    bool PutBackRecord();
    bool PutBackSetting(const wchar_t* key, const std::optional<std::wstring>& value);
    bool RecordChanged() const;

    HostServices& host_;
    StepLog& log_;
    const InstallState& state_;
    const std::wstring addin_;   // the installed add-in's place in the start-up folder
    const std::wstring staging_; // where it is written first, beside the folder
    Earlier earlier_;
    Progress progress_ = Progress::Nothing;
    FileDigest staged_; // the bytes the new add-in was written with
};

} // namespace qx
