// The kill injector. Every mode runs in every starting world and dies: before each host call it
// would make in turn, and inside each write, which then breaks off half-way. Each death is also
// taken as a power cut, in each worst case Windows allows. What is left must be safe at that
// instant, and the next run of each mode, with nothing failing, must finish the job.
#include "FakeHost.h"
#include "InjectedWorlds.h"
#include "installer/MainMod.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <sstream>

namespace qx::testing {
namespace {

using Op = FakeHost::Op;
using PowerCut = FakeHost::PowerCut;

const HostError kDiskFull{112, L"磁盘空间不足。\r\n", false, false};

struct Death {
    std::size_t beforeCall; // 1-based over the calls the clean run made; past them: at its end
    bool insideWrite;       // the call before it was a write that broke off
    std::optional<PowerCut> cut;
};

const char* CutName(PowerCut cut) {
    switch (cut) {
    case PowerCut::OnlyFlushed:
        return "only what was flushed";
    case PowerCut::RegistryWritten:
        return "the registry written, the files only as flushed";
    case PowerCut::FileNamesLogged:
        return "file names and sizes logged, their bytes only as flushed";
    }
    return "?";
}

struct KilledRun {
    const Mode* mode;
    const World* world;
    Death death;
    std::set<std::wstring> filesBefore;
    State before;
    FakeHost left; // the world as the death left it
    State after;
};

bool IsStaging(const KilledRun& r, const std::wstring& path) {
    return path != kInstalled && r.filesBefore.count(path) == 0;
}

std::wstring FolderOf(const std::wstring& path) {
    return path.substr(0, path.find_last_of(L'\\'));
}

// The next run of `mode`, once the user has closed Excel and put the program beside its
// add-in, finishes that mode's job, and leaves no file of its own but the add-in. A status query
// only tells: it deletes nothing, not even what the killed run left, but logs that.
bool NextRunFinishes(const KilledRun& r, RunMode mode) {
    FakeHost next = ReadyForTheNextRun(r.left);
    const State start = StateOf(next);
    const auto filesBefore = next.files;
    MainMod mainMod(next, {mode, true});
    mainMod.Main();
    const State end = StateOf(next);
    if (mode == RunMode::StatusQuery) {
        const bool leftover = next.files.count(kStaging) != 0;
        const bool told = std::find(next.logLines.begin(), next.logLines.end(),
                                    L"Found " + kStaging +
                                        L", left by a run that did not finish: the next install "
                                        L"or removal deletes it") != next.logLines.end();
        return next.files == filesBefore && leftover == told &&
               mainMod.ExitCode() == (start.Visible() ? 0 : 1);
    }
    for (const auto& [path, bytes] : next.files) {
        if (IsStaging(r, path) && path != kSource) {
            return false;
        }
    }
    switch (mode) {
    case RunMode::Install:
        return mainMod.ExitCode() == 0 && end.Installed();
    case RunMode::Uninstall:
        // Someone made the add-in read-only: that stays theirs to undo, and the run says so.
        return (mainMod.ExitCode() == 0 && !end.Visible()) || (end.readOnly && end.Visible());
    default:
        return false;
    }
}

struct KillRule {
    const char* name;
    bool (*holds)(const KilledRun&);
};
const KillRule kKillRules[] = {
    {"the add-in, when there, is the earlier one or the new one, whole",
     [](const KilledRun& r) { return r.after.WholeAddin(r.before, *r.world); }},
    {"an update never leaves the add-in's place empty",
     [](const KilledRun& r) {
         return r.mode->mode != RunMode::Install || !r.before.addin || r.after.addin;
     }},
    {"an add-in is never left without its whole record unless it was so before",
     [](const KilledRun& r) {
         return !r.after.addin || r.after.HasRecord() || (r.before.addin && !r.before.HasRecord());
     }},
    {"the start-up folder holds nothing of the run's but the add-in",
     [](const KilledRun& r) {
         return std::none_of(r.left.files.begin(), r.left.files.end(), [&](const auto& file) {
             return FolderOf(file.first) == kStartup && IsStaging(r, file.first);
         });
     }},
    {"the next /install finishes it",
     [](const KilledRun& r) { return NextRunFinishes(r, RunMode::Install); }},
    {"the next /uninstall finishes it",
     [](const KilledRun& r) { return NextRunFinishes(r, RunMode::Uninstall); }},
    {"the next /status tells it",
     [](const KilledRun& r) { return NextRunFinishes(r, RunMode::StatusQuery); }},
};

std::string Describe(const KilledRun& r) {
    std::ostringstream out;
    out << r.mode->name << " in \"" << r.world->name << "\", dead before call "
        << r.death.beforeCall << (r.death.insideWrite ? " (the write before broke off)" : "");
    if (r.death.cut) {
        out << ", power lost: " << CutName(*r.death.cut);
    }
    return out.str();
}

// A write that breaks off is the nth of its kind among the calls the clean run made.
struct BrokenWrite {
    Op op;
    int nth;
};

KilledRun Kill(const Mode& mode, const World& world, const Death& death,
               std::optional<BrokenWrite> broken) {
    FakeHost host = Arranged(world, mode);
    KilledRun run{&mode, &world, death, {}, StateOf(host), {}, {}};
    for (const auto& [path, bytes] : host.files) {
        run.filesBefore.insert(path);
    }
    host.diesBeforeCall = death.beforeCall;
    if (broken) {
        host.BreakOffNth(broken->op, broken->nth, kDiskFull);
    }
    MainMod mainMod(host, {mode.mode, mode.quiet});
    mainMod.Main();
    run.left = death.cut ? host.AfterPowerCut(*death.cut) : host;
    run.after = StateOf(run.left);
    return run;
}

bool IsWrite(Op op) {
    return op == Op::CopyFile || op == Op::WriteFileBytes;
}

TEST(KillInjection, EveryDeathLeavesASafeStateTheNextRunFinishes) {
    const std::optional<PowerCut> kCuts[] = {std::nullopt, PowerCut::OnlyFlushed,
                                             PowerCut::RegistryWritten, PowerCut::FileNamesLogged};
    long points = 0;
    long powerLost = 0;
    std::map<const KillRule*, std::vector<std::string>> violations;
    for (const World& world : kWorlds) {
        for (const Mode& mode : kModes) {
            FakeHost clean = Arranged(world, mode);
            MainMod cleanRun(clean, {mode.mode, mode.quiet});
            cleanRun.Main();
            std::map<Op, int> made;
            for (std::size_t call = 1; call <= clean.ops.size() + 1; ++call) {
                std::vector<std::optional<BrokenWrite>> writes = {std::nullopt};
                if (call >= 2) {
                    const Op last = clean.ops[call - 2];
                    ++made[last];
                    if (IsWrite(last)) {
                        writes.push_back(BrokenWrite{last, made[last]});
                    }
                }
                for (const auto& broken : writes) {
                    for (const auto& cut : kCuts) {
                        const KilledRun r =
                            Kill(mode, world, Death{call, broken.has_value(), cut}, broken);
                        ++points;
                        powerLost += cut.has_value();
                        for (const KillRule& rule : kKillRules) {
                            if (!rule.holds(r)) {
                                violations[&rule].push_back(Describe(r));
                            }
                        }
                    }
                }
            }
        }
    }

    std::vector<Broken> broken;
    for (const KillRule& rule : kKillRules) {
        broken.push_back({rule.name, violations[&rule]});
    }
    const long total = PrintViolations(std::move(broken));
    std::ostringstream summary;
    summary << "kill injection: " << points << " points (" << powerLost << " with power lost), "
            << total << " violations";
    EXPECT_EQ(total, 0);
    std::ofstream(QX_KILL_INJECTION_REPORT) << summary.str() << "\n";
    std::cout << summary.str() << std::endl;
}

} // namespace
} // namespace qx::testing
