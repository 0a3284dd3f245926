// Named, append-only log files that rotate by calendar date and by size. The
// library keeps one log object per name for the life of the process, so every
// module naming the same log writes to the same file. Logs add nothing to
// what is written but the line end of Print and VPrint: no time stamp, level
// or prefix.
//
// A log named "dir/net" with id 7, created on 31 January 2020 (local time),
// writes to "dir/net_2020-01-31-0.7.log"; the directories are created. The
// number before the id counts the switches to a new file made before it, so
// the first switch keeps 0.
//
// A log switches to a new file before a write when the local calendar date
// (year, month and day) differs from the date its current file was opened on,
// or when the file already holds more than 10 485 760 bytes. A switch forced
// by size on the day the file was opened reuses that file's name at first:
// the same file is reopened, takes one write, and the next write moves on to
// the next number.
//
// Writes go through the C runtime's buffered stream. Bytes reach the
// operating system on Flush, FlushAllLog, a switch, Release or unload (or
// when the runtime's buffer fills); a flush is a plain fflush, and from then
// on the bytes belong to the system and survive the end of the process,
// however abrupt.
//
// A log whose file cannot be opened still works: its writes return 0 and are
// dropped, its size stays 0, its flushes do nothing, and the first such
// failure of each log is reported with one line on the library's error
// stream, written after every lock is released (the host's hook might write
// to a log). A write tries the open again, at most once a second, so the log
// comes back once its folder can be made. A write or flush that fails (a
// full disk, a file past the system's size limit) loses what the stream
// held, says so once per log on the error stream ("cannot write log file
// ..."), and the log writes again as soon as there is room.
//
// Calendar time comes from sys::CalendarSeconds, which tests shift with
// sys::SetCalendarShift to cross midnight or months; the local date from
// sys::BreakDownLocal (localtime_r, _localtime64_s, summer time included).
#ifndef ORVEX_LOG_ORVEXLOGFILE_H
#define ORVEX_LOG_ORVEXLOGFILE_H

#include "OrvexCommon/base/OrvexExport.h"

#include <cstdarg>
#include <cstdint>

namespace Orvex {

// One named log. Every operation may be called from any thread; writes of
// several threads to one log never interleave within one Write. The object
// belongs to the library: it lives until Release or unload.
class ILog {
public:
    // Appends `size` bytes after the switch check above; returns the count
    // the runtime's write reports (0 when the log has no open file).
    virtual unsigned Write(const char* data, unsigned size) = 0;
    // Formats one line (at most 1024 bytes of text, longer text is cut) and
    // appends it with "\r\n" in one Write; returns the bytes handed to Write.
    // The text is byte for byte what the C runtime's vsnprintf writes (the
    // library formats the usual conversions itself and hands the rest to it).
    virtual unsigned Print(const char* format, ...) = 0;
    virtual unsigned VPrint(const char* format, va_list args) = 0;
    // The bytes in the current file: its length when opened plus every size
    // written since.
    virtual unsigned GetFileSize() = 0;
    // The name of the current file (UTF-8); it changes at a switch, so read
    // it when no other thread writes to the log.
    virtual const char* GetFileName() = 0;
    // The calendar time, in seconds since 1970 UTC, at which the current
    // file was opened.
    virtual std::int64_t GetCreateTime() = 0;
    // The log's name as given, cut to 255 bytes.
    virtual const char* GetName() = 0;
    // Hands the runtime's buffered bytes to the operating system.
    virtual void Flush() = 0;
    // Removes the log from the registry and destroys it; the pointer is then
    // invalid. No other thread may be using the log at that moment.
    virtual void Release() = 0;

protected:
    ~ILog() = default;
};

// The log registered under `name` (UTF-8, compared byte by byte, so case
// matters; only the stem that names its files counts, see
// detail/LogFileName.h, so two names that would share their files are one
// log), created on first use with `logId`; later calls return it unchanged
// whatever their id. Null only when `name` is null or no memory is left for a
// new log.
ORVEX_API ILog* GetLogFile(const char* name, unsigned logId);
// Gets or creates the log as GetLogFile does and writes `size` bytes to it (no
// line end added). False only when no log could be had.
ORVEX_API bool WriteLog(const char* name, const char* data, unsigned size, unsigned logId);
// Flushes every log, in name order: every byte written before the call is in
// the operating system's hands when it returns.
ORVEX_API void FlushAllLog();

} // namespace Orvex

#endif // ORVEX_LOG_ORVEXLOGFILE_H
