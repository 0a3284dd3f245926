// The platform layer: every operating-system service the library uses, as one
// contract. Each backend folder (win32/, posix/) implements all of it, one file
// per service with the same file names; CMake compiles only the chosen folder.
// Nothing outside platform/ talks to the operating system directly.
//
// Threads: unless a function says otherwise it may be called from any thread.
//
// Errors, one convention for every function: a failure is reported through
// the result alone, as the function's comment says (false, null, -1 or a
// negative value, an enum's failure value, a count short of what was asked);
// a function that cannot fail returns void. No function throws, none leaves
// state the caller must read afterwards (errno, GetLastError), and none writes
// to the log: the layers above decide what a failure means. LastErrorCode is
// the one way to ask for the system's code, for a message only.
//
// Helpers built on the contract (the scoped locks, the stream position and
// length, the calendar shift, heap blocks and injected memory faults) are
// implemented once, inline here or in the portable files beside this header,
// never by a backend.
#ifndef ORVEX_PLATFORM_ORVEXSYS_H
#define ORVEX_PLATFORM_ORVEXSYS_H

#include "OrvexCommon/base/OrvexExport.h"
#include "OrvexCommon/platform/OrvexCrashContext.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstdio>
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
// succeeds at once. Null stands for one process-wide lock in static storage:
// an object whose lock could not be created (no memory) still keeps other
// threads out, sharing that lock with every other such object.
void EnterLock(RecursiveLock* lock);

// Releases one level of the calling thread's hold. The caller must hold it.
void LeaveLock(RecursiveLock* lock);

// The same for a lock of the host's (OrvexLock): a forced end is never held
// back for it (see HoldEndBack), so a thread ended while it holds or waits
// for one ends at once and keeps what it holds, as on Windows.
void EnterHostLock(RecursiveLock* lock);
void LeaveHostLock(RecursiveLock* lock);

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

// A lock that lives and dies with its owner. Portable. get() is null only when
// the lock's storage could not be had, and the null lock still works.
class OwnedLock {
public:
    OwnedLock() : m_lock(CreateRecursiveLock()) {}
    ~OwnedLock() { DestroyRecursiveLock(m_lock); }
    OwnedLock(const OwnedLock&) = delete;
    OwnedLock& operator=(const OwnedLock&) = delete;

    RecursiveLock* get() const { return m_lock; }

private:
    RecursiveLock* m_lock;
};

// ---------------------------------------------------------------------------
// Short locks (shortlock.cpp)
// ---------------------------------------------------------------------------

// A lock for critical sections of a few dozen instructions taken very often
// (the allocator's): not recursive, cheapest when uncontended. Windows: a
// critical section with a spin count; POSIX: an atomic flag that spins briefly
// and then yields the processor.
struct ShortLock;

// Storage from malloc; null only when that fails. Released with
// DestroyShortLock (null accepted), which must not race with a holder.
ShortLock* CreateShortLock();
void DestroyShortLock(ShortLock* lock);
void EnterShortLock(ShortLock* lock);
void LeaveShortLock(ShortLock* lock);

class ScopedShortLock {
public:
    explicit ScopedShortLock(ShortLock* lock) : m_lock(lock) { EnterShortLock(m_lock); }
    ~ScopedShortLock() { LeaveShortLock(m_lock); }
    ScopedShortLock(const ScopedShortLock&) = delete;
    ScopedShortLock& operator=(const ScopedShortLock&) = delete;

private:
    ShortLock* m_lock;
};

// ---------------------------------------------------------------------------
// Threads (thread.cpp)
// ---------------------------------------------------------------------------
//
// Windows: a handle is the _beginthreadex handle; a handle without a thread id
// (the process's own pseudo-handle, which is INVALID_HANDLE_VALUE, or any
// other object) is refused by join and detach without being touched. POSIX: a
// handle is a malloc'd record (the pthread_t, the exit code, the kernel thread
// id) kept in a registry of live records, so joining or detaching a handle
// that is not a live record returns at once without touching it. A thread
// that tries to join itself is refused on every target (it would wait
// forever).
//
// Forced ends behave as on Windows on every target. On Linux the trampoline
// of every thread the library starts keeps a jump point (sigsetjmp):
// ExitCurrentThread jumps there, and TerminateThread sends the thread
// SIGRTMIN + 5, whose handler jumps there on the thread itself, so a spinning
// thread, one blocked in a lock or a system call, one inside catch (...) or a
// noexcept function all end within moments and a join gives the code given.
// No destructor, catch handler or noexcept check runs for the abandoned
// frames; what they held stays held (locks, memory, a lock inside the C
// library if the thread was in it), as with Windows' TerminateThread. A
// thread the library did not start has no jump point.
//
// Priorities are the Windows values; raising one on Linux without the
// privilege fails softly. The stack size hint applies on Windows only.

// A thread procedure: its return value becomes the thread's exit code. It has
// the calling convention the platform's thread start expects.
typedef unsigned(ORVEX_THREAD_CALL* ThreadProc)(void* context);

