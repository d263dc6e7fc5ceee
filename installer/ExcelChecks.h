#pragma once

#include "host/HostServices.h"
#include "installer/ExcelTrust.h"
#include "installer/InstallState.h"
#include "installer/StepLog.h"

#include <optional>
#include <string>

namespace qx {

// What Excel itself will do with the add-in at its next start, read from where Excel and Office's
// policies keep it for the Excel `version` ("16.0"). Every value read is logged with its key.

// What Excel will do with the add-in when it next starts, as far as its settings tell.
struct NextStart {
    bool disabled = false; // in Excel's list of disabled items, and it stays there
    AtNextStart macros = AtNextStart::Run;
    bool Runs() const { return !disabled && macros == AtNextStart::Run; }
    bool NeverRuns() const { return disabled || macros == AtNextStart::NeverRun; }
};

// Asks the run's Excel for its version, then reads its disabled items, clearing the add-in's
// own unless `onlyLook`, and its trust settings. Without the version nothing is read.
NextStart LookAtExcelsSettings(HostServices& host, StepLog& log, const InstallState& state,
                               bool onlyLook);

// Excel's version as the run may use it in a key: digits and dots only, never guessed.
std::optional<std::wstring> UsableExcelVersion(const std::wstring& answered);

// Excel remembers add-ins it was told to disable after a crash, and never loads them again on
// its own. Removes each that names the installed add-in, `installedPath` itself, unless
// `onlyLook`; hands back whether any stays in the list, or may, where the list cannot be read.
bool ClearDisabledItems(HostServices& host, const std::wstring& version,
                        const std::wstring& installedPath, bool onlyLook);

// Whether Excel will trust the start-up folder, and so what the add-in's macros will do; logged.
TrustVerdict ReadTrust(HostServices& host, const std::wstring& version,
                       const std::wstring& startupFolder);

} // namespace qx
