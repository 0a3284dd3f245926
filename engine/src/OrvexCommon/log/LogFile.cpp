// One log: its file, the switch to the next file, and formatted lines.
#include "OrvexCommon/log/detail/LogFile.h"
#include "OrvexCommon/filesystem/OrvexPathMgr.h"
#include "OrvexCommon/log/OrvexLog.h"
#include "OrvexCommon/log/detail/LogFileRegistry.h"
#include "OrvexCommon/platform/OrvexSys.h"
#include "OrvexCommon/text/OrvexText.h"
#include "OrvexCommon/text/detail/PrintFormat.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <new>

namespace Orvex {
namespace detail {

namespace {

// The formatted text of one Print or VPrint, before its line end.
constexpr std::size_t kMaxLineText = 1024;
constexpr char kLineEnd[] = "\r\n";
constexpr std::size_t kLineEndLength = sizeof(kLineEnd) - 1;

// A UTF-8 name of at most kLogNameCapacity bytes never needs more units.
typedef wchar_t WideLogName[kLogNameCapacity];

// How this runtime's vsnprintf writes the cases runtimes differ on, read once.
const SPrintTraits& RuntimePrintTraits() {
    static const SPrintTraits traits = [] {
        SPrintTraits probed = ProbePrintTraits();
        // Log lines are formatted on many threads at once.
        probed.decimalPoint = &sys::DecimalPoint;
        return probed;
    }();
    return traits;
}

// Creates the directories a log's name starts with, so that "x/y/z" can open
// its file in x/y. A failure is left for the open to meet.
void CreateLogDirectories(const char* name) {
    const std::size_t length = LogDirectoryLength(name);
    if (length == 0) {
        return;
    }
    char directory[kLogNameCapacity];
    std::memcpy(directory, name, length);
    directory[length] = '\0';
    WideLogName wide;
    Utf8ToUcs(directory, wide, kLogNameCapacity);
    CPathMgr::MakeDirectory(wide);
}

} // namespace

CLogFile::CLogFile(const char* name, std::int64_t now, unsigned logId)
    : m_lock(sys::CreateRecursiveLock()), m_file(nullptr), m_fileSize(0), m_fileName(), m_name(),
      m_createTime(now), m_logId(logId), m_rotations(0), m_createDate(LocalDateOf(now)),
      m_createDay(LocalDayOf(m_createDate)), m_lastOpenTry(now), m_failureTold(false),
      m_failurePending(false), m_writeFailureTold(false), m_writeFailurePending(false) {
    CopyLogName(m_name, name);
    if (m_lock == nullptr) {
        return; // unusable: the registry throws it away before any file work
    }
    CreateLogDirectories(m_name);
    ComposeLogFileName(m_fileName, m_name, m_createDate, 0, m_logId);
    OpenCurrentFile();
}

CLogFile::~CLogFile() {
    if (m_file != nullptr) {
        std::fclose(m_file);
    }
    sys::DestroyRecursiveLock(m_lock);
}

bool CLogFile::TakeOpenFailure(char (&fileName)[kLogNameCapacity]) {
    if (!m_failurePending) {
        return false;
    }
    m_failurePending = false;
    std::memcpy(fileName, m_fileName, sizeof(m_fileName));
    return true;
}

void CLogFile::OpenCurrentFile() {
    m_fileSize = 0;
    WideLogName wide;
    Utf8ToUcs(m_fileName, wide, kLogNameCapacity);
    m_file = sys::OpenFileStream(wide, "a+b");
    if (m_file == nullptr) {
        // Writes are dropped until a later switch opens a file; only the
        // first failure is worth a line on the error stream.
        m_failurePending = !m_failureTold;
        m_failureTold = true;
        return;
    }
    if (sys::SeekStream64(m_file, 0, SEEK_END) == 0) {
        const std::int64_t end = sys::TellStream64(m_file);
        if (end > 0) {
            // A file beyond 4 GiB reads as full, which is over the limit too.
            m_fileSize = end > static_cast<std::int64_t>(UINT32_MAX)
                             ? UINT32_MAX
                             : static_cast<std::uint32_t>(end);
        }
    }
}

void CLogFile::NoteWriteError() {
    if (m_file == nullptr || !std::ferror(m_file)) {
        return;
    }
    std::clearerr(m_file);
    m_writeFailurePending = !m_writeFailureTold;
    m_writeFailureTold = true;
}

void CLogFile::SwitchIfDue(std::int64_t now) {
    if (m_fileSize <= kLogFileSizeLimit && m_createDay.Holds(now)) {
        return;
    }
    const SLogDate today = LocalDateOf(now);
    if (today == m_createDate && m_fileSize <= kLogFileSizeLimit) {
        return;
    }
    if (m_file != nullptr) {
        std::fflush(m_file);
        std::fclose(m_file);
        m_file = nullptr;
    }
    // The number is the count of switches before this one, so the first
    // switch keeps 0: for size, on the day the log was created, that reopens
    // the same file, still over the limit, and the next write moves on to 1.
    ComposeLogFileName(m_fileName, m_name, today, m_rotations, m_logId);
    ++m_rotations;
    m_createTime = now;
    m_createDate = today;
    m_createDay = LocalDayOf(today);
    m_lastOpenTry = now;
    OpenCurrentFile();
}

void CLogFile::RetryOpenIfDue(std::int64_t now) {
    if (m_file != nullptr || now == m_lastOpenTry) {
        return;
    }
    m_lastOpenTry = now;
    CreateLogDirectories(m_name);
    OpenCurrentFile();
}

unsigned CLogFile::Write(const char* data, unsigned size) {
    if (data == nullptr) {
        size = 0;
    }
    char failedName[kLogNameCapacity];
    bool failed = false;
    bool writeFailed = false;
    std::size_t written = 0;
    {
        sys::ScopedLock hold(m_lock);
        const std::int64_t now = sys::CalendarSeconds();
        SwitchIfDue(now);
        RetryOpenIfDue(now);
        failed = TakeOpenFailure(failedName);
        if (m_file != nullptr) {
            if (size != 0) {
                written = std::fwrite(data, 1, size, m_file);
                // A failing disk shows as a short write (the buffer's flush
                // failed): the error flag, which takes the stream's lock, is
                // read only then.
                if (written != size) {
                    NoteWriteError();
                }
            }
            if (m_writeFailurePending) {
                m_writeFailurePending = false;
                writeFailed = true;
                std::memcpy(failedName, m_fileName, sizeof(m_fileName));
            }
            // What was asked, not what was written: a short write still
            // counts toward the switch, so a failing disk cannot keep a log
            // in one file for ever.
            m_fileSize = AddLogSize(m_fileSize, size);
        }
    }
    if (failed) {
        ReportUnopenableLog(failedName);
    } else if (writeFailed) {
        ReportUnwritableLog(failedName);
    }
    return static_cast<unsigned>(written);
}

unsigned CLogFile::Print(const char* format, ...) {
    va_list args;
    va_start(args, format);
    const unsigned length = VPrint(format, args);
    va_end(args);
    return length;
}

unsigned CLogFile::VPrint(const char* format, va_list args) {
    char line[kMaxLineText + kLineEndLength + 1];
    int produced = 0;
    if (format != nullptr) {
        // Our formatter writes the same bytes as vsnprintf; what it leaves to
        // the runtime goes there whole, with the arguments still unread.
        produced = FormatPrint(line, kMaxLineText + 1, format, args, RuntimePrintTraits());
        if (produced == kPrintFallback) {
            produced = std::vsnprintf(line, kMaxLineText + 1, format, args);
        }
    }
    // vsnprintf counts the text that did not fit too; a format it cannot
    // render (a negative result) leaves only the line end.
    const std::size_t text =
        produced < 0 ? 0 : std::min(static_cast<std::size_t>(produced), kMaxLineText);
    std::memcpy(line + text, kLineEnd, kLineEndLength);
    const unsigned length = static_cast<unsigned>(text + kLineEndLength);
    Write(line, length);
    return length;
}

unsigned CLogFile::GetFileSize() {
    sys::ScopedLock hold(m_lock);
    return m_fileSize;
}

const char* CLogFile::GetFileName() {
    return m_fileName;
}

std::int64_t CLogFile::GetCreateTime() {
    sys::ScopedLock hold(m_lock);
    return m_createTime;
}

const char* CLogFile::GetName() {
    return m_name;
}

void CLogFile::Flush() {
    // Under the lock, so that a flush never meets a switch closing the file.
    sys::ScopedLock hold(m_lock);
    if (m_file != nullptr) {
        std::fflush(m_file);
        NoteWriteError();
    }
}

void CLogFile::Release() {
    ReleaseRegisteredLog(this);
}

void ReportUnopenableLog(const char* fileName) {
    GetErrStream() << "cannot open log file \"" << fileName << "\"; its writes are dropped\n";
}

void ReportUnwritableLog(const char* fileName) {
    GetErrStream() << "cannot write log file \"" << fileName
                   << "\"; writes are dropped until there is room\n";
}

} // namespace detail
} // namespace Orvex
