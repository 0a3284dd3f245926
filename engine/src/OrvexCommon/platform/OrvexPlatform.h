// Threads, locks and process queries: thin wrappers over the operating
// system. Handles are opaque pointers the caller owns.
#ifndef ORVEX_PLATFORM_ORVEXPLATFORM_H
#define ORVEX_PLATFORM_ORVEXPLATFORM_H

#include "OrvexCommon/base/OrvexExport.h"

namespace Orvex {

// A thread procedure; its return value becomes the thread's exit code.
typedef unsigned(ORVEX_THREAD_CALL* OrvexThreadFun)(void* context);

// ---- Threads ----

// Starts proc(context) at once on a new thread and stores its handle in
// *thread (0 when it could not start). False, touching nothing, when proc or
// thread is null. stackSize 0 means the default; the size is a hint used on
// Windows only.
ORVEX_API bool OrvexCreateThread(void** thread, unsigned int stackSize, OrvexThreadFun proc,
                                 void* context);

// Releases the handle; the thread runs on.
ORVEX_API void OrvexDetachThread(void* thread);

// Ends the calling thread at once with the given exit code, as Windows'
// thread exit does: nothing on its stack is unwound (no destructor or catch
// handler runs) and locks it holds stay held.
ORVEX_API void OrvexExitThread(unsigned int exitCode);

// Forcibly ends the thread wherever it is (spinning, blocked, in a system
// call), without unwinding its stack: locks of the host's that it holds
// (OrvexLock's included) stay held, memory it owns stays taken. True when the
// platform accepted; the handle stays open and a join then succeeds. Linux
// sends the thread the signal SIGRTMIN + 5, which hosts must leave to the
// library.
//
// Linux holds the end back while the thread is inside one of the library's
// own critical sections (its internal locks, the allocator's, a log's, and
// its calls into the C heap): the thread ends as it leaves the outermost one,
// so no library lock is left held and the next call into the same facility
// goes through. A thread waiting to take such a lock ends once it has taken
// and left it (they are held briefly). Everything else is endable at once:
// sleeps, joins, waits for work or for an event, console and file I/O outside
// those sections, and the host's own code. A thread ended inside a
// std::condition_variable or pthread condition wait does not keep the wait's
// mutex, and the condition variable stays usable. Its way out frees nothing
// (its allocator cache and profiler record are parked until the library's
// teardown or the next recording). Windows ends the thread at once wherever
// it is, as its TerminateThread does.
ORVEX_API bool OrvexTerminateThread(void* thread, unsigned int exitCode);

// The pseudo-handle of the calling thread; it needs no release.
ORVEX_API void* OrvexGetCurrentThread();

// Waits for the thread to end. True: it ended and the handle is released.
// False: the handle could not be waited on (for example an invalid handle);
// it stays as it was. Any other answer of the wait is written to the log
// stream as "WaitForSingleObject failed." and thrown as that text (char*).
ORVEX_API bool OrvexJoinThread(void* thread);

// Sets the priority given as a Windows priority value (-15, -2, -1, 0, 1, 2,
// 15); true on success. On Linux they map to the thread's nice value (-15 to
// 19, -2 to 10, -1 to 5, 0, 1 to -5, 2 to -10, 15 to -20), and raising it
// without the privilege fails softly (false).
ORVEX_API bool OrvexSetThreadPriority(void* thread, int priority);

// ---- Locks (recursive: the holder may take it again) ----

ORVEX_API void* OrvexCreateLock();
// Always true. The lock must not be held or waited on.
ORVEX_API bool OrvexDestroyLock(void* lock);
ORVEX_API void OrvexLock(void* lock);
ORVEX_API void OrvexUnlock(void* lock);

// ---- Process ----

ORVEX_API unsigned int OrvexGetCurrentProcessID();
// True when the process exists and may be queried.
ORVEX_API bool OrvexCheckProcessExist(unsigned int processId);
// Bytes of user-mode address space in use by this process.
ORVEX_API unsigned long long OrvexGetProcessMemCost();
// Processor load is not measured: always 0.
ORVEX_API float OrvexGetProcessCpuCost();
ORVEX_API void OrvexSleep(unsigned int milliseconds);

} // namespace Orvex

#endif // ORVEX_PLATFORM_ORVEXPLATFORM_H
