// Crash handling for tests: a fault handler that hands the fault to a
// callback, and what the platform's dump files look like.
#ifndef ORVEX_TESTS_SUPPORT_CRASHHANDLER_H
#define ORVEX_TESTS_SUPPORT_CRASHHANDLER_H

#include "OrvexCommon/platform/OrvexCrashContext.h"

#include <string>

namespace OrvexTest {

// Receives the description of a fault; it is expected to end the process.
typedef void (*CrashCallback)(Orvex::EXCEPTION_POINTERS* exception);

// Makes `callback` run when the process faults. POSIX: an SA_SIGINFO handler
// for SIGSEGV, SIGBUS, SIGILL and SIGFPE on an alternate stack of its own;
// Windows: the unhandled-exception filter. Should the callback return, the
// fault takes its default course.
void InstallCrashHandler(CrashCallback callback);

// The bytes every dump of this platform starts with: "\x7f" "ELF" for an ELF
// core, "MDMP" for a minidump.
std::string DumpMagic();

// True where dumps are core files that gdb opens beside their program.
bool DumpsOpenInGdb();

// What `gdb -batch -ex bt <program> <core>` printed (output and error
// together) and its exit code: -1 when it did not end by exiting, 127 when
// gdb could not be started.
struct DebuggerRun {
    int exitCode;
    std::string text;
};
DebuggerRun RunGdbBacktrace(const std::string& program, const std::string& core);

} // namespace OrvexTest

#endif // ORVEX_TESTS_SUPPORT_CRASHHANDLER_H
