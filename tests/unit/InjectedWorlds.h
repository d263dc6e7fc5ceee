// The starting worlds and the modes that the fault and kill injectors run, and what a run may
// change in them.
#pragma once

#include "FakeHost.h"
#include "installer/CommandLine.h"

#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace qx::testing {

inline const std::wstring kRecord = L"Tanrebo Software\\Merrowin";
inline const std::wstring kWorkbook = kProgram + L"\\TORVA.xls";
inline const std::wstring kOtherWorkbook = L"D:\\报表\\月报.xls"; // the user's own, open in Excel
inline const std::string kNewAddin = "new add-in";
inline const std::string kEarlierAddin = "earlier add-in";

struct World {
    const char* name;
    void (*arrange)(FakeHost&);
    // What an install from this world's program folder must be refused with, before anything
    // changes; nullptr where it can install.
    const wchar_t* refusal = nullptr;
    // Excel's settings keep the add-in's macros from ever running.
    bool macrosNeverRun = false;
    // A security program rewrites the new add-in: what it leaves is its doing, not the run's.
    bool scannerRewrites = false;
};
extern const World kWorlds[19];

inline const std::wstring kDisabledItems =
    L"Software\\Microsoft\\Office\\16.0\\Excel\\Resiliency\\DisabledItems";

// The toggle cannot be quiet: its question needs someone to answer it.
struct Mode {
    const char* name;
    RunMode mode;
    bool quiet;
    std::int16_t answer;
};
extern const Mode kModes[8];

// What a run may change: the add-in, the record, and what the user's Excel has open.
struct State {
    std::optional<std::string> addin;
    bool hidden = false;
    bool readOnly = false;
    std::map<std::wstring, std::wstring> record;
    bool loaded = false;
    std::set<std::wstring> otherWorkbooks;
    std::wstring workbook;      // what the record names once the program beside it is installed
    bool addinDisabled = false; // among Excel's disabled items
    std::set<std::wstring> otherDisabled;              // the names of Excel's other disabled items
    std::map<std::wstring, std::string> disabledItems; // every disabled item, as stored

    bool SameAddin(const State& o) const {
        return addin == o.addin && hidden == o.hidden && readOnly == o.readOnly;
    }
    bool Visible() const { return addin && !hidden; }
    bool HasRecord() const { return record.count(L"Path") != 0 && record.count(L"Unit") != 0; }
    bool Installed() const;
    // Whole: the earlier add-in or the new one, never a part, never another's bytes; or what a
    // security program made of the new one in a world that has one.
    bool WholeAddin(const State& before, const World& world) const;
};

State StateOf(const FakeHost& h);

// A world ready for a run: the program's add-in beside it, then the world's own arrangement.
FakeHost Arranged(const World& world, const Mode& mode);

// The world a run left, for the next run: once the user has closed Excel and, told why, put the
// program beside its add-in in a folder of its own.
FakeHost ReadyForTheNextRun(const FakeHost& left);

// The runs that broke one rule, by how each was made to fail or die.
struct Broken {
    const char* rule;
    std::vector<std::string> runs;
};
// Prints each rule's broken runs, the plainest first (fewest failures), the first few of each
// unless QX_FAULT_INJECTION_ALL=1 asks for all; hands back how many runs in all.
long PrintViolations(std::vector<Broken> broken);

} // namespace qx::testing
