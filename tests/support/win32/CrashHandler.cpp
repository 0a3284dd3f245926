// Windows crash handling for tests: the unhandled-exception filter, minidumps.
#include "CrashHandler.h"

#ifndef NOMINMAX
#define NOMINMAX
#endif
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

namespace OrvexTest {

namespace {

CrashCallback g_callback = nullptr;

LONG WINAPI OnUnhandledException(EXCEPTION_POINTERS* exception) {
    if (g_callback != nullptr) {
        g_callback(exception);
    }
    return EXCEPTION_CONTINUE_SEARCH;
}

} // namespace

void InstallCrashHandler(CrashCallback callback) {
    g_callback = callback;
    // No error box when the callback lets the fault go on.
    SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX);
    SetUnhandledExceptionFilter(OnUnhandledException);
}

std::string DumpMagic() {
    return "MDMP";
}

bool DumpsOpenInGdb() {
    return false;
}

DebuggerRun RunGdbBacktrace(const std::string&, const std::string&) {
    return DebuggerRun{127, "minidumps are opened with WinDbg or Visual Studio, not gdb"};
}

} // namespace OrvexTest