// Opaque handle of a thread. Windows: the handle _beginthreadex returns.
// POSIX: a record owning the pthread_t and the exit code, known to a registry
// of live records so that a stale or foreign handle is recognised without
// being dereferenced.
struct Thread;

// Starts a thread at once running proc(context). stackSize 0 means the
// platform's default; a non-zero size is a hint the backend may round or
// ignore (POSIX keeps the default stack). Returns null when proc is null or
// the thread cannot be started. The caller owns the handle and releases it
// with JoinThread or DetachThread, exactly once.
Thread* StartThread(ThreadProc proc, void* context, unsigned stackSize);

enum class JoinResult {
    Joined,     // the thread ended; exit code stored, handle released
    WaitFailed, // not a joinable thread handle (the calling thread's own
                // included); nothing touched, handle kept
    Unexpected, // the wait gave an unexpected answer; handle kept
};

// Waits without time limit for the thread to end and stores its exit code
// through exitCode when that is not null.
JoinResult JoinThread(Thread* thread, unsigned* exitCode);

// What a library thread tells of itself, for ReleaseThreadAtUnload: the
// thread calls EnterLibraryCode first thing and LeaveLibraryCode as its last
// act in the library's code.
struct ThreadLife {
    enum Stage : int { kStarting = 0, kInLibrary = 1, kLeft = 2, kAbandoned = 3 };
    std::atomic<int> stage{kStarting};
};

// False when the thread was abandoned before it got here (it must return at
// once without touching anything).
inline bool EnterLibraryCode(ThreadLife& life) {
    int starting = ThreadLife::kStarting;
    return life.stage.compare_exchange_strong(starting, ThreadLife::kInLibrary);
}

inline void LeaveLibraryCode(ThreadLife& life) {
    life.stage.store(ThreadLife::kLeft);
}

// Waits, at most boundMs, for a thread just started to enter the library's
// code. An unload that comes while a thread is still starting cannot wait for
// it (Windows' loader lock) and has to end it by force, and a thread ended by
// force may leave a lock of the system's own held. Nothing holds the loader
// lock where a thread is started, unless a host calls from its own module's
// entry, so the wait is bounded.
void AwaitLibraryEntry(ThreadLife& life, unsigned boundMs);

// Ends the caller's hold on a library thread while the library is torn down,
// after the thread was told to stop. POSIX: joins it. Windows: teardown at
// unload runs under the loader lock, which a thread needs in order to start
// and to end, so waiting for either would never return. A thread that has
// entered the library's code is waited for until it has left it (or has
// ended: at process exit the system ended it already). A thread still
// starting while the system detaches the library has run none of the
// library's code, but once the unload released the loader lock it would run
// code that is gone, so it is marked abandoned and ended (TerminateThread).
// That is a last resort: a thread ended in the middle of the system's own
// start-up may leave the process broken (under Wine a crash or a hang within
// some hundreds of tries), which is why the library waits at each start for
// its thread to enter (AwaitLibraryEntry). Outside a detach the teardown
// first waits for a starting thread to enter. Then the handle is closed.
void ReleaseThreadAtUnload(Thread* thread, ThreadLife& life);

// Releases the handle; the thread runs on and its resources go when it ends.
// A handle that is not a live thread handle is ignored.
void DetachThread(Thread* thread);

// Ends the calling thread with the given exit code (seen by JoinThread when
// the thread was started by StartThread) at once: nothing on its stack is
// unwound, locks it holds stay held (Windows: _endthreadex; POSIX: a jump to
// the thread's start; a thread not started by StartThread ends with
// pthread_exit).
[[noreturn]] void ExitCurrentThread(unsigned exitCode);

// Forcibly ends the thread wherever it is, spinning, blocked or in a system
// call, without unwinding its stack: locks it holds stay held, memory it
// owns is not given back (Windows: TerminateThread; POSIX: a real-time
// signal, SIGRTMIN + 5, whose handler jumps to the thread's start on the
// thread itself). The handle stays valid and a join gives `exitCode`. True
// when the request was accepted.
bool TerminateThread(Thread* thread, unsigned exitCode);

// Forced ends held back. While a thread is between HoldEndBack and the
// matching AllowEnd (sections nest), a forced end of it waits and takes effect
// at the AllowEnd that closes the outermost section; the library's locks and
// its heap calls are such sections on POSIX, so a forced end never leaves one
// of them held. A thread that waits to take a library lock is ended once it
// has taken and left it. Windows ends a thread at once: there these do
// nothing.
void HoldEndBack();
void AllowEnd();
// Whether this platform holds ends back at all (POSIX: true).
bool EndsAreHeldBack();

// True on a thread's way out after TerminateThread ended it: its abandoned
// frames may hold the C runtime's locks (the heap's, a stream's), so
// exit-time work must not free, allocate or print; it parks what it would
// give back for another thread or teardown. Always false on Windows, where a
// terminated thread runs no exit-time code.
bool ThreadEndedByForce();

