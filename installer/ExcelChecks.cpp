#include "installer/ExcelChecks.h"

#include "installer/Messages.h"
#include "installer/Paths.h"
#include "installer/Text.h"

#include <utility>

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

// As Excel keeps an item's path: lower-cased, in UTF-16, little-endian; the name with the
// separator before it, so that another file ending in the same name does not match.
std::string DisabledItemNeedle() {
    std::string bytes;
    for (wchar_t c : std::wstring(kInstalledAddinName)) {
        if (c >= L'A' && c <= L'Z') {
            c = static_cast<wchar_t>(c - L'A' + L'a');
        }
        bytes += static_cast<char>(c & 0xFF);
        bytes += static_cast<char>((c >> 8) & 0xFF);
    }
    return bytes;
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
            const auto expanded = host_.ExpandEnvironment(path.value());
            const auto subfolders = host_.ReadUserNumber(key, L"AllowSubfolders");
            Logged(key, L"AllowSubfolders",
                   subfolders ? Decimal(subfolders.value()) : Unread(subfolders.error()));
            if (!expanded) {
                host_.Log(Joined({"Expand ", path.value(), ": ", FailureText(expanded.error())}));
                continue;
            }
            locations.push_back({expanded.value(), subfolders && subfolders.value() == 1});
        }
        return locations;
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

bool ClearDisabledItems(HostServices& host, const std::wstring& version, bool onlyLook) {
    const std::wstring key = Joined({kUserOffice, version, kDisabledItems});
    const auto values = host.ListUserValues(key);
    if (!values) {
        host.Log(Joined({"Read ", Shown(key, L""), ": ",
                         values.error().notFound ? L"none" : FailureText(values.error())}));
        return false;
    }
    const std::string needle = DisabledItemNeedle();
    bool stays = false;
    for (const RegistryValue& value : values.value()) {
        if (value.bytes.find(needle) == std::string::npos) {
            continue;
        }
        const std::wstring step = Joined({"Excel's disabled item ", Shown(key, value.name),
                                          ", which names ", InstalledAddinFileName()});
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
