#include "installer/ExcelChecks.h"

#include "installer/Messages.h"
#include "installer/Paths.h"

#include <utility>

namespace qx {

namespace {

constexpr wchar_t kUserOffice[] = L"Software\\Microsoft\\Office\\";
constexpr wchar_t kPolicyOffice[] = L"Software\\Policies\\Microsoft\\Office\\";
constexpr wchar_t kDisabledItems[] = L"\\Excel\\Resiliency\\DisabledItems";
constexpr wchar_t kExcelLocations[] = L"\\Excel\\Security\\Trusted Locations";
constexpr wchar_t kCommonLocations[] = L"\\Common\\Security\\Trusted Locations";
constexpr wchar_t kExcelSecurity[] = L"\\Excel\\Security";

std::wstring Shown(const std::wstring& key, const std::wstring& name) {
    return L"HKCU\\" + key + (name.empty() ? L"" : L"\\" + name);
}

// As Excel keeps an item's path: lower-cased, in UTF-16, little-endian; the name with the
// separator before it, so that another file ending in the same name does not match.
std::string DisabledItemNeedle() {
    std::wstring name = L"\\" + InstalledAddinFileName();
    std::string bytes;
    for (wchar_t c : name) {
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
        for (const wchar_t* root : {kPolicyOffice, kUserOffice}) {
            const std::wstring key = root + version_ + keyEnd;
            const auto read = host_.ReadUserNumber(key, name);
            Logged(key, name, read ? Decimal(read.value()) : Unread(read.error()));
            if (read) {
                return read.value();
            }
        }
        return std::nullopt;
    }

    std::vector<PolicyLocation> PolicyLocations() override {
        const std::wstring parent = kPolicyOffice + version_ + kExcelLocations;
        const auto subkeys = host_.ListUserSubkeys(parent);
        std::vector<PolicyLocation> locations;
        if (!subkeys) {
            Logged(parent, L"", Unread(subkeys.error()));
            return locations;
        }
        for (const std::wstring& subkey : subkeys.value()) {
            const std::wstring key = parent + L"\\" + subkey;
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
                host_.Log(L"Expand " + path.value() + L": " + FailureText(expanded.error()));
                continue;
            }
            locations.push_back({expanded.value(), subfolders && subfolders.value() == 1});
        }
        return locations;
    }

    bool FolderOnNetwork() override {
        const auto remote = host_.IsOnNetwork(folder_);
        host_.Log(L"Is " + folder_ + L" on the network: " +
                  (!remote          ? FailureText(remote.error()) + L", so taken as not"
                   : remote.value() ? L"yes"
                                    : L"no"));
        return remote && remote.value();
    }

    const std::wstring& Folder() const override { return folder_; }

private:
    static std::pair<const wchar_t*, const wchar_t*> Where(TrustNumber which) {
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
        return error.notFound ? std::wstring(L"not set") : FailureText(error);
    }

    void Logged(const std::wstring& key, const std::wstring& name, const std::wstring& what) {
        host_.Log(L"Read " + Shown(key, name) + L": " + what);
    }

    HostServices& host_;
    const std::wstring version_;
    const std::wstring folder_;
};

const wchar_t* WhyText(Distrust why) {
    switch (why) {
    case Distrust::AllLocationsDisabled:
        return L"every trusted location is disabled";
    case Distrust::OnlyPolicyLocations:
        return L"only locations set by policy are trusted, and none covers it";
    case Distrust::OnTheNetwork:
        return L"it is on the network, where locations are not trusted";
    case Distrust::None:
        break;
    }
    return L"";
}

const wchar_t* MacrosText(AtNextStart macros) {
    switch (macros) {
    case AtNextStart::Run:
        return L"run";
    case AtNextStart::RunOnceEnabled:
        return L"run once the user enables them, asked at every start";
    case AtNextStart::RunIfSigned:
        return L"run only if signed by a publisher the organisation trusts";
    case AtNextStart::NeverRun:
        break;
    }
    return L"never run";
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
    const std::wstring key = kUserOffice + version + kDisabledItems;
    const auto values = host.ListUserValues(key);
    if (!values) {
        host.Log(L"Read " + Shown(key, L"") + L": " +
                 (values.error().notFound ? std::wstring(L"none") : FailureText(values.error())));
        return false;
    }
    const std::string needle = DisabledItemNeedle();
    bool stays = false;
    for (const RegistryValue& value : values.value()) {
        if (value.bytes.find(needle) == std::string::npos) {
            continue;
        }
        const std::wstring step = L"Excel's disabled item " + Shown(key, value.name) +
                                  L", which names " + InstalledAddinFileName();
        if (onlyLook) {
            host.Log(step + L": there");
            stays = true;
            continue;
        }
        const auto deleted = host.DeleteUserValue(key, value.name);
        host.Log(L"Delete " + step + L": " +
                 (deleted ? std::wstring(L"done") : FailureText(deleted.error())));
        stays = stays || !deleted;
    }
    return stays;
}

TrustVerdict ReadTrust(HostServices& host, const std::wstring& version,
                       const std::wstring& startupFolder) {
    RegistryTrustSettings settings(host, version, startupFolder);
    const TrustVerdict verdict = DecideTrust(settings);
    if (verdict.why == Distrust::None) {
        host.Log(L"Trust in Excel " + version + L": " + startupFolder +
                 L" is a trusted location; the add-in's macros run");
    } else {
        host.Log(L"Trust in Excel " + version + L": " + startupFolder +
                 L" is not a trusted location (" + WhyText(verdict.why) +
                 L"); the add-in's macros " + MacrosText(verdict.macros));
    }
    return verdict;
}

} // namespace qx