// A pseudo-handle meaning "the calling thread" for SetThreadPriority; it needs
// no release and cannot be joined.
Thread* CurrentThreadPseudoHandle();

// Thread priorities, from the lowest.
enum class ThreadPriority { Idle, Lowest, BelowNormal, Normal, AboveNormal, Highest, TimeCritical };

// Sets a thread's priority: the Windows priority level of that name, or on
// Linux a nice value of the thread (19, 10, 5, 0, -5, -10, -20 in the order
// above). False when the handle is refused or when the change needs
// privileges the process does not have.
bool SetThreadPriority(Thread* thread, ThreadPriority priority);

void SleepMilliseconds(unsigned milliseconds);

// ---------------------------------------------------------------------------
// Thread slots (threadslot.cpp)
// ---------------------------------------------------------------------------

// One pointer per thread with a call at thread exit: the allocator's thread
// caches and the profiler's recording. POSIX: a thread-local pointer with a
// pthread key for the exit call; Windows: a fiber-local slot (FlsAlloc), whose
// callback runs at thread exit in a DLL too. Nothing here keeps the library
// loaded: once the slot is destroyed no exit call comes, so a thread that
// ends after an unload never calls into unmapped code.
struct ThreadSlot;

// At most this many slots live at once (the backends keep their values and
// exit calls in static tables).
constexpr unsigned kMaxThreadSlots = 2;

// A new slot. Null when the system has no slot to give, all kMaxThreadSlots
// are taken, or no memory is left. `atThreadExit` gets the ending thread's
// value, when it is not null, on that thread.
ThreadSlot* CreateThreadSlot(void (*atThreadExit)(void* value));

// No exit call runs after this returns, on any thread (Windows may still call
// it for live threads' values while the slot is freed: the callback must
// ignore values it no longer knows). Null is ignored.
void DestroyThreadSlot(ThreadSlot* slot);

// The calling thread's value (null until set, and for a null slot) and
// setting it; cheap enough for the allocator's fast path.
void* GetThreadSlot(ThreadSlot* slot);
void SetThreadSlot(ThreadSlot* slot, void* value);

// ---------------------------------------------------------------------------
// Process queries (process.cpp)
// ---------------------------------------------------------------------------

// The calling process's id.
unsigned CurrentProcessId();

// The calling thread's id as the system's tools show it (Linux: the kernel's
// thread id, gettid; Windows: GetCurrentThreadId). A system call on Linux:
// callers keep it.
unsigned CurrentThreadId();

// The decimal point of the calling thread's C locale (LC_NUMERIC), read the
// way the C runtime's printf reads it, and safe while other threads do the
// same (POSIX: nl_langinfo; Windows: localeconv, which the runtime's own
// printf calls).
const char* DecimalPoint();

// True when a process with this id exists and may be queried: a process that
// does not exist and one that refuses the query both give false.
bool ProcessExists(unsigned processId);

// Bytes of user-mode address space the calling process has in use (Windows:
// total minus available virtual memory, taken in 32 bits; Linux: the size of
// its virtual memory).
std::uint64_t AddressSpaceInUse();

// ---------------------------------------------------------------------------
// Virtual memory (memory.cpp)
// ---------------------------------------------------------------------------

// Obtains `size` bytes of read-write, zero-filled memory aligned to
// `alignment` (a power of two no larger than 65536) straight from the
// operating system. Returns null when it cannot. The memory stays until
// ReturnRegion gives it back.
void* ObtainRegion(std::size_t size, std::size_t alignment);

// Gives a whole region from ObtainRegion (its start and size) back to the
// operating system: its addresses are no longer mapped.
void ReturnRegion(void* start, std::size_t size);

// Gives the physical memory of `size` bytes at `start` (whole pages of a
// region) back to the operating system; the addresses stay mapped and
// readable, and what they hold is undefined until written again (Linux:
// zero).
void PurgeRegion(void* start, std::size_t size);

// ---------------------------------------------------------------------------
// Heap blocks and injected memory faults (MemoryRequests.cpp, portable)
// ---------------------------------------------------------------------------

// Heap storage for what lives beneath the pooled allocator (locks, threads,
// page arrays) or is too large for it: malloc, null when it fails.
void* AllocateBlock(std::size_t size);
// The same, zero-filled (calloc): a large one costs no resident memory until
// it is written.
void* AllocateZeroedBlock(std::size_t size);
void FreeBlock(void* block);

// Fault injection for tests. While on, every memory request the library
// makes (a pooled block, a heap block, a region) is counted, and the one
// numbered `failAt` (from 1; 0 fails none) is refused as if memory had run
// out. Only that one: the next request succeeds again, so a test sees how
// the caller recovers. Process-wide; off costs one relaxed load per request.
// tests/faults/ sweeps failAt across each workflow: what a call reports as
// done must be right, the next clean run must succeed, and nothing is kept.
void BeginMemoryFaults(std::uint64_t failAt);
// Turns counting off; returns how many requests were counted.
std::uint64_t EndMemoryFaults();

