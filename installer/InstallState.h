#pragma once

#include "host/HostServices.h"

#include <string>

namespace qx {

// Which Excel gave the start-up folder.
enum class ExcelUsed {
    None,
    Users,              // the one the user has open
    StartedBesideUsers, // one started for the run: the user's is open but could not be reached
    Started,            // one started for the run: none was open
};

// The run's own state, kept from the moment each is set until the program ends. Excel is never
// told to quit: the handle only goes away with the program.
struct InstallState {
    ExcelApplicationHandle excel;
    std::wstring startupFolder;
    ExcelUsed excelUsed = ExcelUsed::None;
    // Looked up once, by a run that installs.
    std::wstring programFolder;

    std::wstring InstalledAddinPath() const;
    std::wstring SourcePath() const;
    // Beside the start-up folder, on its volume, but not in it.
    std::wstring StagingPath() const;
    std::wstring WorkbookPath() const;
};

} // namespace qx
