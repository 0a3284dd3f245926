// What the crash example needs from the operating system: a fault handler that
// receives the fault's description, and a way out of the process that is safe
// inside it.
#ifndef ORVEX_EXAMPLES_CRASH_CRASHHANDLER_H
#define ORVEX_EXAMPLES_CRASH_CRASHHANDLER_H

#include <OrvexCommon/platform/OrvexCrashContext.h>

// Runs when the process faults; it should end the process.
typedef void (*CrashCallback)(Orvex::EXCEPTION_POINTERS* exception);

// POSIX: an SA_SIGINFO handler for SIGSEGV, SIGBUS, SIGILL and SIGFPE, on a
// stack of its own so that a stack overflow is caught too. Windows: the
// unhandled-exception filter.
void InstallCrashHandler(CrashCallback callback);

// Writes `text` to standard error and ends the process with `code`, without
// allocating or taking locks.
[[noreturn]] void WriteAndExit(const char* text, int code);

#endif // ORVEX_EXAMPLES_CRASH_CRASHHANDLER_H
