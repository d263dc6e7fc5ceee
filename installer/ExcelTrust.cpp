#include "installer/ExcelTrust.h"

namespace qx {

TrustVerdict DecideTrust(TrustSettings& settings) {
    Distrust why = Distrust::None;
    if (settings.Number(TrustNumber::AllLocationsDisabled) == 1u) {
        why = Distrust::AllLocationsDisabled;
    } else if (settings.Number(TrustNumber::AllowUserLocations) == 0u) {
        why = Distrust::OnlyPolicyLocations;
        for (const PolicyLocation& location : settings.PolicyLocations()) {
            if (settings.Covers(location)) {
                why = Distrust::None;
                break;
            }
        }
    }
    if (why == Distrust::None && settings.FolderOnNetwork() &&
        settings.Number(TrustNumber::AllowNetworkLocations) != 1u) {
        why = Distrust::OnTheNetwork;
    }
    if (why == Distrust::None) {
        return {why, AtNextStart::Run};
    }
    // Excel's own default, when nothing sets it, is to ask.
    switch (settings.Number(TrustNumber::VbaWarnings).value_or(2)) {
    case 1:
        return {why, AtNextStart::Run};
    case 3:
        return {why, AtNextStart::RunIfSigned};
    case 4:
        return {why, AtNextStart::NeverRun};
    default:
        return {why, AtNextStart::RunOnceEnabled};
    }
}

} // namespace qx
