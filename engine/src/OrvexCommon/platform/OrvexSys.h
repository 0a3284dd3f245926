// The platform layer: every operating-system service the library uses, as one
// contract. Each backend folder (win32/, posix/) implements all of it, one file
// per service with the same file names; CMake compiles only the chosen folder.
// Nothing outside platform/ talks to the operating system directly.
//
// Unless a function says otherwise it may be called from any thread, sets no
// errno-style state the caller must read, and reports failure only through its
// result.
#ifndef ORVEX_PLATFORM_ORVEXSYS_H
#define ORVEX_PLATFORM_ORVEXSYS_H

#include <cstddef>
#include <cstdint>
#include <ctime>

namespace Orvex {
namespace sys {

// ---------------------------------------------------------------------------
// Recursive locks (lock.cpp)
// ---------------------------------------------------------------------------

// Opaque recursive mutex: the thread that holds it may enter it again and must
// leave it as many times as it entered.
struct RecursiveLock;

// Allocates the lock's storage with malloc (never with the library's pooled
// allocator, which itself needs locks) and initialises it. Returns null only
// when that storage cannot be had. The caller owns the lock and gives it back
// with DestroyRecursiveLock.
RecursiveLock* CreateRecursiveLock();

// Deletes the lock and frees its storage. Null is accepted and ignored. The
// lock must not be held or waited on by any thread.
void DestroyRecursiveLock(RecursiveLock* lock);

// Blocks until the calling thread holds the lock. Re-entry by the holder
// succeeds at once. The lock must be valid (not null).
void EnterLock(RecursiveLock* lock);

// Releases one level of the calling thread's hold. The caller must hold it.
void LeaveLock(RecursiveLock* lock);

// Holds a lock for one scope. Portable: built only on the two calls above.
class ScopedLock {
public:
    explicit ScopedLock(RecursiveLock* lock) : m_lock(lock) { EnterLock(m_lock); }
    ~ScopedLock() { LeaveLock(m_lock); }
    ScopedLock(const ScopedLock&) = delete;
    ScopedLock& operator=(const ScopedLock&) = delete;

private:
    RecursiveLock* m_lock;
};

// ---------------------------------------------------------------------------
// Threads (thread.cpp)
// ---------------------------------------------------------------------------

// A thread procedure: its return value becomes the thread's exit code.
typedef unsigned (*ThreadProc)(void* context);

// Opaque handle of a thread started by StartThread.
struct Thread;

// Starts a thread at once running proc(context). stackSize 0 means the
// platform's default; a non-zero size is a hint the backend may round or
// ignore. Returns null when proc is null or the thread cannot be started. The
// caller owns the handle and must give it to JoinThread exactly once.
Thread* StartThread(ThreadProc proc, void* context, unsigned stackSize);

// Waits without time limit for the thread to end, stores its exit code through
// exitCode when that is not null, and releases the handle. Returns false (and
// keeps the handle) only when waiting itself fails.
bool JoinThread(Thread* thread, unsigned* exitCode);

// Suspends the calling thread for at least the given number of milliseconds.
void SleepMilliseconds(unsigned milliseconds);

// ---------------------------------------------------------------------------
// Console (console.cpp)
// ---------------------------------------------------------------------------

enum class ConsoleStream { Output, Error };

// Writes `length` bytes of UTF-8 text to the process's standard output or
// standard error as the platform shows text: a real console receives it as
// wide characters; a redirected handle, file or pipe receives the UTF-8 bytes
// unchanged. Text that cannot be delivered (no such handle, a closed pipe) is
// dropped silently. Never raises a signal, never throws.
void WriteConsoleText(ConsoleStream stream, const char* utf8, std::size_t length);

// ---------------------------------------------------------------------------
// Millisecond clock (clock.cpp)
// ---------------------------------------------------------------------------

// Milliseconds from an arbitrary fixed origin (typically system start),
// monotonic, 64 bits wide, never wrapping.
std::uint64_t MonotonicMilliseconds();

// ---------------------------------------------------------------------------
// Calendar and time zone (calendar.cpp)
// ---------------------------------------------------------------------------

// The current calendar time in whole seconds since 1970-01-01 00:00:00 UTC.
std::int64_t CalendarSeconds();

// Breaks `seconds` since the epoch down as UTC into `fields` (thread-safe: no
// shared static record). Returns false, leaving `fields` unspecified, when the
// platform cannot represent that time (Windows: before 1970 or after 3000).
bool BreakDownUtc(std::int64_t seconds, std::tm& fields);

// Reads `fields` as local wall-clock time in the process's time zone and
// returns seconds since the epoch, normalising `fields` like mktime does.
// Returns -1 when the platform cannot convert it.
std::int64_t LocalFieldsToSeconds(std::tm& fields);

// Makes the calendar functions pick up a changed time-zone setting of the
// process environment (the TZ variable).
void ReloadTimeZone();

} // namespace sys
} // namespace Orvex

#endif // ORVEX_PLATFORM_ORVEXSYS_H