namespace detail {
extern std::atomic<bool> g_memoryFaultsOn;
bool CountMemoryRequest();
} // namespace detail

// Asked once by every memory request: true when this one is to fail.
inline bool RefuseMemoryRequest() {
    return detail::g_memoryFaultsOn.load(std::memory_order_relaxed) && detail::CountMemoryRequest();
}

// ---------------------------------------------------------------------------
// Stacks (stack.cpp), symbols (symbols.cpp), dumps (dump.cpp) and the
// caller-address routine (caller.cpp)
// ---------------------------------------------------------------------------

// Stores the resume addresses of the calling thread's frames `first` up to
// but excluding `last` into out[0], out[1], ...; frame 0 is CaptureStack
// itself, frame 1 its caller, frame k the return address into the k-th
// function up the chain. Returns how many were stored; the walk ends early at
// the outermost frame or at a frame it cannot unwind. Never inlined, so the
// numbering holds. Windows: StackWalk64, on 32-bit x86 from this routine's
// own registers along the frame pointers, on x86-64 from a context captured
// here through the modules' tables of function entries; POSIX: each frame
// stepped by a rule cached per return address, read once from the call frame
// information, with the runtime's unwinder taking over the walk at any frame
// without such a rule. Safe in a signal handler: no allocation, no lock the
// runtime's unwinder would not take.
unsigned CaptureStack(void** out, unsigned first, unsigned last);

// The same walk made by the platform's unwinder alone, step by step, with no
// cached rule: the reference CaptureStack must agree with from frame 1 on
// (frame 0 is each routine itself). POSIX: the runtime's unwinder
// (_Unwind_Backtrace); Windows: StackWalk64 as in CaptureStack.
unsigned CaptureStackWithUnwinder(void** out, unsigned first, unsigned last);

// Prepares the platform's symbol handler for the current process without
// loading module symbols yet (Windows: SymInitialize). Called once.
void InitializeSymbolHandler();

// Gives back what the symbol handler holds when the library is torn down;
// later lookups find nothing. Windows releases dbghelp's state (SymCleanup:
// each SymInitialize holds resources that a library loaded and unloaded
// again and again would exhaust) and the modules' function tables; POSIX
// releases libdwfl's handle and the sorted function tables, which an
// unloaded library could never reach again.
void ReleaseSymbolHandler();

// Writes the name of the symbol whose code contains `address`, as the
// module's symbol table spells it (C++ names may be mangled), zero-terminated
// and cut to fit `capacity` (not 0). False, `name` untouched, when no module
// made known so far has a symbol there. Not safe against itself or
// LoadModuleSymbols on other threads: callers serialise.
bool FindSymbolName(const void* address, char* name, std::size_t capacity);

// Receives one loaded module: the address it is known by, unique among the
// loaded modules, and the path of its image file (never null).
typedef void (*ModuleVisitor)(std::uint64_t base, const char* imageName, void* context);

// Calls `visit` for every module loaded in the process. False when the
// modules cannot be listed (Windows: EnumerateLoadedModules64 failed).
bool EnumerateModules(ModuleVisitor visit, void* context);

// Makes the symbols of one module EnumerateModules reported known to
// FindSymbolName. Windows: the image's COFF symbol table, which names every
// function with its mangled name, and SymLoadModule64 with the image name as
// image and module name, size 0, for images without one. POSIX: the module's
// ELF symbol tables.
void LoadModuleSymbols(std::uint64_t base, const char* imageName);

// The platform's last error code of the calling thread (Windows:
// GetLastError; POSIX: errno).
int LastErrorCode();

// Writes a dump of the process to `fileName`, opened for writing without
// truncation (created when missing). `exception` describes the fault (null:
// the calling point). Windows: MiniDumpWriteDump, MiniDumpWithFullMemory for
// `fullMemory`, else MiniDumpNormal. POSIX: an ELF core file (see dump.cpp);
// safe in a signal handler: no allocation and no lock after the fault.
// Failures leave at most a partial file and are not reported.
void WriteProcessDump(EXCEPTION_POINTERS* exception, const wchar_t* fileName, bool fullMemory);

// A routine written in assembly that returns its own return address, that is
// the address just after the call in whoever called it.
extern "C" void* OrvexCallerAddress();

// ---------------------------------------------------------------------------
// Files (file.cpp)
// ---------------------------------------------------------------------------

// Every name the library opens as a file, for reading or for writing, passes
// one gate: it must name a regular file (links followed) or, for a mode that
// creates, nothing yet. A directory, a FIFO, a device or a socket is never
// opened, not even to look at it: opening a FIFO waits for its other end and
// releases a writer waiting there, and opening a device may act on it.
// POSIX asks the type first (stat), opens a regular file without waiting and
// asks the opened file again (fstat); a missing name is created exclusively,
// so a link that leads nowhere is refused rather than followed to create its
// target (posix/RegularFile.h). Windows refuses names in the device namespace
// ("\\.\...", named pipes, and the reserved names NUL, CON, COM1, ... that
// resolve there) and directories before opening, and a handle that is not a
// disk file after (win32/RegularFile.h).

