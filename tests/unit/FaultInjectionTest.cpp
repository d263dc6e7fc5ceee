// The fault injector. Every mode runs in every starting world: first clean, listing the host
// calls it makes; then once per listed call with that call failing, in each way it can fail;
// then once per pair. The pairs are bounded: each single-failure run is run again with each call
// it made after its failure failing too, which reaches every failure inside a rollback. Every
// run is judged by rules about where it ended and what it said, never by the calls it made.
#include "FakeHost.h"
#include "InjectedWorlds.h"
#include "installer/MainMod.h"
#include "installer/Messages.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <sstream>

namespace qx::testing {
namespace {

using Op = FakeHost::Op;

// The ways a call fails, as the platform reports them.
struct Kind {
    const char* name;
    HostError error;
};
const Kind kNotFound{"not found", {2, L"系统找不到指定的文件。\r\n", true, false}};
const Kind kAccessDenied{"access denied", {5, L"拒绝访问。\r\n", false, false}};
const Kind kSharingViolation{"sharing violation",
                             {32, L"另一个程序正在使用此文件，进程无法访问。\r\n", false, false}};
const Kind kReadOnly{"read-only", {5, L"拒绝访问。\r\n", false, true}};
const Kind kRejected{"rejected", {0x80010001u, L"被呼叫方拒绝了呼叫。", false, false, true}};
const Kind kPastDeadline{"past its deadline",
                         {0x8001011Fu, L"此操作返回，因为超时期限已过。", false, false, true}};
// A rename cannot cross volumes (a start-up folder that is a mount point of another disk).
const Kind kOtherVolume{"on another volume",
                        {17, L"系统无法将文件移到不同的磁盘驱动器。\r\n", false, false}};
// The copy's source on a share that dropped, or changed by someone while it was read.
const Kind kSourceChanged{"its source changed or dropped mid-copy",
                          {59, L"出现意外的网络错误。\r\n", false, false, false, false, true}};
// A security program refuses to let the file be opened.
const Kind kQuarantined{
    "refused by a security program",
    {225, L"无法成功完成操作，因为文件包含病毒或潜在的垃圾软件。\r\n", false, false, false, true}};
// A copy that ran out of room half-way leaves part of the file behind, as CopyFileW can.
const Kind kBrokeOff{"broke off half-way", {112, L"磁盘空间不足。\r\n", false, false}};

// Each call that can fail, and each failure it can meet. A "not found" that would only be a lie
// (a file or value the world has) is left out: the sequence rightly takes it for absence.
struct Call {
    Op op;
    const char* name;
    std::vector<const Kind*> kinds;
};
const std::vector<Call> kCalls = {
    {Op::RunsAsDesktopUser, "RunsAsDesktopUser", {&kNotFound, &kAccessDenied}},
    {Op::AttachToRunningExcel, "AttachToRunningExcel", {&kRejected, &kPastDeadline}},
    {Op::AcquireExcelApplication, "AcquireExcelApplication", {&kAccessDenied, &kPastDeadline}},
    {Op::ReadStartupPath, "ReadStartupPath", {&kAccessDenied, &kRejected, &kPastDeadline}},
    {Op::ReadExcelVersion, "ReadExcelVersion", {&kAccessDenied, &kRejected, &kPastDeadline}},
    {Op::OpenAddin, "OpenAddin", {&kAccessDenied, &kRejected, &kPastDeadline}},
    {Op::CloseAddin, "CloseAddin", {&kRejected, &kPastDeadline}},
    {Op::FindFile, "FindFile", {&kAccessDenied}},
    {Op::CopyFile,
     "CopyFile",
     {&kNotFound, &kAccessDenied, &kSharingViolation, &kReadOnly, &kBrokeOff, &kSourceChanged}},
    {Op::MoveFileReplacing,
     "MoveFileReplacing",
     {&kAccessDenied, &kSharingViolation, &kReadOnly, &kOtherVolume}},
    {Op::FlushFolder, "FlushFolder", {&kAccessDenied}},
    {Op::MakeFileOrdinary, "MakeFileOrdinary", {&kAccessDenied, &kSharingViolation}},
    {Op::RestoreFileAttributes, "RestoreFileAttributes", {&kAccessDenied}},
    {Op::DeleteFile, "DeleteFile", {&kAccessDenied, &kSharingViolation, &kReadOnly}},
    {Op::CreateFolder, "CreateFolder", {&kNotFound, &kAccessDenied}},
    {Op::ReadFileBytes, "ReadFileBytes", {&kAccessDenied, &kSharingViolation}},
    {Op::WriteFileBytes,
     "WriteFileBytes",
     {&kNotFound, &kAccessDenied, &kSharingViolation, &kReadOnly, &kBrokeOff}},
    {Op::FileExists, "FileExists", {&kAccessDenied}},
    {Op::ApplicationFolder, "ApplicationFolder", {&kAccessDenied}},
    {Op::IsInTemporaryFolder, "IsInTemporaryFolder", {&kAccessDenied}},
    {Op::IsOnNetwork, "IsOnNetwork", {&kAccessDenied}},
    {Op::SameBytesAfterScan,
     "SameBytesAfterScan",
     {&kNotFound, &kAccessDenied, &kSharingViolation, &kQuarantined}},
    {Op::SaveSetting, "SaveSetting", {&kAccessDenied}},
    {Op::ReadSetting, "ReadSetting", {&kAccessDenied}},
    {Op::DeleteSetting, "DeleteSetting", {&kAccessDenied}},
    {Op::DeleteSettingKey, "DeleteSettingKey", {&kAccessDenied}},
    {Op::FlushSettings, "FlushSettings", {&kAccessDenied}},
    {Op::ReadUserNumber, "ReadUserNumber", {&kAccessDenied}},
    {Op::ReadUserText, "ReadUserText", {&kAccessDenied}},
    {Op::ListUserSubkeys, "ListUserSubkeys", {&kAccessDenied}},
    {Op::ListUserValues, "ListUserValues", {&kAccessDenied}},
    {Op::DeleteUserValue, "DeleteUserValue", {&kAccessDenied}},
    {Op::LocationCovers, "LocationCovers", {&kNotFound, &kAccessDenied}},
    {Op::AskYesNo, "AskYesNo", {&kAccessDenied}},
    {Op::Inform, "Inform", {&kAccessDenied}},
    {Op::Warn, "Warn", {&kAccessDenied}},
    {Op::ShowSuccessWindow, "ShowSuccessWindow", {&kAccessDenied}},
};

// A call the table does not list would go untested.
const Call& CallOf(Op op) {
    static const Call unlisted{op, "a call missing from the table", {}};
    const auto found =
        std::find_if(kCalls.begin(), kCalls.end(), [op](const Call& c) { return c.op == op; });
    if (found == kCalls.end()) {
        ADD_FAILURE() << "host call " << static_cast<int>(op) << " has no failures listed";
        return unlisted;
    }
    return *found;
}

struct Fault {
    Op op;
    int nth;
    const Kind* kind;
};

struct InjectedRun {
    const Mode* mode;
    const World* world;
    std::vector<Fault> faults;
    FakeHost host;
    State before;
    State after;
    std::map<std::wstring, std::string> filesBefore;
    int exitCode = -1;

