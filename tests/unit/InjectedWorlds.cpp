#include "InjectedWorlds.h"

#include "installer/Messages.h"

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
void OpenUsersExcel(FakeHost& h) {
    h.usersExcelRunning = true;
    h.excelWindowOpen = true;
    h.files[kOtherWorkbook] = "the user's report";
    h.openInUsersExcel.insert(kOtherWorkbook);
}

} // namespace

const World kWorlds[14] = {
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
    return s;
}

FakeHost Arranged(const World& world, const Mode& mode) {
    FakeHost host;
    host.files[kSource] = kNewAddin;
    world.arrange(host);
    host.userAnswer = mode.answer;
    return host;
}

} // namespace qx::testing