// Opens a file with the runtime's stream functions: the name is wide text
// (Windows: _wfopen; POSIX: open through the gate, then fdopen, the name as
// UTF-8), `mode` a fopen mode. Returns null when `name` is null, the gate
// refuses it or the file cannot be opened. The caller closes the stream with
// fclose.
std::FILE* OpenFileStream(const wchar_t* name, const char* mode);

// Whether `name` is a regular file this process can open for reading: false
// for a null name, directories, devices, pipes and anything that cannot be
// opened. Never blocks and never opens anything but a regular file.
bool IsReadableRegularFile(const wchar_t* name);

// Flushes a stream's buffer and then asks the system to put the file's bytes
// on the disk (Windows: _commit; POSIX: fsync). False when either fails: a
// full disk or a write error shows up here at the latest.
bool FlushStreamToDisk(std::FILE* stream);

// True when two open streams read the same file on the disk (POSIX: device
// and inode; Windows: volume and file index), so that a file replaced under
// its name since the first was opened can be told apart. False when either
// cannot be asked.
bool IsSameFile(std::FILE* first, std::FILE* second);

// Puts the file `source` in the place of `target` in one step: a reader sees
// either the old file or the whole new one, never a mix or nothing (Windows:
// MoveFileExW with MOVEFILE_REPLACE_EXISTING and MOVEFILE_WRITE_THROUGH;
// POSIX: rename). Both names in one directory. False, both files left as
// they were, when it cannot.
bool ReplaceFileWith(const wchar_t* source, const wchar_t* target);

// Deletes a file; false when it cannot.
bool RemoveFile(const wchar_t* name);

// ---------------------------------------------------------------------------
// Replacing a file by a save (savefile.cpp)
// ---------------------------------------------------------------------------

// What a save keeps of the file it replaces.
struct SaveTarget {
    bool exists;        // a regular file has the name now
    std::uint32_t keep; // POSIX: its permission bits; Windows: its attributes
};

// Room ExamineSaveTarget may need for a name a link leads to, in units.
constexpr std::size_t kSaveTargetCapacity = 4096;

// Settles whether a save may replace `name` and writes into `path`
// (`capacity` units) the name of the file to replace, zero-terminated: `name`
// itself, or on POSIX, when `name` is a symbolic link, the file the link
// leads to, so that the save goes through the link and leaves it in place
// (Windows replaces the name itself). False, nothing to be written, for a
// null name, a name that is not a regular file (a directory, a FIFO, a
// device, a link that leads nowhere), a file the caller may not write, or a
// name that does not fit `capacity`; a missing name may be created.
//
// "May not write" is decided as a user expects it from the file alone: a
// file with no write permission for anyone (POSIX: no write bit; Windows:
// the read-only attribute) is refused to every caller, root included; a
// POSIX file that has some is refused when the caller's effective ids may
// not write it (faccessat). Root bypasses permission bits, so a test of
// opening for writing would let root replace a file marked read-only, which
// the user meant to protect; Windows refuses such a file to administrators
// too.
bool ExamineSaveTarget(const wchar_t* name, wchar_t* path, std::size_t capacity, SaveTarget& out);

// Creates the new file `name` (a temporary one beside a save's target) and
// opens it for writing ("wb"); null when the name exists or the file cannot
// be made. When `like.exists`, the file gets what `like` keeps: POSIX its
// permission bits exactly (whatever the umask), Windows its attributes.
std::FILE* CreateFileStreamLike(const wchar_t* name, const SaveTarget& like);

// Writes the absolute form of `directory` (relative ones taken from the
// working directory) into `out`, zero-terminated, without changing the
// process's working directory: the path that changing to the directory and
// reading the working directory back would give (so no trailing separator,
// except for a root). Windows: GetFullPathNameW; POSIX: realpath. False when
// the directory cannot be resolved (POSIX: it does not exist) or the result
// with its terminator needs more than `capacity` units.
bool AbsoluteDirectory(const wchar_t* directory, wchar_t* out, std::size_t capacity);

// fseek and ftell with 64-bit offsets (the runtime's take a `long`, 32 bits
// on Windows): Windows _fseeki64 and _ftelli64, POSIX fseeko and ftello.
// SeekStream64 returns 0 on success; TellStream64 returns -1 on failure.
int SeekStream64(std::FILE* stream, std::int64_t offset, int origin);
std::int64_t TellStream64(std::FILE* stream);

// Moves an open stream to `position` bytes from its start. Portable.
inline bool SeekStream(std::FILE* stream, std::uint64_t position) {
    return position <= static_cast<std::uint64_t>(INT64_MAX) &&
           SeekStream64(stream, static_cast<std::int64_t>(position), SEEK_SET) == 0;
}

