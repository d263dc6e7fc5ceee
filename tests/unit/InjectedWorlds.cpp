#include "InjectedWorlds.h"

#include "installer/Messages.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <iostream>

namespace qx::testing {

namespace {

void WriteEarlierRecord(FakeHost& h) {
    h.settingsSections[kRecord] = {
        {L"Path", L"E:\\旧版\\TORVA.xls"}, {L"Unit", L"Halvetri"}, {L"Theme", L"蓝色"}};
}
void InstallEarlier(FakeHost& h) {
    h.files[kInstalled] = kEarlierAddin;
    WriteEarlierRecord(h);
}
// As Excel records a disabled item: three numbers, then its path lower-cased, in UTF-16, and
// a NUL.
std::string DisabledItem(const std::wstring& path) {
    std::string bytes(12, '\0');
    for (const wchar_t c : path) {
        bytes += static_cast<char>(c & 0xFF);
        bytes += static_cast<char>((c >> 8) & 0xFF);
    }
    return bytes + std::string(2, '\0');
}
const std::wstring kInstalledLowerCase =
    L"c:\\users\\lin\\appdata\\roaming\\microsoft\\excel\\xlstart\\qxbutton.xla";
const std::string kAddinsOwnItem = DisabledItem(kInstalledLowerCase);

void SetPolicy(FakeHost& h, const std::wstring& key, const std::wstring& name,
               std::uint32_t number) {
    h.userRegistry[L"Software\\Policies\\Microsoft\\Office\\16.0\\" + key][name].number = number;
}

void OpenUsersExcel(FakeHost& h) {
    h.usersExcelRunning = true;
    h.excelWindowOpen = true;
    h.files[kOtherWorkbook] = "the user's report";
    h.openInUsersExcel.insert(kOtherWorkbook);
}

} // namespace

const World kWorlds[19] = {
    {"nothing installed", [](FakeHost&) {}},
    {"installed with its record", InstallEarlier},
    {"an add-in without its record", [](FakeHost& h) { h.files[kInstalled] = kEarlierAddin; }},
    {"a record without its add-in", WriteEarlierRecord},
    {"a hidden, read-only leftover",
     [](FakeHost& h) {
         h.files[kInstalled] = "leftover";
         h.hiddenFiles.insert(kInstalled);
         h.readOnlyFiles.insert(kInstalled);
     }},
    {"a read-only add-in with its record",
     [](FakeHost& h) {
         InstallEarlier(h);
         h.readOnlyFiles.insert(kInstalled);
     }},
    {"the user's Excel open, nothing installed", OpenUsersExcel},
    // Installed, but closed there by the user: a failure must not open it.
    {"the user's Excel open, the add-in installed but not loaded there",
     [](FakeHost& h) {
         InstallEarlier(h);
         OpenUsersExcel(h);
     }},
    {"the user's Excel open with the add-in loaded",
     [](FakeHost& h) {
         InstallEarlier(h);
         OpenUsersExcel(h);
         h.openInUsersExcel.insert(kInstalled);
     }},
    {"the user's Excel busy with the add-in loaded",
     [](FakeHost& h) {
         InstallEarlier(h);
         OpenUsersExcel(h);
         h.openInUsersExcel.insert(kInstalled);
         h.usersExcelAnswers = false;
     }},
    // Opened from inside a zip: the program alone, without its add-in.
    {"installed, the program's folder without its add-in",
     [](FakeHost& h) {
         InstallEarlier(h);
         h.files.erase(kSource);
     },
     kAddinSourceMissing},
    {"nothing installed, the program's folder without its add-in",
     [](FakeHost& h) { h.files.erase(kSource); }, kAddinSourceMissing},
    // Extracted by Explorer into the temporary folder, add-in and all.
    {"installed, the program inside the temporary folder",
     [](FakeHost& h) {
         InstallEarlier(h);
         h.programFolder = kTemporary + L"\\Temp1_Quorvale.zip";
         h.files[h.programFolder + L"\\安装.xla"] = kNewAddin;
     },
     kRunsFromTemporaryFolder},
    {"nothing installed, the program inside the temporary folder",
     [](FakeHost& h) {
         h.programFolder = kTemporary + L"\\Temp1_Quorvale.zip";
         h.files[h.programFolder + L"\\安装.xla"] = kNewAddin;
     },
     kRunsFromTemporaryFolder},
    // Excel disabled the add-in after a crash, and another file the user's own.
    {"Excel's disabled items name the add-in, and another file",
     [](FakeHost& h) {
         InstallEarlier(h);
         h.userRegistry[kDisabledItems][L"2C31A4"].bytes = kAddinsOwnItem;
         h.userRegistry[kDisabledItems][L"7F0E12"].bytes =
             DisabledItem(L"d:\\报表\\myqxbutton.xla");
         // Files that only share the name, or part of it.
         h.userRegistry[kDisabledItems][L"0A11B3"].bytes =
             DisabledItem(L"c:\\addins\\qxbutton.xlam");
         h.userRegistry[kDisabledItems][L"1B22C4"].bytes =
             DisabledItem(L"d:\\old\\qxbutton.xla.bak");
         h.userRegistry[kDisabledItems][L"2C33D5"].bytes =
             DisabledItem(L"\\\\server\\addins\\qxbutton.xla");
     }},
    {"every trusted location disabled by policy, where no macro runs",
     [](FakeHost& h) {
         SetPolicy(h, L"Excel\\Security\\Trusted Locations", L"AllLocationsDisabled", 1);
         SetPolicy(h, L"Excel\\Security", L"VBAWarnings", 4);
     },
     nullptr, true},
    {"only policy locations, one covering the start-up folder",
     [](FakeHost& h) {
         SetPolicy(h, L"Common\\Security\\Trusted Locations", L"Allow User Locations", 0);
         const std::wstring location =
             L"Software\\Policies\\Microsoft\\Office\\16.0\\Excel\\Security\\Trusted "
             L"Locations\\Location1";
         h.userRegistry[location][L"Path"].text = L"%APPDATA%\\Microsoft\\Excel\\";
         h.userRegistry[location][L"AllowSubfolders"].number = 1;
         h.environment[L"APPDATA"] = L"C:\\Users\\Lin\\AppData\\Roaming";
         SetPolicy(h, L"Excel\\Security", L"VBAWarnings", 4);
     }},
    // A security program that quarantines the add-in moments after it appears.
    {"a security program that takes the add-in away",
     [](FakeHost& h) { h.quarantined = kInstalled; }},
    // An update that fails after its rename: the earlier add-in is put back.
    {"installed, and a security program that rewrites the new add-in",
     [](FakeHost& h) {
         InstallEarlier(h);
         h.quarantined = kInstalled;
         h.cleans = true;
     },
     nullptr, false, true},
};

const Mode kModes[8] = {
    {"toggle answered Yes", RunMode::Toggle, false, kAnswerYes},
    {"toggle answered No", RunMode::Toggle, false, kAnswerNo},
    {"/install", RunMode::Install, false, kAnswerYes},
    {"/install /quiet", RunMode::Install, true, kAnswerYes},
    {"/uninstall", RunMode::Uninstall, false, kAnswerYes},
    {"/uninstall /quiet", RunMode::Uninstall, true, kAnswerYes},
    {"/status", RunMode::StatusQuery, false, kAnswerYes},
    {"/status /quiet", RunMode::StatusQuery, true, kAnswerYes},
};

bool State::Installed() const {
    return addin == kNewAddin && !hidden && !readOnly && record.count(L"Path") != 0 &&
           record.at(L"Path") == workbook && record.count(L"Unit") != 0 &&
           record.at(L"Unit") == L"Halvetri";
}

State StateOf(const FakeHost& h) {
    State s;
    if (const auto found = h.files.find(kInstalled); found != h.files.end()) {
        s.addin = found->second;
    }
    s.hidden = h.hiddenFiles.count(kInstalled) != 0;
    s.readOnly = h.readOnlyFiles.count(kInstalled) != 0;
    if (const auto found = h.settingsSections.find(kRecord); found != h.settingsSections.end()) {
        s.record = found->second;
    }
    s.loaded = h.openInUsersExcel.count(kInstalled) != 0;
    s.otherWorkbooks = h.openInUsersExcel;
    s.otherWorkbooks.erase(kInstalled);
    s.workbook = h.programFolder + L"\\TORVA.xls";
    if (const auto found = h.userRegistry.find(kDisabledItems); found != h.userRegistry.end()) {
        for (const auto& [name, value] : found->second) {
            s.disabledItems[name] = value.bytes;
            if (value.bytes == kAddinsOwnItem) {
                s.addinDisabled = true;
            } else {
                s.otherDisabled.insert(name);
            }
        }
    }
    return s;
}

bool State::WholeAddin(const State& before, const World& world) const {
    return !addin || addin == before.addin || addin == kNewAddin ||
           (world.scannerRewrites && addin == FakeHost::kCleaned);
}

FakeHost Arranged(const World& world, const Mode& mode) {
    FakeHost host;
    host.files[kSource] = kNewAddin;
    world.arrange(host);
    host.userAnswer = mode.answer;
    return host;
}

FakeHost ReadyForTheNextRun(const FakeHost& left) {
    FakeHost next = left.NextRun();
    next.usersExcelRunning = false;
    next.excelWindowOpen = false;
    next.openInUsersExcel.clear();
    next.programFolder = kProgram;
    next.files[kSource] = kNewAddin;
    return next;
}

long PrintViolations(std::vector<Broken> broken) {
    const std::size_t shown = std::getenv("QX_FAULT_INJECTION_ALL") ? SIZE_MAX : 5;
    long total = 0;
    for (Broken& rule : broken) {
        if (rule.runs.empty()) {
            continue;
        }
        total += static_cast<long>(rule.runs.size());
        std::cout << "rule \"" << rule.rule << "\": " << rule.runs.size() << " violations\n";
        std::stable_sort(rule.runs.begin(), rule.runs.end(),
                         [](const std::string& a, const std::string& b) {
                             return a.find(" then ") == a.npos && b.find(" then ") != b.npos;
                         });
        for (std::size_t i = 0; i < rule.runs.size() && i < shown; ++i) {
            std::cout << "    " << rule.runs[i] << "\n";
        }
    }
    return total;
}

} // namespace qx::testing
