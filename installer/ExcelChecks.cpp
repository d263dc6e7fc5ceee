#include "installer/ExcelChecks.h"

#include "installer/Messages.h"
#include "installer/Text.h"

#include <utility>
#include <vector>

namespace qx {

namespace {

constexpr char kUserOffice[] = "Software\\Microsoft\\Office\\";
constexpr char kPolicyOffice[] = "Software\\Policies\\Microsoft\\Office\\";
constexpr char kDisabledItems[] = "\\Excel\\Resiliency\\DisabledItems";
constexpr char kExcelLocations[] = "\\Excel\\Security\\Trusted Locations";
constexpr char kCommonLocations[] = "\\Common\\Security\\Trusted Locations";
constexpr char kExcelSecurity[] = "\\Excel\\Security";

// "Read HKCU\<key>\<name>: <what was read>": every value the checks read is logged so. A value
// that cannot be read is as if not set: the decision never rests on a guess, and Excel reads it
// no better.
void LogRead(StepLog& log, const std::wstring& key, const wchar_t* name, const std::wstring* value,
             const HostError* error) {
    std::wstring line = Joined({"Read HKCU\\", key, "\\", name, ": "});
    if (value) {
        Append(line, {*value});
    } else if (error->notFound) {
        Append(line, {"not set"});
    } else {
        Append(line, {FailureText(*error)});
    }
    log.Log({line});
}
void LogRead(StepLog& log, const std::wstring& key, const wchar_t* name,
             const Outcome<std::wstring>& read) {
    LogRead(log, key, name, read ? &read.value() : nullptr, read ? nullptr : &read.error());
}
void LogRead(StepLog& log, const std::wstring& key, const wchar_t* name,
             const Outcome<std::uint32_t>& read) {
    const std::wstring number = read ? Decimal(read.value()) : std::wstring();
    LogRead(log, key, name, read ? &number : nullptr, read ? nullptr : &read.error());
}

// The strings in one of Excel's disabled items: its value read as UTF-16 at even offsets, a NUL
// ending each. Excel keeps a few numbers, then the item's path.
std::vector<std::wstring> StringsIn(const std::string& bytes) {
    std::vector<std::wstring> strings(1);
    for (std::size_t at = 0; at + 1 < bytes.size(); at += 2) {
        const auto unit = static_cast<wchar_t>(static_cast<unsigned char>(bytes[at]) |
                                               static_cast<unsigned char>(bytes[at + 1]) << 8);
        if (unit == L'\0') {
            strings.emplace_back();
        } else {
            strings.back() += unit;
        }
    }
    return strings;
}

// Whether the item is the installed add-in's own: a string in it ends with that file's full path,
// in any letter case, right where the string ends. An item for a file of the same name in
// another folder, for "QxButton.xlam" or for "QxButton.xla.bak" is another file's.
bool NamesTheFile(HostServices& host, const std::string& item, const std::wstring& path) {
    for (const std::wstring& text : StringsIn(item)) {
        if (text.size() >= path.size() &&
            host.SameFileName(text.substr(text.size() - path.size()), path)) {
            return true;
        }
    }
    return false;
}

class RegistryTrustSettings final : public TrustSettings {
public:
    RegistryTrustSettings(HostServices& host, StepLog& log, const std::wstring& version,
                          const std::wstring& folder)
        : host_(host), log_(log), version_(version), folder_(folder) {}

    std::optional<std::uint32_t> Number(TrustNumber which) override {
        const auto [keyEnd, name] = Where(which);
        for (const char* root : {kPolicyOffice, kUserOffice}) {
            const std::wstring key = Joined({root, version_, keyEnd});
            const auto read = host_.ReadUserNumber(key, name);
            LogRead(log_, key, name, read);
            if (read) {
                return read.value();
            }
        }
        return std::nullopt;
    }

    std::vector<PolicyLocation> PolicyLocations() override {
        const std::wstring parent = Joined({kPolicyOffice, version_, kExcelLocations});
        const auto subkeys = host_.ListUserSubkeys(parent);
        std::vector<PolicyLocation> locations;
        if (!subkeys) {
            if (subkeys.error().notFound) {
                log_.Log({"Read HKCU\\", parent, ": not set"});
            } else {
                log_.Log({"Read HKCU\\", parent, ": ", FailureText(subkeys.error())});
            }
            return locations;
        }
        for (const std::wstring& subkey : subkeys.value()) {
            const std::wstring key = Joined({parent, "\\", subkey});
            const auto path = host_.ReadUserText(key, L"Path");
            LogRead(log_, key, L"Path", path);
            if (!path) {
                continue;
            }
            const auto subfolders = host_.ReadUserNumber(key, L"AllowSubfolders");
            LogRead(log_, key, L"AllowSubfolders", subfolders);
            locations.push_back({path.value(), subfolders && subfolders.value() == 1});
        }
        return locations;
    }

    bool Covers(const PolicyLocation& location) override {
        const auto covers = host_.LocationCovers(location.path, folder_, location.allowSubfolders);
        if (!covers) {
            log_.Log({"Does ", location.path, " cover ", folder_, ": cannot tell (",
                      ErrorText(covers.error()), "), so taken as covering it"});
            return true;
        }
        log_.Log({"Does ", location.path, " cover ", folder_, ": ", covers.value() ? "yes" : "no"});
        return covers.value();
    }