// The length of an open stream in bytes, taken by seeking to its end; the
// stream is left at its start. False when it cannot be told. Portable.
inline bool StreamLength(std::FILE* stream, std::uint64_t& length) {
    if (SeekStream64(stream, 0, SEEK_END) != 0) {
        return false;
    }
    const std::int64_t end = TellStream64(stream);
    SeekStream64(stream, 0, SEEK_SET);
    if (end < 0) {
        return false;
    }
    length = static_cast<std::uint64_t>(end);
    return true;
}

// ---------------------------------------------------------------------------
// Directories (directory.cpp)
// ---------------------------------------------------------------------------
// Names are wide text; they reach the system as UTF-16 on Windows and as
// UTF-8 on POSIX. None of these functions changes the working directory.

// True where an absolute path starts with a drive letter and a colon
// (Windows), false where it starts with '/' (POSIX). Shared code branches on
// this value instead of on the platform.
bool PathsHaveDrives();

// The process's working directory, zero-terminated, spelt as the system
// reports it (Windows "C:\dir", POSIX "/dir"). Windows: _wgetcwd; POSIX:
// getcwd, decoded from UTF-8. False, with `out` holding "" when `capacity` is
// not 0, when it cannot be read or does not fit into `capacity` units with
// its terminator.
bool ReadWorkingDirectory(wchar_t* out, std::size_t capacity);

// True when `path` names a directory, links followed (Windows: _wstat64 and
// its directory bit; POSIX: stat and S_ISDIR). A path that does not exist or
// cannot be examined gives false.
bool IsDirectoryPath(const wchar_t* path);

// Creates the one directory `path` (Windows: _wmkdir; POSIX: mkdir with mode
// 0777, narrowed by the umask); its parent must exist. False when nothing was
// created, for instance because the directory exists already.
bool CreateOneDirectory(const wchar_t* path);

// A search by pattern, the same on every target (portable,
// DirectoryPattern.cpp): the path's last component may hold '*' (any run of
// characters) and '?' (any one), matched without case for ASCII letters; the
// answer is whether the first entry of the path's directory that matches is
// a directory, "." coming first as the file systems of Windows list it. A
// component without wildcards is the entry of that name; a trailing
// separator names none. So "dir", "dir/*" and "d?r" give true for a
// directory "dir", "dir/" false.
bool FirstMatchIsDirectory(const wchar_t* path);

// Listing the entries of one directory. The caller provides the search's
// storage: DirectorySearchSize() bytes aligned to kDirectorySearchAlignment,
// so that a recursive walk can keep each level's search in one block of its
// own allocator. Windows keeps the search handle and its find record there;
// POSIX the directory stream.
constexpr std::size_t kDirectorySearchAlignment = 8;
std::size_t DirectorySearchSize();

// Units an entry's name can take, terminator included: Windows names fit the
// find record's MAX_PATH (260) units; POSIX names hold at most 255 bytes,
// hence at most 255 units.
constexpr std::size_t kEntryNameCapacity = 260;

// Starts listing `directory` into `storage`. Windows: FindFirstFileW of
// `directory` + "\\*.*"; POSIX: opendir of `directory` + "/". Either way an
// empty `directory` lists the root (of the working directory's drive on
// Windows). False when the directory cannot be listed (missing, not a
// directory, no access, a null name); there is then nothing to close.
bool OpenDirectorySearch(void* storage, const wchar_t* directory);

// Writes the next entry's name, zero-terminated, into `name` (room for
// kEntryNameCapacity units) and returns true; false when no entry is left.
// Entries come in the file system's order, "." and ".." included wherever the
// file system reports them. POSIX passes over names that are not valid UTF-8:
// no wide spelling of them would lead back to the same entry.
bool NextDirectoryEntry(void* storage, wchar_t* name);

// Ends a search that OpenDirectorySearch started; the storage may then be
// released.
void CloseDirectorySearch(void* storage);

// ---------------------------------------------------------------------------
// Watching directories (watch.cpp)
// ---------------------------------------------------------------------------
// A watcher reports changes to the entries of the directories it watches (not
// to those of their subdirectories). One thread waits on it; any thread may
// wake that wait. POSIX: inotify, woken through a pipe; Windows:
// ReadDirectoryChangesW on one handle per directory, its completions through
// one I/O completion port, woken by a posted completion.

struct DirectoryWatcher;

// What happened to an entry. Shared code decides what each means; what the
// backends can tell apart differs, and WatcherReportsClose says how.
enum class WatchChange {
    Written,  // created, or its bytes changed: a writer may still hold it open
    Closed,   // a writer closed it (POSIX only)
    Touched,  // its times or attributes changed (POSIX only)
    Appeared, // renamed into the directory, whole
    Vanished, // deleted, or renamed out of the directory
    Lost      // the directory itself went away; its watch is over (no name)
};

struct WatchEvent {
    int watch; // the number WatchDirectory gave
    WatchChange change;
    const wchar_t* name; // the entry's name within the directory; "" for Lost
};

typedef void (*WatchVisitor)(const WatchEvent& event, void* context);

