#include "app/Win32HostServices.h"
#include "host/LogFile.h"
#include "host/MessageBoxes.h"
#include "host/OneRunAtATime.h"
#include "host/ScopedWin.h"
#include "installer/CommandLine.h"
#include "installer/ExitCodes.h"
#include "installer/MainMod.h"
#include "installer/Messages.h"
#include "installer/UsageAnswer.h"
#include "version.h"

#include <cstdlib>
#include <string>
#include <vector>

namespace {

// An installer usually runs from a Downloads folder, where a planted DLL must never load.
// Looked up rather than imported: Windows 7 without KB2533623 lacks the function, and the
// program must still start there.
void LoadDllsOnlyFromSystem32() {
    using SetDefaultDllDirectoriesFn = BOOL(WINAPI*)(DWORD);
    const HMODULE kernel32 = GetModuleHandleW(L"kernel32.dll");
    const auto setDefaultDllDirectories = reinterpret_cast<SetDefaultDllDirectoriesFn>(
        reinterpret_cast<void*>(GetProcAddress(kernel32, "SetDefaultDllDirectories")));
    if (setDefaultDllDirectories) {
        setDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32);
    }
}

// As the C runtime split the command line (the rules every Windows program follows), without
// the program's own name. CommandLineToArgvW would load shell32 and its dependencies at start.
std::vector<std::wstring> ProgramArguments() {
    std::vector<std::wstring> arguments;
    for (int i = 1; i < __argc; ++i) {
        arguments.emplace_back(__wargv[i]);
    }
    return arguments;
}

void ShowUsage(const qx::UsageAnswer& answer) {
    switch (answer.box) {
    case qx::UsageBox::Warning:
        qx::WarnBox(qx::kUsage);
        break;
    case qx::UsageBox::Information:
        qx::InformBox(qx::kUsage);
        break;
    case qx::UsageBox::Hidden:
        break;
    }
}

int Finish(qx::LogFile& log, int exitCode) {
    log.Write(qx::ExitCodeLine(exitCode));
    return exitCode;
}

} // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
    LoadDllsOnlyFromSystem32();
    HeapSetInformation(nullptr, HeapEnableTerminationOnCorruption, nullptr, 0);

    // The command line is read once, before anything else happens.
    const qx::CommandLine commandLine = qx::ParseCommandLine(ProgramArguments());
    if (const auto answer = qx::AnswerWithUsage(commandLine)) {
        ShowUsage(*answer);
        return answer->exitCode;
    }

    // A deployment tool reads the log when a desktop fails: a run that cannot keep one asked
    // for does nothing.
    qx::LogFile log;
    if (!commandLine.logFile.empty()) {
        if (const auto opened = log.Open(commandLine.logFile); !opened) {
            if (!commandLine.quiet) {
                qx::WarnBox(qx::LogUnavailableMessage(opened.error().description));
            }
            return qx::kExitLogUnavailable;
        }
    }
    log.Write(L"QXSetup " QX_VERSION_TEXT L" started: " + std::wstring(GetCommandLineW()));

    // A second start while a run is in progress changes nothing and asks nothing: its question
    // could undo what the first run is doing.
    const qx::OneRunAtATime oneRun;
    if (oneRun.AnotherRunInProgress()) {
        log.Write(L"Another run is in progress: nothing done");
        if (!commandLine.quiet) {
            oneRun.BringOtherRunForward();
        }
        return Finish(log, qx::kExitAnotherRunInProgress);
    }

    // Declared in this order so that Excel is released before COM is shut down.
    const qx::ComApartment com;
    qx::Win32HostServices host(instance, log);
    qx::MainMod mainMod(host, {commandLine.mode, commandLine.quiet});

    mainMod.Main();
    host.RunMessageLoopWhileWindowOpen();
    return Finish(log, mainMod.ExitCode());
}
