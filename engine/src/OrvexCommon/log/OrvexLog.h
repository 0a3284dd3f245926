// Logging: named log files (OrvexLogFile.h) and the two process-wide line
// streams (log and error) with their host hooks.
//
// Text written to either stream is gathered into lines. Each finished line
// (ending with a line feed) goes to the stream's hook, when the host set one,
// and always to the console: the log stream to standard output, the error
// stream to standard error. Text without a final line feed is never delivered.
// Several threads may write at once; characters written at the same time may
// interleave within a line, none is lost. Hooks run outside the stream's lock
// and may be called from two threads at once.
//
// Each stream is an std::ostream that is its own std::streambuf without a put
// area, so every character reaches overflow(), which appends it under the
// stream's lock and, at a line feed, hands the line (outside the lock) to the
// hook and to sys::WriteConsoleText: on Windows WriteConsoleW for a real
// console and the UTF-8 bytes through WriteFile for a redirected handle (where
// WriteConsoleW fails); on Linux the UTF-8 bytes to descriptor 1 or 2.
#ifndef ORVEX_LOG_ORVEXLOG_H
#define ORVEX_LOG_ORVEXLOG_H

#include "OrvexCommon/base/OrvexExport.h"
#include "OrvexCommon/log/OrvexLogFile.h"

#include <ostream>

namespace Orvex {

// Receives one finished line: its bytes (zero-terminated, line feed included)
// and its length in bytes.
typedef void (*GlobOutputFun)(const char* text, unsigned length);

// The hooks of the log and error streams; null (the start value) means the
// console is the only sink. Meant to be set once at start-up.
ORVEX_API void SetGlobLogFun(GlobOutputFun hook);
ORVEX_API GlobOutputFun GetGlobLogFun();
ORVEX_API void SetGlobErrFun(GlobOutputFun hook);
ORVEX_API GlobOutputFun GetGlobErrFun();

// The two streams, created on first call and destroyed at unload.
ORVEX_API std::ostream& GetLogStream();
ORVEX_API std::ostream& GetErrStream();

// Writes wide text to any narrow stream as UTF-8; null writes nothing. It is
// found for Orvex code; elsewhere bring it in with `using Orvex::operator<<;`.
ORVEX_API std::ostream& operator<<(std::ostream& stream, const wchar_t* text);

} // namespace Orvex

#endif // ORVEX_LOG_ORVEXLOG_H