enum class WatchWait {
    Events,   // changes were reported, or the wait was woken
    Timeout,  // nothing happened
    Overflow, // the system dropped changes: whatever was reported, the caller
              // must look at its directories again
    Failed    // the watcher cannot wait any more
};

// A watcher of no directory yet. Null when the system refuses one.
DirectoryWatcher* CreateDirectoryWatcher();

// Starts watching `directory` and returns its watch number (0 or more), or -1
// when it cannot (missing, not a directory, no watch left). POSIX gives the
// number it gave before for the same directory; Windows gives a new one for
// each call, so callers keep one watch per directory (by its absolute path).
int WatchDirectory(DirectoryWatcher* watcher, const wchar_t* directory);

// Waits at most `timeoutMs` for changes and hands each to `visit` on the
// calling thread, which must not call into the watcher. One thread waits at a
// time.
WatchWait WaitDirectoryChanges(DirectoryWatcher* watcher, unsigned timeoutMs, WatchVisitor visit,
                               void* context);

// Makes the current or next wait return at once. Any thread.
void WakeDirectoryWatcher(DirectoryWatcher* watcher);

// Ends every watch and frees the watcher. Null is ignored. No thread may be
// waiting on it.
void DestroyDirectoryWatcher(DirectoryWatcher* watcher);

// True where the watcher reports Closed (POSIX): a file written and not yet
// closed is still being written. Where it does not (Windows), whether a
// writer holds a file shows when OpenFileStreamWithoutWriters refuses it.
bool WatcherReportsClose();

// True where the file system compares names without case (Windows).
bool FileNamesIgnoreCase();

// What tells one version of a file from the next.
struct FileStamp {
    std::uint64_t size = 0;
    std::int64_t modified = 0;  // last write, in the system's own units
    std::uint64_t identity = 0; // the file on its volume (inode, file index)
    bool operator==(const FileStamp& other) const {
        return size == other.size && modified == other.modified && identity == other.identity;
    }
    bool operator!=(const FileStamp& other) const { return !(*this == other); }
};

// The stamp of the regular file `name` (links followed). False for anything
// else, a missing name included. Never opens a pipe or a device.
bool ReadFileStamp(const wchar_t* name, FileStamp& out);

// Opens a regular file for reading ("rb") only when no one holds it open for
// writing. Windows: a first open that shares reading only (it fails while any
// handle with write access is open) is closed again at once, and the stream
// itself shares reading, writing and deletion, so an editor saving the file
// is never refused for longer than that probe; a writer that gets in during
// a read shows in the file's stamp. POSIX has no such sharing: it opens as
// OpenFileStream(name, "rb") does. Null when it cannot be opened.
std::FILE* OpenFileStreamWithoutWriters(const wchar_t* name);

// ---------------------------------------------------------------------------
// Text in the system's ANSI code page (ansi.cpp)
// ---------------------------------------------------------------------------

// Decodes up to `size` bytes of text in the system's ANSI code page into at
// most `capacity` wide units, stopping early at a zero byte; returns the units
// written, without a terminator.
// Windows: the runtime's conversion with every locale category set to ".ACP"
// for the call and the earlier locale put back (other threads may notice the
// change meanwhile). POSIX: the character set of the environment's locale
// (LC_ALL, LC_CTYPE, LANG) through a locale of the calling thread only, so the
// process's locale never changes; when the environment names plain ASCII (the
// C or POSIX locale) or a locale that is not installed, every byte becomes the
// code point of its value. On both, a byte the character set cannot decode
// becomes the code point of its value too, so no byte is lost.
std::size_t AnsiToWide(const char* bytes, std::size_t size, wchar_t* out, std::size_t capacity);

// The decoding loop both backends run under the locale they have set up.
// `byteWise` maps every byte to the code point of its value. Portable.
std::size_t DecodeMultibyte(const char* bytes, std::size_t size, wchar_t* out, std::size_t capacity,
                            bool byteWise);

// ---------------------------------------------------------------------------
// File mappings (filemap.cpp)
// ---------------------------------------------------------------------------

// One mapped view and what must be released with it; opaque outside the
// backend except for `view`.
struct MappedFile {
    void* view;
    void* file;
    void* mapping;
    std::size_t length;
};

// Opens `path` through the file gate (see "Files": a regular file only),
// creating it when it does not exist (read access for `readOnly`, read and
// write otherwise; other openers may read and write it at the same time),
// makes a mapping of its first `size` bytes and maps a view of `size` bytes
// from offset 0. Windows: the mapping object is named `name`, so
// every view of that name, in any process, shares one object; when that
// object cannot serve the request (made read-only, or smaller than `size`, by
// an earlier view) the view gets an unnamed object of its own, which shares
// the file's pages all the same; a null or empty `name` gives an unnamed
// object. POSIX: the view is MAP_SHARED, which shares the file's
// pages the same way, and `name` is not used. The caller makes sure the file
// holds at least `size` bytes (POSIX refuses a shorter file); a `size` of 0 is
// refused. On failure everything opened is closed again and false returned;
// `out` is then unspecified.
bool MapFileView(const wchar_t* path, const wchar_t* name, unsigned size, bool readOnly,
                 MappedFile& out);

