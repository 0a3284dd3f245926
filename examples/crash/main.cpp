// A crash reporter: installs a fault handler that writes a dump of the process
// with DebugGenMiniDump, then crashes on purpose inside a function whose name
// the dump's backtrace shows.
//
//     orvex_crash_example [DUMP-FILE] [--full]
//
// Linux writes an ELF core ("gdb orvex_crash_example DUMP-FILE", then "bt");
// Windows writes a minidump that WinDbg or Visual Studio opens.
#include "CrashHandler.h"

#include <OrvexCommon/OrvexCommon.h>

#include <cstdio>
#include <cstring>
#include <string>

namespace {

// Prepared before the crash: nothing may be allocated once the handler runs.
wchar_t g_dumpFile[512];
bool g_fullMemory = false;
char g_report[1024];

void WriteDumpAndExit(Orvex::EXCEPTION_POINTERS* exception) {
    Orvex::DebugGenMiniDump(exception, g_dumpFile, g_fullMemory);
    WriteAndExit(g_report, 3);
}

// Out of line, so the dump shows a frame of its own. The undefined-behaviour
// sanitizer, in builds that have it, would stop at the null store before the
// fault could happen.
__attribute__((noinline, no_sanitize("undefined"))) void
CrashInsideThisFunction(int* volatile target) {
    *target = 42;
    __asm__ __volatile__("" ::: "memory");
}

} // namespace

int main(int argc, char** argv) {
    const std::string dumpFile =
        argc > 1 && std::strcmp(argv[1], "--full") != 0 ? argv[1] : "orvex_crash_example.dmp";
    g_fullMemory = (argc > 1 && std::strcmp(argv[argc - 1], "--full") == 0);
    std::mbstowcs(g_dumpFile, dumpFile.c_str(), sizeof(g_dumpFile) / sizeof(g_dumpFile[0]) - 1);
    std::snprintf(g_report, sizeof(g_report),
                  "crashed; %s dump written to %s\n"
                  "open it with: gdb %s %s   (Linux)   or WinDbg / Visual Studio (Windows)\n",
                  g_fullMemory ? "a full-memory" : "a", dumpFile.c_str(), argv[0],
                  dumpFile.c_str());

    InstallCrashHandler(WriteDumpAndExit);
    std::printf("about to write through a null pointer in CrashInsideThisFunction\n");
    std::fflush(stdout);
    CrashInsideThisFunction(nullptr);
    std::printf("not reached\n");
    return 0;
}
