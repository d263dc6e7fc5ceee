#include "FakeHost.h"

#include <locale>

namespace qx::testing {

namespace {

class FakeExcel : public ExcelApplication {
public:
    explicit FakeExcel(bool usersOwn) : users(usersOwn) {}
    const bool users;
};

bool IsUsers(const ExcelApplicationHandle& excel) {
    return excel && static_cast<const FakeExcel*>(excel.get())->users;
}

HostError Rejected() {
    return HostError{0x80010001u, L"被呼叫方拒绝了呼叫。", false};
}

HostError SharingViolation() {
    return HostError{32, L"另一个程序正在使用此文件，进程无法访问。\r\n", false};
}

HostError NotFound() {
    return HostError{2, L"系统找不到指定的文件。\r\n", true};
}

HostError PathNotFound() {
    return HostError{3, L"系统找不到指定的路径。\r\n", true};
}

std::wstring NameOf(const std::wstring& path) {
    const auto separator = path.find_last_of(L'\\');
    return separator == std::wstring::npos ? path : path.substr(separator + 1);
}

std::wstring FolderOf(const std::wstring& path) {
    const auto separator = path.find_last_of(L'\\');
    return separator == std::wstring::npos ? std::wstring() : path.substr(0, separator);
}

// Windows compares file names by its own upper-case table, which knows every script; the C
// library's, in a UTF-8 locale, stands in for it.
std::wstring UpperCase(const std::wstring& text) {
    static const std::locale unicode("C.UTF-8");
    std::wstring upper = text;
    std::use_facet<std::ctype<wchar_t>>(unicode).toupper(upper.data(), upper.data() + upper.size());
    return upper;
}

std::wstring WithoutTrailingSeparators(std::wstring path) {
    while (path.size() > 3 && path.back() == L'\\') {
        path.pop_back();
    }
    return path;
}

bool StartsWithFolder(const std::wstring& path, const std::wstring& folder) {
    return path.size() > folder.size() && path.compare(0, folder.size(), folder) == 0 &&
           (folder.back() == L'\\' || path[folder.size()] == L'\\');
}

} // namespace

// The process that died makes no more calls; what it would have called it never reaches.
HostError DiedError() {
    return HostError{1067, L"进程意外终止。", false};
}

std::optional<HostError> FakeHost::Forced(Op op) {
    if (!durableTaken_) {
        durableTaken_ = true;
        durableFiles_ = files;
        durableSettings_ = settingsSections;
    }
    if (dead_ || (diesBeforeCall != 0 && ops.size() + 1 >= diesBeforeCall)) {
        dead_ = true;
        return DiedError();
    }
    ops.push_back(op);
    const int nth = ++callCounts_[op];
    const auto found = failures.find({op, nth});
    if (found == failures.end()) {
        return std::nullopt;
    }
    failed.insert({op, nth});
    return found->second;
}

// A call the dead process never made breaks nothing off.
bool FakeHost::BreaksOff(Op op) const {
    const auto made = callCounts_.find(op);
    return !dead_ && made != callCounts_.end() && breakingOff.count({op, made->second}) != 0;
}

// The bytes are in the cache; the disk gets them when they are flushed.
void FakeHost::WriteUnflushed(const std::wstring& path, std::string bytes) {
    files[path] = std::move(bytes);
    unflushed_.insert(path);
}

// Flushing a file writes its bytes, and the file system's journal with every name and size
// changed so far.
void FakeHost::Flush(const std::wstring& path) {
    unflushed_.erase(path);
    durableFiles_ = DiskView();
}

// Every file by its name and size now; where the bytes were never flushed, the disk holds
// whatever its blocks held: zeros here, neither the earlier bytes nor the new.
std::map<std::wstring, std::string> FakeHost::DiskView() const {
    std::map<std::wstring, std::string> disk = files;
    for (const auto& path : unflushed_) {
        if (const auto found = disk.find(path); found != disk.end()) {
            found->second.assign(found->second.size(), '\0');
        }
    }
    return disk;
}

FakeHost FakeHost::NextRun() const {
    FakeHost next;
    next.desktopUser = desktopUser;
    next.excelInstalled = excelInstalled;
    next.usersExcelRunning = usersExcelRunning;
    next.usersExcelAnswers = usersExcelAnswers;
    next.excelWindowOpen = excelWindowOpen;
    next.openInUsersExcel = openInUsersExcel;
    next.startupFolder = startupFolder;
    next.temporaryFolder = temporaryFolder;
    next.programFolder = programFolder;
    next.files = files;
    next.hiddenFiles = hiddenFiles;
    next.readOnlyFiles = readOnlyFiles;
    next.lockedFiles = lockedFiles;
    next.missingFolders = missingFolders;
    next.settingsApplications = settingsApplications;
    next.settingsSections = settingsSections;
    next.userAnswer = userAnswer;
    next.excelVersion = excelVersion;
    next.userRegistry = userRegistry;
    next.environment = environment;
    next.shortNames = shortNames;
    next.networkFolders = networkFolders;
    return next;
}

FakeHost FakeHost::AfterPowerCut(PowerCut cut) const {
    FakeHost after = NextRun();
    if (durableTaken_) {
        after.files = cut == PowerCut::FileNamesLogged ? DiskView() : durableFiles_;
        if (cut != PowerCut::RegistryWritten) {
            after.settingsSections = durableSettings_;
        }
    }
    for (auto* attributes : {&after.hiddenFiles, &after.readOnlyFiles}) {
        for (auto path = attributes->begin(); path != attributes->end();) {
            path = after.files.count(*path) != 0 ? std::next(path) : attributes->erase(path);
        }
    }
    // Excel went down with the machine.
    after.usersExcelRunning = false;
    after.excelWindowOpen = false;
    after.openInUsersExcel.clear();
    return after;
}

bool FakeHost::ShowedAnything() const {
    for (const auto& call : calls) {
        for (const wchar_t* shown : {L"AskYesNo", L"Inform", L"Warn", L"ShowSuccessWindow"}) {
            if (call.rfind(shown, 0) == 0) {
                return true;
            }
        }
    }
    return false;
}

bool FakeHost::HasSection(const std::wstring& application, const std::wstring& section) const {
    return settingsSections.count(application + L"\\" + section) != 0;
}

std::wstring FakeHost::Setting(const std::wstring& application, const std::wstring& section,
                               const std::wstring& key) const {
    const auto found = settingsSections.find(application + L"\\" + section);
    if (found == settingsSections.end() || found->second.count(key) == 0) {
        return L"<absent>";
    }
    return found->second.at(key);
}

Outcome<bool> FakeHost::RunsAsDesktopUser() {
    calls.push_back(L"RunsAsDesktopUser");
    if (auto error = Forced(Op::RunsAsDesktopUser)) {
        return *error;
    }
    if (!desktopUser) {
        return HostError{1168, L"找不到元素。\r\n", false};
    }
    return *desktopUser;
}

// Excel holds the workbooks it has open, as Windows' sharing rules make it.
bool FakeHost::InUse(const std::wstring& path) const {
    return lockedFiles.count(path) != 0 || openInUsersExcel.count(path) != 0;
}

Outcome<ExcelApplicationHandle> FakeHost::AttachToRunningExcel() {
    calls.push_back(L"AttachToRunningExcel");
    if (auto error = Forced(Op::AttachToRunningExcel)) {
        return *error;
    }
    if (!usersExcelRunning) {
        return HostError{0x800401E3u, L"操作无法使用", true};
    }
    ExcelApplicationHandle excel(new FakeExcel(true));
    handedOut = excel.get();
    return excel;
}

bool FakeHost::ExcelWindowOpen() {
    calls.push_back(L"ExcelWindowOpen");
    return excelWindowOpen;
}

Status FakeHost::OpenAddin(const ExcelApplicationHandle& excel, const std::wstring& path) {
    calls.push_back(L"OpenAddin " + path);
    const auto forced = Forced(Op::OpenAddin);
    if (forced && !HappensAnyway(Op::OpenAddin)) {
        return *forced;
    }
    if (!IsUsers(excel) || !usersExcelAnswers) {
        return forced.value_or(Rejected());
    }
    if (files.count(path) == 0) {
        return forced.value_or(NotFound());
    }
    openInUsersExcel.insert(path);
    if (forced) {
        return *forced;
    }
    return Completed();
}

Status FakeHost::CloseAddin(const ExcelApplicationHandle& excel, const std::wstring& name) {
    calls.push_back(L"CloseAddin " + name);
    const auto forced = Forced(Op::CloseAddin);
    if (forced && !HappensAnyway(Op::CloseAddin)) {
        return *forced;
    }
    if (!IsUsers(excel) || !usersExcelAnswers) {
        return forced.value_or(Rejected());
    }
    for (auto open = openInUsersExcel.begin(); open != openInUsersExcel.end(); ++open) {
        if (NameOf(*open) == name) {
            openInUsersExcel.erase(open);
            if (forced) {
                return *forced;
            }
            return Completed();
        }
    }
    return forced.value_or(HostError{0x8002000Bu, L"下标越界", true});
}

Outcome<ExcelApplicationHandle> FakeHost::AcquireExcelApplication() {
    calls.push_back(L"AcquireExcelApplication");
    if (auto error = Forced(Op::AcquireExcelApplication)) {
        return *error;
    }
    if (!excelInstalled) {
        return HostError{0x80040154u, L"没有注册类", false};
    }
    ExcelApplicationHandle excel(new FakeExcel(false));
    handedOut = excel.get();
    return excel;
}

Outcome<std::wstring> FakeHost::ReadStartupPath(const ExcelApplicationHandle& excel) {
    calls.push_back(!excel           ? L"ReadStartupPath <empty handle>"
                    : IsUsers(excel) ? L"ReadStartupPath <user's Excel>"
                                     : L"ReadStartupPath");
    if (auto error = Forced(Op::ReadStartupPath)) {
        return *error;
    }
    if (!excel) {
        return HostError{91, L"对象变量未设置", false};
    }
    if (IsUsers(excel) && !usersExcelAnswers) {
        return Rejected();
    }
    return startupFolder;
}

Outcome<std::wstring> FakeHost::ReadExcelVersion(const ExcelApplicationHandle& excel) {
    calls.push_back(L"ReadExcelVersion");
    if (auto error = Forced(Op::ReadExcelVersion)) {
        return *error;
    }
    if (!excel || (IsUsers(excel) && !usersExcelAnswers)) {
        return Rejected();
    }
    if (!excelVersion) {
        return HostError{0x80020003u, L"找不到成员。", false};
    }
    return *excelVersion;
}

Outcome<std::wstring> FakeHost::FindFile(const std::wstring& path) {
    calls.push_back(L"FindFile " + path);
    if (auto error = Forced(Op::FindFile)) {
        return *error;
    }
    if (files.count(path) == 0 || hiddenFiles.count(path) != 0) {
        return std::wstring();
    }
    return NameOf(path);
}

// A call the run gave up on that Excel still carries out.
bool FakeHost::HappensAnyway(Op op) const {
    const auto made = callCounts_.find(op);
    return !dead_ && made != callCounts_.end() && happenAnyway.count({op, made->second}) != 0;
}

Outcome<FileDigest> FakeHost::CopyFile(const std::wstring& source,
                                       const std::wstring& destination) {
    calls.push_back(L"CopyFile " + source + L" -> " + destination);
    if (auto error = Forced(Op::CopyFile)) {
        // Only into a file the copy could open for writing.
        if (BreaksOff(Op::CopyFile) && files.count(source) != 0 && !InUse(destination) &&
            hiddenFiles.count(destination) == 0 && readOnlyFiles.count(destination) == 0) {
            WriteUnflushed(destination, files[source].substr(0, files[source].size() / 2));
        }
        return *error;
    }
    if (files.count(source) == 0) {
        return NotFound();
    }
    const std::wstring folder = FolderOf(destination);
    if (folder.empty() || missingFolders.count(folder) != 0) {
        return PathNotFound();
    }
    if (InUse(destination)) {
        return SharingViolation();
    }
    // Windows' rule: an existing hidden or read-only destination is not replaced.
    if (files.count(destination) != 0 &&
        (hiddenFiles.count(destination) != 0 || readOnlyFiles.count(destination) != 0)) {
        return DefaultError();
    }
    WriteUnflushed(destination, files[source]);
    Flush(destination);
    return DigestOf(files[source]);
}

Status FakeHost::MoveFileReplacing(const std::wstring& from, const std::wstring& to) {
    calls.push_back(L"MoveFileReplacing " + from + L" -> " + to);
    const auto forced = Forced(Op::MoveFileReplacing);
    // Windows says a missing file is missing before anything else.
    if (files.count(from) == 0) {
        failed.erase({Op::MoveFileReplacing, callCounts_[Op::MoveFileReplacing]});
        return NotFound();
    }
    if (forced) {
        return *forced;
    }
    if (FolderOf(to).empty() || missingFolders.count(FolderOf(to)) != 0) {
        return PathNotFound();
    }
    if (otherVolumes.count(FolderOf(from)) != otherVolumes.count(FolderOf(to))) {
        return HostError{17, L"系统无法将文件移到不同的磁盘驱动器。\r\n", false};
    }
    if (readOnlyFiles.count(from) != 0) {
        HostError error = DefaultError();
        error.readOnly = true;
        return error;
    }
    if (InUse(from) || InUse(to)) {
        return SharingViolation();
    }
    if (files.count(to) != 0 && (hiddenFiles.count(to) != 0 || readOnlyFiles.count(to) != 0)) {
        return DefaultError();
    }
    files[to] = files[from];
    files.erase(from);
    if (hiddenFiles.erase(from) != 0) {
        hiddenFiles.insert(to);
    } else {
        hiddenFiles.erase(to);
    }
    if (unflushed_.erase(from) != 0) {
        unflushed_.insert(to);
    } else {
        unflushed_.erase(to);
    }
    // Windows promises a write-through rename on disk only when it copied the file: a rename
    // in place reaches the disk with the journal, at the next flush.
    return Completed();
}

Status FakeHost::FlushFolder(const std::wstring& path) {
    calls.push_back(L"FlushFolder " + path);
    if (auto error = Forced(Op::FlushFolder)) {
        return *error;
    }
    durableFiles_ = DiskView();
    return Completed();
}

Outcome<std::uint32_t> FakeHost::MakeFileOrdinary(const std::wstring& path) {
    calls.push_back(L"MakeFileOrdinary " + path);
    if (auto error = Forced(Op::MakeFileOrdinary)) {
        return *error;
    }
    if (files.count(path) == 0) {
        return NotFound();
    }
    const std::uint32_t cleared = (readOnlyFiles.erase(path) != 0 ? kReadOnlyAttribute : 0) |
                                  (hiddenFiles.erase(path) != 0 ? kHiddenAttribute : 0);
    return cleared;
}

Status FakeHost::RestoreFileAttributes(const std::wstring& path, std::uint32_t attributes) {
    calls.push_back(L"RestoreFileAttributes " + path);
    if (auto error = Forced(Op::RestoreFileAttributes)) {
        return *error;
    }
    if (files.count(path) == 0) {
        return NotFound();
    }
    if ((attributes & kReadOnlyAttribute) != 0) {
        readOnlyFiles.insert(path);
    }
    if ((attributes & kHiddenAttribute) != 0) {
        hiddenFiles.insert(path);
    }
    return Completed();
}

Status FakeHost::CreateFolder(const std::wstring& path) {
    calls.push_back(L"CreateFolder " + path);
    if (auto error = Forced(Op::CreateFolder)) {
        return *error;
    }
    for (std::wstring folder = path; !folder.empty(); folder = FolderOf(folder)) {
        missingFolders.erase(folder);
    }
    return Completed();
}

Status FakeHost::DeleteFile(const std::wstring& path) {
    calls.push_back(L"DeleteFile " + path);
    if (auto error = Forced(Op::DeleteFile)) {
        return *error;
    }
    if (files.count(path) == 0) {
        return NotFound();
    }
    if (InUse(path)) {
        return SharingViolation();
    }
    if (readOnlyFiles.count(path) != 0) {
        HostError error = DefaultError();
        error.readOnly = true;
        return error;
    }
    files.erase(path);
    hiddenFiles.erase(path);
    unflushed_.erase(path);
    return Completed();
}

Outcome<std::string> FakeHost::ReadFileBytes(const std::wstring& path) {
    calls.push_back(L"ReadFileBytes " + path);
    if (auto error = Forced(Op::ReadFileBytes)) {
        return *error;
    }
    if (files.count(path) == 0) {
        return NotFound();
    }
    return files[path];
}

Status FakeHost::WriteFileBytes(const std::wstring& path, const std::string& bytes) {
    calls.push_back(L"WriteFileBytes " + path);
    if (auto error = Forced(Op::WriteFileBytes)) {
        if (BreaksOff(Op::WriteFileBytes) && files.count(path) != 0 && !InUse(path) &&
            hiddenFiles.count(path) == 0 && readOnlyFiles.count(path) == 0) {
            WriteUnflushed(path, bytes.substr(0, bytes.size() / 2));
        }
        return *error;
    }
    if (FolderOf(path).empty() || missingFolders.count(FolderOf(path)) != 0) {
        return PathNotFound();
    }
    if (InUse(path)) {
        return SharingViolation();
    }
    if (readOnlyFiles.count(path) != 0 || hiddenFiles.count(path) != 0) {
        return DefaultError();
    }
    WriteUnflushed(path, bytes);
    Flush(path);
    return Completed();
}

Outcome<bool> FakeHost::FileExists(const std::wstring& path) {
    calls.push_back(L"FileExists " + path);
    if (auto error = Forced(Op::FileExists)) {
        return *error;
    }
    return files.count(path) != 0;
}

// The world's names are already long names, in one case.
Outcome<bool> FakeHost::IsInTemporaryFolder(const std::wstring& folder) {
    calls.push_back(L"IsInTemporaryFolder " + folder);
    if (auto error = Forced(Op::IsInTemporaryFolder)) {
        return *error;
    }
    return folder == temporaryFolder || folder.rfind(temporaryFolder + L"\\", 0) == 0;
}

Outcome<bool> FakeHost::IsOnNetwork(const std::wstring& folder) {
    calls.push_back(L"IsOnNetwork " + folder);
    if (auto error = Forced(Op::IsOnNetwork)) {
        return *error;
    }
    for (const auto& network : networkFolders) {
        if (folder == network || folder.rfind(network + L"\\", 0) == 0) {
            return true;
        }
    }
    return false;
}

Outcome<bool> FakeHost::SameBytesAfterScan(const std::wstring& path, const FileDigest& staged) {
    calls.push_back(L"SameBytesAfterScan " + path);
    if (auto error = Forced(Op::SameBytesAfterScan)) {
        return *error;
    }
    // The security program has had its moment.
    if (quarantined && cleans && files.count(*quarantined) != 0) {
        // Its own write, which it makes sure of; the journal's other news stays as it was.
        files[*quarantined] = kCleaned;
        if (durableFiles_.count(*quarantined) != 0) {
            durableFiles_[*quarantined] = kCleaned;
        }
    } else if (quarantined && files.erase(*quarantined) != 0) {
        hiddenFiles.erase(*quarantined);
        readOnlyFiles.erase(*quarantined);
    }
    if (files.count(path) == 0) {
        return NotFound();
    }
    return DigestOf(files[path]) == staged;
}

bool FakeHost::SameFileName(const std::wstring& first, const std::wstring& second) {
    return UpperCase(first) == UpperCase(second);
}

// Expanded as Windows expands, an unknown variable left as written, which cannot be resolved;
// then each short folder by its long name; then compared as file names are.
Outcome<bool> FakeHost::LocationCovers(const std::wstring& location, const std::wstring& folder,
                                       bool withSubfolders) {
    calls.push_back(L"LocationCovers " + location + L" | " + folder);
    if (auto error = Forced(Op::LocationCovers)) {
        return *error;
    }
    const auto resolve = [this](const std::wstring& text) -> Outcome<std::wstring> {
        std::wstring expanded;
        std::size_t at = 0;
        while (at < text.size()) {
            const auto open = text.find(L'%', at);
            const auto close = open == std::wstring::npos ? open : text.find(L'%', open + 1);
            if (close == std::wstring::npos) {
                expanded += text.substr(at);
                break;
            }
            const auto value = environment.find(text.substr(open + 1, close - open - 1));
            if (value == environment.end()) {
                return HostError{203, L"系统找不到输入的环境选项。\r\n", false};
            }
            expanded += text.substr(at, open - at) + value->second;
            at = close + 1;
        }
        std::wstring upper = WithoutTrailingSeparators(UpperCase(expanded));
        for (const auto& [shortPath, longPath] : shortNames) {
            const std::wstring shortUpper = UpperCase(shortPath);
            if (upper == shortUpper || StartsWithFolder(upper, shortUpper)) {
                upper = UpperCase(longPath) + upper.substr(shortUpper.size());
            }
        }
        return upper;
    };
    const auto trusted = resolve(location);
    if (!trusted) {
        return trusted.error();
    }
    const auto looked = resolve(folder);
    if (!looked) {
        return looked.error();
    }
    return looked.value() == trusted.value() ||
           (withSubfolders && StartsWithFolder(looked.value(), trusted.value()));
}

Outcome<std::wstring> FakeHost::ApplicationFolder() {
    calls.push_back(L"ApplicationFolder");
    if (auto error = Forced(Op::ApplicationFolder)) {
        return *error;
    }
    return programFolder;
}

Status FakeHost::SaveSetting(const std::wstring& application, const std::wstring& section,
                             const std::wstring& key, const std::wstring& value) {
    calls.push_back(L"SaveSetting " + application + L" | " + section + L" | " + key + L" = " +
                    value);
    if (auto error = Forced(Op::SaveSetting)) {
        return *error;
    }
    settingsApplications.insert(application);
    settingsSections[application + L"\\" + section][key] = value;
    return Completed();
}

Outcome<std::wstring> FakeHost::ReadSetting(const std::wstring& application,
                                            const std::wstring& section, const std::wstring& key) {
    calls.push_back(L"ReadSetting " + application + L" | " + section + L" | " + key);
    if (auto error = Forced(Op::ReadSetting)) {
        return *error;
    }
    const auto found = settingsSections.find(application + L"\\" + section);
    if (found == settingsSections.end() || found->second.count(key) == 0) {
        return NotFound();
    }
    return found->second.at(key);
}

Status FakeHost::DeleteSettingKey(const std::wstring& application, const std::wstring& section,
                                  const std::wstring& key) {
    calls.push_back(L"DeleteSettingKey " + application + L" | " + section + L" | " + key);
    if (auto error = Forced(Op::DeleteSettingKey)) {
        return *error;
    }
    const auto found = settingsSections.find(application + L"\\" + section);
    if (found == settingsSections.end() || found->second.erase(key) == 0) {
        return NotFound();
    }
    return Completed();
}

Status FakeHost::DeleteSetting(const std::wstring& application, const std::wstring& section) {
    calls.push_back(L"DeleteSetting " + application + L" | " + section);
    if (auto error = Forced(Op::DeleteSetting)) {
        return *error;
    }
    if (settingsSections.erase(application + L"\\" + section) == 0) {
        return NotFound();
    }
    return Completed();
}

Status FakeHost::FlushSettings(const std::wstring& application, const std::wstring& section) {
    calls.push_back(L"FlushSettings " + application + L" | " + section);
    if (auto error = Forced(Op::FlushSettings)) {
        return *error;
    }
    if (!HasSection(application, section)) {
        return NotFound();
    }
    durableSettings_ = settingsSections;
    return Completed();
}

Outcome<std::uint32_t> FakeHost::ReadUserNumber(const std::wstring& key, const std::wstring& name) {
    calls.push_back(L"ReadUserNumber " + key + L" | " + name);
    if (auto error = Forced(Op::ReadUserNumber)) {
        return *error;
    }
    const auto found = userRegistry.find(key);
    if (found == userRegistry.end() || found->second.count(name) == 0 ||
        !found->second.at(name).number) {
        return NotFound();
    }
    return *found->second.at(name).number;
}

Outcome<std::wstring> FakeHost::ReadUserText(const std::wstring& key, const std::wstring& name) {
    calls.push_back(L"ReadUserText " + key + L" | " + name);
    if (auto error = Forced(Op::ReadUserText)) {
        return *error;
    }
    const auto found = userRegistry.find(key);
    if (found == userRegistry.end() || found->second.count(name) == 0 ||
        !found->second.at(name).text) {
        return NotFound();
    }
    return *found->second.at(name).text;
}

// A key exists when it, or any key below it, holds a value.
Outcome<std::vector<std::wstring>> FakeHost::ListUserSubkeys(const std::wstring& key) {
    calls.push_back(L"ListUserSubkeys " + key);
    if (auto error = Forced(Op::ListUserSubkeys)) {
        return *error;
    }
    std::set<std::wstring> children;
    bool exists = false;
    for (const auto& [path, values] : userRegistry) {
        if (path == key) {
            exists = true;
        } else if (path.rfind(key + L"\\", 0) == 0) {
            exists = true;
            const std::wstring below = path.substr(key.size() + 1);
            children.insert(below.substr(0, below.find(L'\\')));
        }
    }
    if (!exists) {
        return NotFound();
    }
    return std::vector<std::wstring>(children.begin(), children.end());
}

Outcome<std::vector<RegistryValue>> FakeHost::ListUserValues(const std::wstring& key) {
    calls.push_back(L"ListUserValues " + key);
    if (auto error = Forced(Op::ListUserValues)) {
        return *error;
    }
    const auto found = userRegistry.find(key);
    if (found == userRegistry.end()) {
        return NotFound();
    }
    std::vector<RegistryValue> values;
    for (const auto& [name, value] : found->second) {
        values.push_back({name, value.bytes});
    }
    return values;
}

Status FakeHost::DeleteUserValue(const std::wstring& key, const std::wstring& name) {
    calls.push_back(L"DeleteUserValue " + key + L" | " + name);
    if (auto error = Forced(Op::DeleteUserValue)) {
        return *error;
    }
    const auto found = userRegistry.find(key);
    if (found == userRegistry.end() || found->second.erase(name) == 0) {
        return NotFound();
    }
    return Completed();
}

Outcome<std::int16_t> FakeHost::AskYesNo(const std::wstring& prompt) {
    calls.push_back(L"AskYesNo " + prompt);
    if (auto error = Forced(Op::AskYesNo)) {
        return *error;
    }
    if (!userAnswer) {
        return HostError{1400, L"无效的窗口句柄。", false};
    }
    shownMessages.push_back(L"AskYesNo: " + prompt);
    return *userAnswer;
}

Status FakeHost::Inform(const std::wstring& prompt) {
    calls.push_back(L"Inform " + prompt);
    if (auto error = Forced(Op::Inform)) {
        return *error;
    }
    shownMessages.push_back(L"Inform: " + prompt);
    return Completed();
}

Status FakeHost::Warn(const std::wstring& prompt) {
    calls.push_back(L"Warn " + prompt);
    if (auto error = Forced(Op::Warn)) {
        return *error;
    }
    shownMessages.push_back(L"Warn: " + prompt);
    return Completed();
}

Status FakeHost::ShowSuccessWindow() {
    calls.push_back(L"ShowSuccessWindow");
    if (auto error = Forced(Op::ShowSuccessWindow)) {
        return *error;
    }
    successWindowShown = true;
    return Completed();
}

void FakeHost::UnloadWindow() {
    calls.push_back(L"UnloadWindow");
}

void FakeHost::EndProgram() {
    calls.push_back(L"EndProgram");
}

void FakeHost::Log(const std::wstring& line) {
    logLines.push_back(line);
}

} // namespace qx::testing