    bool ShowsNothing() const { return mode->quiet || mode->mode == RunMode::StatusQuery; }
    bool Succeeded() const {
        return exitCode == 0 || (mode->mode == RunMode::StatusQuery && exitCode == 1);
    }
    bool Unchanged() const { return after.SameAddin(before) && after.record == before.record; }
    long CallsStartingWith(const std::wstring& prefix) const {
        return std::count_if(host.calls.begin(), host.calls.end(),
                             [&](const std::wstring& c) { return c.rfind(prefix, 0) == 0; });
    }
    bool Failed(Op op, const Kind* kind = nullptr) const {
        return std::any_of(faults.begin(), faults.end(), [&](const Fault& f) {
            return f.op == op && (!kind || f.kind == kind) && host.failed.count({op, f.nth}) != 0;
        });
    }
    // Excel's settings could not be read: the run then says nothing of them, as it should.
    bool CouldNotReadExcelsSettings() const {
        for (const Op op :
             {Op::ReadExcelVersion, Op::ListUserValues, Op::ReadUserNumber, Op::ReadUserText,
              Op::ListUserSubkeys, Op::LocationCovers, Op::IsOnNetwork}) {
            if (Failed(op)) {
                return true;
            }
        }
        return false;
    }
    bool LogHas(const std::wstring& part) const {
        return std::any_of(host.logLines.begin(), host.logLines.end(), [&](const std::wstring& l) {
            return l.find(part) != std::wstring::npos;
        });
    }
    bool WarnedWith(const std::wstring& part) const {
        return std::any_of(host.calls.begin(), host.calls.end(), [&](const std::wstring& c) {
            return c.rfind(L"Warn ", 0) == 0 && c.find(part) != std::wstring::npos;
        });
    }
    // The toggle removes what it asked about; with nothing installed it installs.
    bool AskedForRemoval() const {
        return mode->mode == RunMode::Uninstall ||
               (mode->mode == RunMode::Toggle && CallsStartingWith(L"AskYesNo ") != 0);
    }
};

InjectedRun Execute(const Mode& mode, const World& world, std::vector<Fault> faults) {
    InjectedRun run{&mode, &world, std::move(faults), Arranged(world, mode), {}, {}, {}, -1};
    for (const Fault& f : run.faults) {
        if (f.kind == &kBrokeOff) {
            run.host.BreakOffNth(f.op, f.nth, f.kind->error);
        } else if (f.kind == &kPastDeadline) {
            // Withdrawn on the program's side, the call still happens in Excel.
            run.host.GiveUpOnNth(f.op, f.nth, f.kind->error);
        } else {
            run.host.FailNth(f.op, f.nth, f.kind->error);
        }
    }
    run.before = StateOf(run.host);
    run.filesBefore = run.host.files;
    MainMod mainMod(run.host, {mode.mode, mode.quiet});
    mainMod.Main();
    run.exitCode = mainMod.Finish();
    run.after = StateOf(run.host);
    return run;
}

// The next run, once the user has closed Excel, still installs or removes what this one left.
bool NextRunHandles(const InjectedRun& r, RunMode mode) {
    FakeHost next = ReadyForTheNextRun(r.host);
    MainMod mainMod(next, {mode, true});
    mainMod.Main();
    const State s = StateOf(next);
    if (mode == RunMode::Install) {
        return mainMod.ExitCode() == 0 && s.Installed();
    }
    // Someone made the add-in read-only: that stays theirs to undo, and the run says so.
    return (mainMod.ExitCode() == 0 && !s.Visible()) || (s.readOnly && s.Visible());
}

// What a run left that it could not undo is named in the log and, unless the run is quiet, in
// its failure box.
bool Said(const InjectedRun& r, const std::wstring& logged, const std::wstring& shown) {
    return r.LogHas(L"Not undone: " + logged) && (r.ShowsNothing() || r.WarnedWith(shown));
}
bool SaysWhatStayed(const InjectedRun& r) {
    return (r.after.SameAddin(r.before) ||
            Said(r, L"the add-in stayed in " + kStartup,
                 L"未能完全撤销：文件“QxButton.xla”仍留在“" + kStartup + L"”中")) &&
           (r.after.record == r.before.record || Said(r, L"the record", L"设置记录未能恢复原样"));
}

struct Rule {
    const char* name;
    bool (*holds)(const InjectedRun&);
};
const Rule kRules[] = {
    {"exit 0 means the state the mode asked for holds in full",
     [](const InjectedRun& r) {
         if (r.exitCode != 0) {
             return true;
         }
         if (r.mode->mode == RunMode::StatusQuery) {
             return r.before.Visible();
         }
         return r.AskedForRemoval() ? !r.after.Visible() : r.after.Installed();
     }},
    {"/status changes nothing, Excel's disabled items included, and exits 1 only when not "
     "installed",
     [](const InjectedRun& r) {
         return r.mode->mode != RunMode::StatusQuery ||
                (r.Unchanged() && r.after.loaded == r.before.loaded &&
                 r.after.disabledItems == r.before.disabledItems && r.host.files == r.filesBefore &&
                 (r.exitCode != 1 || !r.before.Visible()));
     }},
    {"a failure is laid on a security program only where one acted",
     [](const InjectedRun& r) {
         const bool blamed = r.LogHas(L"很可能是安全软件");
         return !blamed || r.host.quarantined || r.Failed(Op::SameBytesAfterScan, &kNotFound) ||
                r.Failed(Op::SameBytesAfterScan, &kQuarantined);
     }},
    {"a source that changed mid-copy is told in its own words",
     [](const InjectedRun& r) {
         return !r.Failed(Op::CopyFile, &kSourceChanged) ||
                r.LogHas(L"Failed: Quorvale安装失败：复制“" + r.host.programFolder +
                         L"\\安装.xla”时，它被改动了或无法再读取");
     }},
    {"whatever the faults, the add-in left is whole: the earlier one or the new one",
     [](const InjectedRun& r) { return r.after.WholeAddin(r.before, *r.world); }},
    {"any other exit leaves the add-in and record as they were, or says what stayed",
     [](const InjectedRun& r) { return r.Succeeded() || r.Unchanged() || SaysWhatStayed(r); }},
    {"the state left is one the next run handles",
     [](const InjectedRun& r) {
         return r.Unchanged() ||
                (NextRunHandles(r, RunMode::Install) && NextRunHandles(r, RunMode::Uninstall));
     }},
    {"an add-in is never left without its record unless it was so before",
     [](const InjectedRun& r) {
         return !r.after.addin || r.after.HasRecord() || (r.before.addin && !r.before.HasRecord());
     }},
    {"the success window only when the run ended installed",
     [](const InjectedRun& r) {
         return r.CallsStartingWith(L"ShowSuccessWindow") == 0 || r.after.Installed();
     }},
    {"the removal notice only when the add-in is gone",
     [](const InjectedRun& r) {
         return (r.CallsStartingWith(std::wstring(L"Inform ") + kRemovalNotice) == 0 &&
                 r.CallsStartingWith(std::wstring(L"Inform ") + kNothingToRemove) == 0) ||
                !r.after.Visible();
     }},
    {"a failure box exactly when a run that may show one fails (1602 is no failure)",
     [](const InjectedRun& r) {
         const bool failed = !r.Succeeded() && r.exitCode != kExitDeclined;
         // A warning that starts "installed" is about Excel's settings, on an install that stood.
         const long failureBoxes =
             r.CallsStartingWith(L"Warn ") - r.CallsStartingWith(L"Warn Quorvale已经安装");
         return r.ShowsNothing() || (failureBoxes != 0) == failed;
     }},
    {"the success window only when Excel's settings let the add-in run at its next start",
     [](const InjectedRun& r) {
         return r.CallsStartingWith(L"ShowSuccessWindow") == 0 || r.CouldNotReadExcelsSettings() ||
                (!r.after.addinDisabled && !r.world->macrosNeverRun);
     }},
    {"of Excel's disabled items only the add-in's own go, and only by an install, or it is said",
     [](const InjectedRun& r) {
         if (r.after.otherDisabled != r.before.otherDisabled) {
             return false;
         }
         if (r.after.addinDisabled != r.before.addinDisabled && r.exitCode != 0) {
             return false;
         }
         const bool installed = r.exitCode == 0 && !r.AskedForRemoval() &&
                                r.mode->mode != RunMode::StatusQuery &&
                                r.mode->mode != RunMode::Toggle;
         return !installed || !r.after.addinDisabled || r.ShowsNothing() ||
                r.CouldNotReadExcelsSettings() || r.WarnedWith(kAddinStaysDisabled);
     }},
    {"a quiet run shows nothing",
     [](const InjectedRun& r) {
         return !r.ShowsNothing() ||
                r.CallsStartingWith(L"AskYesNo ") + r.CallsStartingWith(L"Inform ") +
                        r.CallsStartingWith(L"Warn ") + r.CallsStartingWith(L"ShowSuccessWindow") ==
                    0;
     }},
    {"the user's Excel has the add-in loaded again when the run ends unchanged, and only then",
     [](const InjectedRun& r) {
         if (r.Succeeded()) {
             return true;
         }
         if (!r.before.loaded) {
             return !r.after.loaded;
         }
         return !r.Unchanged() || r.after.loaded ||
                Said(r, L"the add-in stayed closed in the user's Excel",
                     L"加载项已在 Excel 中关闭，重新打开 Excel 即可再次载入") ||
                Said(r, L"the add-in may be closed in the user's Excel",
                     L"加载项可能已在 Excel 中关闭，重新打开 Excel 即可再次载入");
     }},
    {"nothing but the add-in is touched in the user's Excel",
     [](const InjectedRun& r) {
         return r.after.otherWorkbooks == r.before.otherWorkbooks &&
                r.CallsStartingWith(L"OpenAddin ") ==
                    r.CallsStartingWith(L"OpenAddin " + kInstalled) &&
                r.CallsStartingWith(L"CloseAddin ") ==
                    r.CallsStartingWith(L"CloseAddin QxButton.xla");
     }},
    {"the log ends with the exit code, written once",
     [](const InjectedRun& r) {
         const auto& log = r.host.logLines;
         return !log.empty() && log.back() == ExitCodeLine(r.exitCode) &&
                std::count_if(log.begin(), log.end(), [](const std::wstring& l) {
                    return l.rfind(L"Exit code ", 0) == 0;
                }) == 1;
     }},
    {"an install from a folder that cannot install is refused, changing nothing, and says why",
     [](const InjectedRun& r) {
         const bool installs = r.mode->mode == RunMode::Install ||
                               (r.mode->mode == RunMode::Toggle && !r.AskedForRemoval());
         if (!r.world->refusal || !installs || r.Failed(Op::IsInTemporaryFolder)) {
             return true; // a look that failed cannot tell
         }
         return r.exitCode != 0 && r.Unchanged() &&
                (!r.faults.empty() || r.LogHas(L"Failed: " + std::wstring(r.world->refusal)));
     }},
    {"what the box and the log say stayed really stayed",
     [](const InjectedRun& r) {
         const bool addinStayed = !r.after.SameAddin(r.before);
         const bool recordStayed = r.after.record != r.before.record;
         const bool closedStayed = r.before.loaded && !r.after.loaded;
         return (addinStayed || (!r.LogHas(L"Not undone: the add-in stayed in " + kStartup) &&
                                 !r.WarnedWith(L"仍留在"))) &&
                (recordStayed || (!r.LogHas(L"Not undone: the record") &&
                                  !r.WarnedWith(L"设置记录未能恢复原样"))) &&
                (closedStayed || (!r.LogHas(L"Not undone: the add-in stayed closed") &&
                                  !r.WarnedWith(L"加载项已在 Excel 中关闭")));
     }},
    {"a quiet run's log claims no box or window shown",
     [](const InjectedRun& r) {
         return !r.ShowsNothing() ||
                std::none_of(
                    r.host.logLines.begin(), r.host.logLines.end(), [](const std::wstring& l) {
                        for (const wchar_t* shown : {L"Show: ", L"Show the success window",
                                                     L"Show it: ", L"Ask whether to uninstall"}) {
                            if (l.rfind(shown, 0) == 0) {
                                return true;
                            }
                        }
                        return false;
                    });
     }},
    {"the log names every failed call with its error",
     [](const InjectedRun& r) {
         for (const Fault& f : r.faults) {
             const std::wstring said = ErrorText(f.kind->error);
             long failed = 0;
             for (const Fault& g : r.faults) {
                 failed +=
                     ErrorText(g.kind->error) == said && r.host.failed.count({g.op, g.nth}) != 0;
             }
             const long logged =
                 std::count_if(r.host.logLines.begin(), r.host.logLines.end(),
                               [&](const std::wstring& l) { return l.find(said) != l.npos; });
             if (logged < failed) {
                 return false;
             }
         }
         return true;
     }},
};

std::string Describe(const InjectedRun& r) {
    std::ostringstream out;
    out << r.mode->name << " in \"" << r.world->name << "\"";
    const char* joiner = ", failing ";
    for (const Fault& f : r.faults) {
        out << joiner << CallOf(f.op).name << " #" << f.nth << " (" << f.kind->name << ")";
        joiner = " then ";
    }
    return out.str();
}

// Each call a run made that can fail, as the nth of its kind.
std::vector<std::pair<Op, int>> CallsMade(const FakeHost& host, std::size_t from) {
    std::vector<std::pair<Op, int>> made;
    std::map<Op, int> counts;
    for (std::size_t i = 0; i < host.ops.size(); ++i) {
        const int nth = ++counts[host.ops[i]];
        if (i >= from) {
            made.emplace_back(host.ops[i], nth);
        }
    }
    return made;
}

// The index in `host.ops` of the nth call of `op`.
std::size_t IndexOfCall(const FakeHost& host, Op op, int nth) {
    for (std::size_t i = 0; i < host.ops.size(); ++i) {
        if (host.ops[i] == op && --nth == 0) {
            return i;
        }
    }
    return host.ops.size();
}

TEST(FaultInjection, EveryRunEndsInstalledRemovedOrUnchangedAndSaysWhich) {
    long clean = 0;
    long single = 0;
    long pairs = 0;
    std::map<const Rule*, std::vector<std::string>> violations;
    // Under the sanitizers the pairs, which the native run judges, would take most of a minute;
    // single failures reach every line of the sequence there all the same.
    const bool pairsToo = std::getenv("QX_FAULT_INJECTION_SINGLES") == nullptr;
    const auto judge = [&](const InjectedRun& r) {
        for (const Rule& rule : kRules) {
            if (!rule.holds(r)) {
                violations[&rule].push_back(Describe(r));
            }
        }
    };

    for (const World& world : kWorlds) {
        for (const Mode& mode : kModes) {
            const InjectedRun cleanRun = Execute(mode, world, {});
            ++clean;
            judge(cleanRun);
            for (const auto& [op, nth] : CallsMade(cleanRun.host, 0)) {
                for (const Kind* kind : CallOf(op).kinds) {
                    const Fault first{op, nth, kind};
                    const InjectedRun once = Execute(mode, world, {first});
                    ++single;
                    judge(once);
                    const std::size_t after = IndexOfCall(once.host, op, nth) + 1;
                    for (const auto& [op2, nth2] :
                         pairsToo ? CallsMade(once.host, after) : CallsMade(once.host, SIZE_MAX)) {
                        for (const Kind* kind2 : CallOf(op2).kinds) {
                            judge(Execute(mode, world, {first, {op2, nth2, kind2}}));
                            ++pairs;
                        }
                    }
                }
            }
        }
    }

    std::vector<Broken> broken;
    for (const Rule& rule : kRules) {
        broken.push_back({rule.name, violations[&rule]});
    }
    const long total = PrintViolations(std::move(broken));
    std::ostringstream summary;
    summary << "fault injection: " << clean + single + pairs << " runs (" << single << " single, "
            << pairs << " double), " << total << " violations";
    EXPECT_EQ(total, 0);
    std::ofstream(QX_FAULT_INJECTION_REPORT) << summary.str() << "\n";
    std::cout << summary.str() << std::endl;
}

} // namespace
} // namespace qx::testing
