#include "installer/ExcelTrust.h"

namespace qx {

namespace {

// File names compare without regard to case in the scripts that have it; folders named in
// policies use the user's own letters, mostly Latin, Greek or Cyrillic.
wchar_t FoldCase(wchar_t c) {
    if ((c >= L'a' && c <= L'z') || (c >= 0x00E0 && c <= 0x00FE && c != 0x00F7) ||
        (c >= 0x03B1 && c <= 0x03C9 && c != 0x03C2) || (c >= 0x0430 && c <= 0x044F)) {
        return static_cast<wchar_t>(c - 0x20);
    }
    if (c >= 0x0450 && c <= 0x045F) {
        return static_cast<wchar_t>(c - 0x50);
    }
    return c;
}

std::wstring Comparable(const std::wstring& path) {
    std::wstring folded;
    for (const wchar_t c : path) {
        folded += FoldCase(c == L'/' ? L'\\' : c);
    }
    while (!folded.empty() && folded.back() == L'\\') {
        folded.pop_back();
    }
    return folded;
}

} // namespace

bool Covers(const PolicyLocation& location, const std::wstring& folder) {
    const std::wstring trusted = Comparable(location.path);
    const std::wstring looked = Comparable(folder);
    if (trusted.empty()) {
        return false;
    }
    if (looked == trusted) {
        return true;
    }
    return location.allowSubfolders && looked.size() > trusted.size() &&
           looked.compare(0, trusted.size(), trusted) == 0 && looked[trusted.size()] == L'\\';
}

TrustVerdict DecideTrust(TrustSettings& settings) {
    Distrust why = Distrust::None;
    if (settings.Number(TrustNumber::AllLocationsDisabled) == 1u) {
        why = Distrust::AllLocationsDisabled;
    } else if (settings.Number(TrustNumber::AllowUserLocations) == 0u) {
        why = Distrust::OnlyPolicyLocations;
        for (const PolicyLocation& location : settings.PolicyLocations()) {
            if (Covers(location, settings.Folder())) {
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