    bool FolderOnNetwork() override {
        const auto remote = host_.IsOnNetwork(folder_);
        if (remote) {
            log_.Log({"Is ", folder_, " on the network: ", remote.value() ? "yes" : "no"});
        } else {
            log_.Log({"Is ", folder_, " on the network: ", FailureText(remote.error()),
                      ", so taken as not"});
        }
        return remote && remote.value();
    }

private:
    static std::pair<const char*, const wchar_t*> Where(TrustNumber which) {
        switch (which) {
        case TrustNumber::AllLocationsDisabled:
            return {kExcelLocations, L"AllLocationsDisabled"};
        case TrustNumber::AllowUserLocations:
            return {kCommonLocations, L"Allow User Locations"};
        case TrustNumber::AllowNetworkLocations:
            return {kExcelLocations, L"AllowNetworkLocations"};
        case TrustNumber::VbaWarnings:
            break;
        }
        return {kExcelSecurity, L"VBAWarnings"};
    }

    HostServices& host_;
    StepLog& log_;
    const std::wstring version_;
    const std::wstring folder_;
};

const char* WhyText(Distrust why) {
    switch (why) {
    case Distrust::AllLocationsDisabled:
        return "every trusted location is disabled";
    case Distrust::OnlyPolicyLocations:
        return "only locations set by policy are trusted, and none covers it";
    case Distrust::OnTheNetwork:
        return "it is on the network, where locations are not trusted";
    case Distrust::None:
        break;
    }
    return "";
}

const char* MacrosText(AtNextStart macros) {
    switch (macros) {
    case AtNextStart::Run:
        return "run";
    case AtNextStart::RunOnceEnabled:
        return "run once the user enables them, asked at every start";
    case AtNextStart::RunIfSigned:
        return "run only if signed by a publisher the organisation trusts";
    case AtNextStart::NeverRun:
        break;
    }
    return "never run";
}

} // namespace

// Excel's version names where its settings are. Without it nothing is checked: a guessed
// version would read another Excel's settings and tell the user something untrue.
NextStart LookAtExcelsSettings(HostServices& host, StepLog& log, const InstallState& state,
                               bool onlyLook) {
    NextStart next;
    const auto answered =
        log.Logged({"Ask Excel for its version"}, host.ReadExcelVersion(state.excel));
    const auto version = answered ? UsableExcelVersion(answered.value()) : std::nullopt;
    if (!version) {
        log.Log({"Excel's version is not known", answered ? " (it answered \"" : "",
                 answered ? answered.value() : L"", answered ? "\")" : "",
                 ": its disabled items and trust settings are not checked"});
        return next;
    }
    log.Log({"Excel's version: ", *version});
    next.disabled = ClearDisabledItems(host, *version, state.InstalledAddinPath(), onlyLook);
    next.macros = ReadTrust(host, *version, state.startupFolder).macros;
    return next;
}

std::optional<std::wstring> UsableExcelVersion(const std::wstring& answered) {
    if (answered.empty() || answered.size() > 8 || answered.front() == L'.') {
        return std::nullopt;
    }
    for (const wchar_t c : answered) {
        if (c != L'.' && (c < L'0' || c > L'9')) {
            return std::nullopt;
        }
    }
    return answered;
}

bool ClearDisabledItems(HostServices& host, const std::wstring& version,
                        const std::wstring& installedPath, bool onlyLook) {
    StepLog log(host);
    const std::wstring key = Joined({kUserOffice, version, kDisabledItems});
    const auto values = host.ListUserValues(key);
    if (!values) {
        if (values.error().notFound) {
            log.Log({"Read HKCU\\", key, ": none"});
            return false;
        }
        // Unread is not "not disabled": the user hears how to check, as for an item that stays.
        log.Log({"Read HKCU\\", key, ": ", FailureText(values.error()),
                 ", so the add-in may be among them"});
        return true;
    }
    bool stays = false;
    for (const RegistryValue& value : values.value()) {
        if (!NamesTheFile(host, value.bytes, installedPath)) {
            continue;
        }
        if (onlyLook) {
            log.Log({"Excel's disabled item HKCU\\", key, "\\", value.name, ", which names ",
                     installedPath, ": there"});
            stays = true;
            continue;
        }
        stays = !log.Logged({"Delete Excel's disabled item HKCU\\", key, "\\", value.name,
                             ", which names ", installedPath},
                            host.DeleteUserValue(key, value.name)) ||
                stays;
    }
    return stays;
}

TrustVerdict ReadTrust(HostServices& host, const std::wstring& version,
                       const std::wstring& startupFolder) {
    StepLog log(host);
    RegistryTrustSettings settings(host, log, version, startupFolder);
    const TrustVerdict verdict = DecideTrust(settings);
    if (verdict.why == Distrust::None) {
        log.Log({"Trust in Excel ", version, ": ", startupFolder,
                 " is a trusted location; the add-in's macros run"});
    } else {
        log.Log({"Trust in Excel ", version, ": ", startupFolder, " is not a trusted location (",
                 WhyText(verdict.why), "); the add-in's macros ", MacrosText(verdict.macros)});
    }
    return verdict;
}

} // namespace qx
