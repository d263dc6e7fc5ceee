#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace qx {

// The settings by which Excel decides, when it starts, whether to run the macros of an add-in in
// its start-up folder. Each number is the policy's value where a policy sets it, else the user's
// own; nullopt where neither is set. Read only when the decision needs it.
enum class TrustNumber {
    AllLocationsDisabled,  // 1: every trusted location is ignored, policy's included
    AllowUserLocations,    // 0: only locations that policy sets are trusted
    AllowNetworkLocations, // 1: a location on the network may be trusted
    VbaWarnings,           // 1 all macros run, 2 Excel asks, 3 signed only, 4 none run
};

// A trusted location that Group Policy set.
struct PolicyLocation {
    std::wstring path; // as the policy writes it: environment variables, short names, any case
    bool allowSubfolders = false;
};

class TrustSettings {
public:
    virtual ~TrustSettings() = default;
    virtual std::optional<std::uint32_t> Number(TrustNumber which) = 0;
    virtual std::vector<PolicyLocation> PolicyLocations() = 0;
    // Whether the location is the folder, or a parent of it that lets its subfolders be
    // trusted. Where that cannot be told, it counts as covering: the user is never warned of
    // macros that will run.
    virtual bool Covers(const PolicyLocation& location) = 0;
    virtual bool FolderOnNetwork() = 0;
};

// Why the start-up folder is not a trusted location; None when it is one, as Office's default
// makes it.
enum class Distrust { None, AllLocationsDisabled, OnlyPolicyLocations, OnTheNetwork };
// What the add-in's macros do at Excel's next start.
enum class AtNextStart { Run, RunOnceEnabled, RunIfSigned, NeverRun };

struct TrustVerdict {
    Distrust why;
    AtNextStart macros;
};

TrustVerdict DecideTrust(TrustSettings& settings);

} // namespace qx
