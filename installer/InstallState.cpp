#include "installer/InstallState.h"

#include "installer/Paths.h"

namespace qx {

std::wstring InstallState::InstalledAddinPath() const {
    return JoinPath(startupFolder, kInstalledAddinName);
}

std::wstring InstallState::SourcePath() const {
    return JoinPath(programFolder, kAddinSourceName);
}

std::wstring InstallState::StagingPath() const {
    return JoinPath(ParentFolder(startupFolder), kStagingName);
}

std::wstring InstallState::WorkbookPath() const {
    return JoinPath(programFolder, kWorkbookName);
}

} // namespace qx
