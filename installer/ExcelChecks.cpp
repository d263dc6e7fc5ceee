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

std::wstring Shown(const std::wstring& key, const std::wstring& name) {
    return Joined({"HKCU\\", key, name.empty() ? "" : "\\", name});
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
    RegistryTrustSettings(HostServices& host, const std::wstring& version,
                          const std::wstring& folder)
        : host_(host), version_(version), folder_(folder) {}

    std::optional<std::uint32_t> Number(TrustNumber which) override {
        const auto [keyEnd, name] = Where(which);
        for (const char* root : {kPolicyOffice, kUserOffice}) {
            const std::wstring key = Joined({root, version_, keyEnd});
            const auto read = host_.ReadUserNumber(key, name);
            Logged(key, name, read ? Decimal(read.value()) : Unread(read.error()));
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
            Logged(parent, L"", Unread(subkeys.error()));
            return locations;
        }
        for (const std::wstring& subkey : subkeys.value()) {
            const std::wstring key = Joined({parent, "\\", subkey});
            const auto path = host_.ReadUserText(key, L"Path");
            Logged(key, L"Path", path ? path.value() : Unread(path.error()));
            if (!path) {
                continue;
            }
            const auto subfolders = host_.ReadUserNumber(key, L"AllowSubfolders");
            Logged(key, L"AllowSubfolders",
                   subfolders ? Decimal(subfolders.value()) : Unread(subfolders.error()));
            locations.push_back({path.value(), subfolders && subfolders.value() == 1});
        }
        return locations;
    }

    bool Covers(const PolicyLocation& location) override {
        const auto covers = host_.LocationCovers(location.path, folder_, location.allowSubfolders);
        const std::wstring step = Joined({"Does ", location.path, " cover ", folder_, ": "});
        if (!covers) {
            host_.Log(Joined(
                {step, "cannot tell (", ErrorText(covers.error()), "), so taken as covering it"}));
            return true;
        }
        host_.Log(Joined({step, covers.value() ? "yes" : "no"}));
        return covers.value();
    }

    bool FolderOnNetwork() override {
        const auto remote = host_.IsOnNetwork(folder_);
        if (remote) {
            host_.Log(Joined({"Is ", folder_, " on the network: ", remote.value() ? "yes" : "no"}));
        } else {
            host_.Log(Joined({"Is ", folder_, " on the network: ", FailureText(remote.error()),
                              ", so taken as not"}));
        }
        return remote && remote.value();
    }

    const std::wstring& Folder() const override { return folder_; }

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

    // A value that cannot be read is as if not set: the decision never rests on a guess, and
    // Excel reads it no better.
    static std::wstring Unread(const HostError& error) {
        return error.notFound ? Joined({"not set"}) : FailureText(error);
    }

    void Logged(const std::wstring& key, const std::wstring& name, const std::wstring& what) {
        host_.Log(Joined({"Read ", Shown(key, name), ": ", what}));
    }

    HostServices& host_;
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
    const std::wstring key = Joined({kUserOffice, version, kDisabledItems});
    const auto values = host.ListUserValues(key);
    if (!values) {
        if (values.error().notFound) {
            host.Log(Joined({"Read ", Shown(key, L""), ": none"}));
            return false;
        }
        // Unread is not "not disabled": the user hears how to check, as for an item that stays.
        host.Log(Joined({"Read ", Shown(key, L""), ": ", FailureText(values.error()),
                         ", so the add-in may be among them"}));
        return true;
    }
    bool stays = false;
    for (const RegistryValue& value : values.value()) {
        if (!NamesTheFile(host, value.bytes, installedPath)) {
            continue;
        }
        const std::wstring step = Joined(
            {"Excel's disabled item ", Shown(key, value.name), ", which names ", installedPath});
        if (onlyLook) {
            host.Log(Joined({step, ": there"}));
            stays = true;
            continue;
        }
        const auto deleted = host.DeleteUserValue(key, value.name);
        host.Log(Joined({"Delete ", step, ": ", deleted ? L"done" : FailureText(deleted.error())}));
        stays = stays || !deleted;
    }
    return stays;
}

TrustVerdict ReadTrust(HostServices& host, const std::wstring& version,
                       const std::wstring& startupFolder) {
    RegistryTrustSettings settings(host, version, startupFolder);
    const TrustVerdict verdict = DecideTrust(settings);
    if (verdict.why == Distrust::None) {
        host.Log(Joined({"Trust in Excel ", version, ": ", startupFolder,
                         " is a trusted location; the add-in's macros run"}));
    } else {
        host.Log(
            Joined({"Trust in Excel ", version, ": ", startupFolder, " is not a trusted location (",
                    WhyText(verdict.why), "); the add-in's macros ", MacrosText(verdict.macros)}));
    }
    return verdict;
}

} // namespace qx
