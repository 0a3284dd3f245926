// The library's one kind of log: a named file that switches to a new file by
// date and by size.
#ifndef ORVEX_LOG_DETAIL_LOGFILE_H
#define ORVEX_LOG_DETAIL_LOGFILE_H

#include "OrvexCommon/log/OrvexLogFile.h"
#include "OrvexCommon/log/detail/LogFileName.h"
#include "OrvexCommon/platform/OrvexSys.h"

#include <cstdint>
#include <cstdio>

namespace Orvex {
namespace detail {

class CLogFile final : public ILog {
public:
    // Creates the directories `name` starts with and opens the file of the date of
    // `now` with rotation number 0. Check IsUsable afterwards: without a lock
    // the log must be destroyed unused.
    CLogFile(const char* name, std::int64_t now, unsigned logId);
    // Closes the file (which hands the runtime's buffer to the system) and
    // frees the lock. No other thread may be using the log.
    ~CLogFile();
    CLogFile(const CLogFile&) = delete;
    CLogFile& operator=(const CLogFile&) = delete;

    bool IsUsable() const { return m_lock != nullptr; }

    // True once per log, after its first failed open: copies the name that
    // could not be opened, so that the caller can report it once it holds no
    // lock any more (the error stream may call a host hook that logs). The
    // caller must hold the log's lock or be the only one who knows the log.
    bool TakeOpenFailure(char (&fileName)[kLogNameCapacity]);

    unsigned Write(const char* data, unsigned size) override;
    unsigned Print(const char* format, ...) override;
    unsigned VPrint(const char* format, va_list args) override;
    unsigned GetFileSize() override;
    const char* GetFileName() override;
    std::int64_t GetCreateTime() override;
    const char* GetName() override;
    void Flush() override;
    void Release() override;

private:
    // Leaves the current file for a new one when the date changed or the file
    // is over the size limit. Called under the log's lock.
    void SwitchIfDue(std::int64_t now);
    // Opens m_fileName for appending and takes its length. Called under the
    // log's lock, with no file open.
    void OpenCurrentFile();
    // A log without its file tries to open it again, at most once a second,
    // so it comes back once the folder can be made or there is memory again.
    // Called under the log's lock.
    void RetryOpenIfDue(std::int64_t now);
    // After a write or flush, under the log's lock: a failed one (a full
    // disk, a file grown past the system's limit) loses what the stream held
    // and is noted for a report once per log; the stream is cleared, so
    // writing resumes when there is room again.
    void NoteWriteError();

    // The fields a log is described by, in their usual order.
    sys::RecursiveLock* m_lock; // covers everything below but m_name and m_logId
    std::FILE* m_file;          // null when the current file could not be opened
    std::uint32_t m_fileSize;
    char m_fileName[kLogNameCapacity];
    char m_name[kLogNameCapacity];
    std::int64_t m_createTime;
    std::uint32_t m_logId;
    std::uint32_t m_rotations;

    // The local date of m_createTime, and the seconds it lasts: a write in
    // those seconds needs no breakdown of its time at all.
    SLogDate m_createDate;
    SLogDay m_createDay;
    std::int64_t m_lastOpenTry; // calendar seconds of the last attempt to open
    bool m_failureTold;         // this log's one report of a failed open is spent
    bool m_failurePending;      // ... and waits for TakeOpenFailure
    bool m_writeFailureTold;    // this log's one report of a failed write is spent
    bool m_writeFailurePending; // ... and waits for the next Write to make it
};

// Reports on the error stream, with one line, that a log's file cannot be
// opened and its writes are dropped.
void ReportUnopenableLog(const char* fileName);

// Reports on the error stream, with one line, that writes to a log's file
// failed and were dropped.
void ReportUnwritableLog(const char* fileName);

} // namespace detail
} // namespace Orvex

#endif // ORVEX_LOG_DETAIL_LOGFILE_H
