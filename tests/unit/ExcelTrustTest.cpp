// Whether Excel will trust its start-up folder at its next start, and so what the add-in's
// macros do there: policy and user values in, verdict out.
#include "FakeHost.h"
#include "installer/ExcelChecks.h"

#include <gtest/gtest.h>

namespace qx::testing {
namespace {

const std::wstring kPolicy = L"Software\\Policies\\Microsoft\\Office\\16.0\\";
const std::wstring kUser = L"Software\\Microsoft\\Office\\16.0\\";
const std::wstring kExcelLocations = L"Excel\\Security\\Trusted Locations";
const std::wstring kCommonLocations = L"Common\\Security\\Trusted Locations";
const std::wstring kSecurity = L"Excel\\Security";

struct Number {
    const std::wstring* root;
    const std::wstring* key;
    const wchar_t* name;
    std::uint32_t value;
};
struct Location {
    const wchar_t* path;
    bool subfolders;
};

struct TrustCase {
    const char* name;
    std::vector<Number> numbers;
    std::vector<Location> policyLocations;
    std::wstring folder;
    bool onNetwork;
    Distrust why;
    AtNextStart macros;
    // A folder's 8.3 path and its long one, where a location is written the short way.
    std::vector<std::pair<std::wstring, std::wstring>> shortNames = {};
};

void PrintTo(const TrustCase& c, std::ostream* out) {
    *out << c.name;
}

const std::wstring kLocal = L"C:\\Users\\Lin\\AppData\\Roaming\\Microsoft\\Excel\\XLSTART";
const std::wstring kShare = L"\\\\files\\home$\\lin\\AppData\\Roaming\\Microsoft\\Excel\\XLSTART";

const TrustCase kCases[] = {
    {"NothingSet", {}, {}, kLocal, false, Distrust::None, AtNextStart::Run},
    {"AllLocationsDisabledByPolicy",
     {{&kPolicy, &kExcelLocations, L"AllLocationsDisabled", 1},
      {&kPolicy, &kSecurity, L"VBAWarnings", 4}},
     {},
     kLocal,
     false,
     Distrust::AllLocationsDisabled,
     AtNextStart::NeverRun},
    {"AllLocationsDisabledByTheUserWhereExcelAsks",
     {{&kUser, &kExcelLocations, L"AllLocationsDisabled", 1}},
     {},
     kLocal,
     false,
     Distrust::AllLocationsDisabled,
     AtNextStart::RunOnceEnabled},
    {"ThePolicyWinsOverTheUser",
     {{&kPolicy, &kExcelLocations, L"AllLocationsDisabled", 0},
      {&kUser, &kExcelLocations, L"AllLocationsDisabled", 1}},
     {},
     kLocal,
     false,
     Distrust::None,
     AtNextStart::Run},
    {"EveryLocationDisabledIgnoresThePolicysOwn",
     {{&kPolicy, &kExcelLocations, L"AllLocationsDisabled", 1},
      {&kPolicy, &kCommonLocations, L"Allow User Locations", 0},
      {&kUser, &kSecurity, L"VBAWarnings", 3}},
     {{L"C:\\Users\\Lin\\AppData\\Roaming\\Microsoft\\Excel\\XLSTART", false}},
     kLocal,
     false,
     Distrust::AllLocationsDisabled,
     AtNextStart::RunIfSigned},
    {"OnlyPolicyLocationsAndNone",
     {{&kPolicy, &kCommonLocations, L"Allow User Locations", 0}},
     {},
     kLocal,
     false,
     Distrust::OnlyPolicyLocations,
     AtNextStart::RunOnceEnabled},
    {"APolicyLocationIsTheFolderInOtherCaseWithATrailingSeparator",
     {{&kPolicy, &kCommonLocations, L"Allow User Locations", 0}},
     {{L"c:\\users\\lin\\appdata\\roaming\\microsoft\\excel\\xlstart\\", false}},
     kLocal,
     false,
     Distrust::None,
     AtNextStart::Run},
    {"APolicyLocationAboveItWithSubfolders",
     {{&kPolicy, &kCommonLocations, L"Allow User Locations", 0}},
     {{L"%APPDATA%\\Microsoft", true}},
     kLocal,
     false,
     Distrust::None,
     AtNextStart::Run},
    {"APolicyLocationAboveItWithoutSubfolders",
     {{&kPolicy, &kCommonLocations, L"Allow User Locations", 0},
      {&kUser, &kSecurity, L"VBAWarnings", 3}},
     {{L"%APPDATA%\\Microsoft", false}},
     kLocal,
     false,
     Distrust::OnlyPolicyLocations,
     AtNextStart::RunIfSigned},
    // "XLSTA" is not a folder above "XLSTART".
    {"ALocationWhoseNameOnlyBeginsTheFolders",
     {{&kPolicy, &kCommonLocations, L"Allow User Locations", 0},
      {&kPolicy, &kSecurity, L"VBAWarnings", 4}},
     {{L"C:\\Users\\Lin\\AppData\\Roaming\\Microsoft\\Excel\\XLSTA", true}},
     kLocal,
     false,
     Distrust::OnlyPolicyLocations,
     AtNextStart::NeverRun},
    // Windows folds every script's letters; "Ł" and "Ő" are outside Latin-1, Greek and Cyrillic.
    {"APolicyLocationInAnotherCaseOfLettersBeyondLatinGreekAndCyrillic",
     {{&kPolicy, &kCommonLocations, L"Allow User Locations", 0},
      {&kPolicy, &kSecurity, L"VBAWarnings", 4}},
     {{L"C:\\USERS\\ŁUKASZ.ŐRY\\APPDATA\\ROAMING\\MICROSOFT\\EXCEL\\XLSTART", false}},
     L"C:\\Users\\łukasz.őry\\AppData\\Roaming\\Microsoft\\Excel\\XLSTART",
     false,
     Distrust::None,
     AtNextStart::Run},
    {"APolicyLocationWrittenWithAShortName",
     {{&kPolicy, &kCommonLocations, L"Allow User Locations", 0},
      {&kPolicy, &kSecurity, L"VBAWarnings", 4}},
     {{L"C:\\Users\\LINXIA~1\\AppData\\Roaming\\Microsoft", true}},
     L"C:\\Users\\Lin Xiaoming\\AppData\\Roaming\\Microsoft\\Excel\\XLSTART",
     false,
     Distrust::None,
     AtNextStart::Run,
     {{L"C:\\Users\\LINXIA~1", L"C:\\Users\\Lin Xiaoming"}}},
    // What Excel, in the user's own session, makes of the variable cannot be told from here:
    // no warning rests on it.
    {"APolicyLocationThroughAVariableThisRunLacks",
     {{&kPolicy, &kCommonLocations, L"Allow User Locations", 0},
      {&kPolicy, &kSecurity, L"VBAWarnings", 4}},
     {{L"%OneDriveCommercial%\\Excel", true}},
     kLocal,
     false,
     Distrust::None,
     AtNextStart::Run},
    // Told apart from one that resolves and covers nothing.
    {"APolicyLocationThatResolvesElsewhere",
     {{&kPolicy, &kCommonLocations, L"Allow User Locations", 0},
      {&kPolicy, &kSecurity, L"VBAWarnings", 4}},
     {{L"%APPDATA%\\Microsoft\\Word", true}},
     kLocal,
     false,
     Distrust::OnlyPolicyLocations,
     AtNextStart::NeverRun},
    {"OnTheNetworkWhereMacrosRunAnyway",
     {{&kPolicy, &kSecurity, L"VBAWarnings", 1}},
     {},
     kShare,
     true,
     Distrust::OnTheNetwork,
     AtNextStart::Run},
    {"OnTheNetworkWithNetworkLocationsAllowed",
     {{&kPolicy, &kExcelLocations, L"AllowNetworkLocations", 1}},
     {},
     kShare,
     true,
     Distrust::None,
     AtNextStart::Run},
    {"OnTheNetworkAllowedByTheUserButNotThePolicy",
     {{&kPolicy, &kExcelLocations, L"AllowNetworkLocations", 0},
      {&kUser, &kExcelLocations, L"AllowNetworkLocations", 1},
      {&kPolicy, &kSecurity, L"VBAWarnings", 2},
      {&kUser, &kSecurity, L"VBAWarnings", 4}},
     {},
     kShare,
     true,
     Distrust::OnTheNetwork,
     AtNextStart::RunOnceEnabled},
};

class ExcelTrustTest : public ::testing::TestWithParam<TrustCase> {};

TEST_P(ExcelTrustTest, DecidesFromPolicyThenTheUsersOwn) {
    const TrustCase& c = GetParam();
    FakeHost host;
    host.environment[L"APPDATA"] = L"C:\\Users\\Lin\\AppData\\Roaming";
    for (const Number& n : c.numbers) {
        host.userRegistry[*n.root + *n.key][n.name].number = n.value;
    }
    int index = 0;
    for (const Location& l : c.policyLocations) {
        const std::wstring key =
            kPolicy + kExcelLocations + L"\\Location" + std::to_wstring(++index);
        host.userRegistry[key][L"Path"].text = l.path;
        host.userRegistry[key][L"AllowSubfolders"].number = l.subfolders ? 1 : 0;
    }
    if (c.onNetwork) {
        host.networkFolders.insert(c.folder);
    }
    for (const auto& [shortPath, longPath] : c.shortNames) {
        host.shortNames[shortPath] = longPath;
    }

    const TrustVerdict verdict = ReadTrust(host, L"16.0", c.folder);

    EXPECT_EQ(verdict.why, c.why);
    EXPECT_EQ(verdict.macros, c.macros);
}

INSTANTIATE_TEST_SUITE_P(EachSetting, ExcelTrustTest, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<TrustCase>& param) {
                             return param.param.name;
                         });

TEST(ExcelVersionTest, OnlyDigitsAndDotsNameAKey) {
    EXPECT_EQ(UsableExcelVersion(L"16.0"), L"16.0");
    EXPECT_EQ(UsableExcelVersion(L"12.0"), L"12.0");
    for (const std::wstring odd : {L"", L"16.0\\..\\..", L".0", L"sixteen", L"16.0 "}) {
        EXPECT_FALSE(UsableExcelVersion(odd).has_value()) << ::testing::PrintToString(odd);
    }
}

} // namespace
} // namespace qx::testing
