// Diagnostics: the report path for a broken invariant and the process-wide
// hooks around it.
//
// OrvexException writes a six-line report to the log stream, puts it to the
// user and acts on the answer: end the process, abort, break into the
// debugger or carry on. The assertion hook is kept here for the library's
// callers; the library stores it and never calls it. Both hooks are atomic
// pointers.
//
// The question goes through GetGlobExceptionBoxFun() when the host set one,
// else through sys::AskUser. On Windows that is MessageBoxW, and any answer
// but 1, 3, 4 or 5 (such as the -1 of a box that cannot be shown) counts as
// "could not ask". OK to a fatal report ends the process with exit code 1, so
// a fatal error never looks like success, and at once (sys::EndProcess): stdio
// (log files included) is flushed, then POSIX calls _exit and Windows
// TerminateProcess, with no exit handlers and no modules' detach handlers,
// since another thread may hold a library lock and the library's teardown
// would deliver finished loads to a host that declared itself broken and
// print a leak line. Abort, and a profile label created twice, end the
// process as an abnormal end (sys::AbortProcess: abort on POSIX, exit code 3
// on Windows). Retry breaks into the debugger (DebugBreak, SIGTRAP).
#ifndef ORVEX_DIAG_ORVEXDIAG_H
#define ORVEX_DIAG_ORVEXDIAG_H

#include "OrvexCommon/base/OrvexExport.h"
#include "OrvexCommon/diag/OrvexProfile.h"
#include "OrvexCommon/diag/OrvexStack.h"

namespace Orvex {

// A caller's assertion handler: the failed expression, the source file and
// line.
typedef void (*GlobAssertFun)(const char* expression, const char* file, unsigned line);

// Stores the assertion hook; any value, null included. Not locked.
ORVEX_API void SetGlobAssertFun(GlobAssertFun hook);
// The stored hook. Before the first SetGlobAssertFun it is a function that
// does nothing, so what this returns can always be called.
ORVEX_API GlobAssertFun GetGlobAssertFun();

// Puts a report to the user and returns the answer as an error box would:
// 1 OK, 3 Abort, 4 Retry, 5 Ignore, 0 when the user could not be asked.
typedef int (*GlobExceptionBoxFun)(const wchar_t* report, bool fatal);

// Replaces the way OrvexException asks. Null (the start value) asks the
// platform's way: an error box on Windows; on POSIX a prompt on the terminal
// when standard input and standard error are terminals, else OK for a fatal
// report and Ignore for any other.
ORVEX_API void SetGlobExceptionBoxFun(GlobExceptionBoxFun hook);
ORVEX_API GlobExceptionBoxFun GetGlobExceptionBoxFun();

// Reports a broken invariant at a source position as a report macro gives it
// (file, build date, build time, line, function; all UTF-8). The report's six
// lines are: message, the file's lower-cased base name, date, time,
// "Line:<line>", function. It goes to the log stream after a line
// "OrvexException: ", then to the user.
// fatal: the user may only acknowledge; OK ends the process with exit code 1;
//        when nobody could be asked the call returns.
// otherwise: Abort ends the process (see above), Retry breaks into the
//        debugger and returns,
//        Ignore (or nobody asked) returns.
ORVEX_API void OrvexException(const char* message, const char* file, const char* date,
                              const char* time, unsigned line, const char* function, bool fatal);

} // namespace Orvex

#endif // ORVEX_DIAG_ORVEXDIAG_H