// Unmaps the view and closes the mapping and the file handles of a record
// that MapFileView filled.
void UnmapFileView(const MappedFile& mapped);

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

// True when the process's standard output or standard error is an interactive
// terminal (POSIX: isatty on descriptor 1 or 2; Windows: GetConsoleMode
// succeeds on the standard handle), false for a file, a pipe or a missing
// handle.
bool IsTerminal(ConsoleStream stream);

// ---------------------------------------------------------------------------
// Millisecond clock (clock.cpp)
// ---------------------------------------------------------------------------

// Milliseconds from an arbitrary fixed origin (typically system start),
// monotonic, 64 bits wide, never wrapping.
std::uint64_t MonotonicMilliseconds();

// The millisecond counter and a finer monotonic count read together.
struct ClockReading {
    std::uint64_t milliseconds; // what MonotonicMilliseconds gives at this moment
    std::uint64_t nanoseconds;  // from an arbitrary fixed origin
};

// POSIX: one CLOCK_MONOTONIC reading gives both (the milliseconds are its
// truncation, as MonotonicMilliseconds computes them), so the pair costs one
// read. Windows: the millisecond counter, then QueryPerformanceCounter scaled
// to nanoseconds (steps of the counter's period, 100 ns on most systems).
ClockReading ReadMonotonicClocks();

// ---------------------------------------------------------------------------
// Calendar and time zone (calendar.cpp)
// ---------------------------------------------------------------------------

// The system's calendar time in whole seconds since 1970-01-01 00:00:00 UTC.
std::int64_t SystemCalendarSeconds();

// The calendar time the library uses: the system's, moved by the shift below
// (0 unless a test set one). Portable (CalendarShift.cpp).
std::int64_t CalendarSeconds();

// For tests only (portable, CalendarShift.cpp): moves the time CalendarSeconds reports by `seconds`
// from now on (0 gives the real clock back), so that code driven by the calendar, such as the
// rotation of log files by date, can be taken to any date without waiting for it. The clock keeps
// running from the moved time. Process-wide, safe to call from any thread; a value read just before
// the change may still be in use. The library itself never sets it.
void SetCalendarShift(std::int64_t seconds);
std::int64_t GetCalendarShift();

// Breaks `seconds` since the epoch down as UTC into `fields` (thread-safe: no
// shared static record). Returns false, leaving `fields` unspecified, when the
// platform cannot represent that time (Windows: before 1970 or after 3000).
bool BreakDownUtc(std::int64_t seconds, std::tm& fields);

// Breaks `seconds` since the epoch down as local wall-clock time in the
// process's time zone, daylight saving included (thread-safe, like
// BreakDownUtc). Returns false, with `fields` left in no particular state,
// when the platform cannot represent that time.
bool BreakDownLocal(std::int64_t seconds, std::tm& fields);

// Reads `fields` as local wall-clock time in the process's time zone and
// returns seconds since the epoch, normalising `fields` like mktime does.
// Returns -1 when the platform cannot convert it.
std::int64_t LocalFieldsToSeconds(std::tm& fields);

// Makes the calendar functions pick up a changed time-zone setting of the
// process environment (the TZ variable).
void ReloadTimeZone();

// ---------------------------------------------------------------------------
// The user's question (question.cpp)
// ---------------------------------------------------------------------------

// The answers to the question, and none when the user could not be asked.
enum class Answer { None, Ok, Abort, Retry, Ignore };

// Puts `report` to the user and returns the answer. A fatal report offers OK
// only; any other offers Abort, Retry and Ignore.
// Windows: MessageBoxW without owner, caption "Exception", MB_ICONERROR (plus
// MB_ABORTRETRYIGNORE when not fatal); None when the box cannot be shown.
// POSIX: when standard input and standard error are both terminals the
// question goes to standard error and the answer is read from standard input;
// otherwise (or when input ends) nobody can answer and the default is taken:
// OK for a fatal report, Ignore for any other. Blocks the calling thread only.
Answer AskUser(const wchar_t* report, bool fatal);

// Ends the process at once with exit `code`, without running static
// destructors, exit handlers or (Windows) the modules' detach handlers: other
// threads may still hold the library's locks, and the library's teardown
// would deliver work to a host that has declared itself broken. Buffered C
// standard output (log files included) is flushed first.
[[noreturn]] void EndProcess(int code);

// Ends the process at once as an abnormal end, the way the runtime's `abort`
// does where it runs no teardown: POSIX raises SIGABRT; Windows flushes like
// EndProcess and ends with the runtime abort's exit code 3.
[[noreturn]] void AbortProcess();

// Stops in the debugger when one is attached; without one the platform's
// breakpoint fault takes its ordinary course (usually the process ends).
void BreakIntoDebugger();

} // namespace sys
} // namespace Orvex

#endif // ORVEX_PLATFORM_ORVEXSYS_H
