#pragma once

#include "host/HostServices.h"

#include <string>

namespace qx {

// Kept from the moment each is set until the program ends. Excel is never told to quit:
// the handle only goes away with the program.
struct InstallState {
    ExcelApplicationHandle excel;
    std::wstring startupFolder;
};

// The start procedure: installs the add-in, or offers to remove it when it is installed.
class MainMod {
public:
    explicit MainMod(HostServices& host) : host_(host) {}

    void Main();

    const InstallState& state() const { return state_; }

private:
    void Uninstall();
    void Install();
    Status CopyAddinIntoStartupFolder();
    Status RecordWorkbookPath();
    void RollBackInstall(const HostError& cause);
    std::wstring InstalledAddinPath() const;

    HostServices& host_;
    InstallState state_;
};

} // namespace qx
