// Threads on POSIX. A handle is a record owning the pthread_t and the exit
// code. Live records are kept in a registry so that joining or detaching a
// stale or foreign handle is recognised without dereferencing it.
//
// Forced ends work as on Windows: the thread stops where it is, nothing on
// its stack is unwound (no destructor, no catch handler, no noexcept check
// runs), locks of the host's that it holds stay held. The trampoline keeps a
// jump point; the thread's own OrvexExitThread jumps there, and
// OrvexTerminateThread sends the thread a signal whose handler jumps there on
// the thread itself. Three things differ from a plain jump:
// - inside one of the library's critical sections the end is held back to
//   the section's close (EndGuard.h), so no library lock is left held;
// - a condition wait that the jump abandons gives its mutex back
//   (CondWaitCleanup.h);
// - the exit path of a thread ended by force calls nothing that may wait on
//   a lock the abandoned frames could hold (the C runtime's heap, stdio):
//   exit-time work asks ThreadEndedByForce and parks what it would free.
#include "OrvexCommon/platform/OrvexSys.h"

#include "CondWaitCleanup.h"
#include "EndGuard.h"

#include <atomic>
#include <cerrno>
#include <csetjmp>
#include <csignal>
#include <cstdint>
#include <cstdlib>
#include <new>
#include <pthread.h>
#include <sched.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

namespace Orvex {
namespace sys {

namespace {

enum ThreadState { kRunning, kFinished, kDetached };

} // namespace

struct Thread {
    pthread_t id;
    ThreadProc proc;
    void* context;
    std::atomic<unsigned> exitCode;
    sigjmp_buf endPoint;            // where a forced end resumes, in RunThread
    std::atomic<bool> endPointSet;  // while the procedure runs
    std::atomic<bool> endAsked;     // TerminateThread was called
    std::atomic<bool> endedByForce; // the end came from TerminateThread
    const void* stackMark;          // an address in RunThread's frame
    SWaitMutexes waitMutexes;       // given back after a forced end's jump
    std::atomic<long> kernelId;     // set by the thread itself when it starts
    std::atomic<int> state;         // ThreadState
    Thread* previous;               // registry links, guarded by g_registryLock
    Thread* next;
};

namespace {

pthread_mutex_t g_registryLock = PTHREAD_MUTEX_INITIALIZER;
Thread* g_liveThreads = nullptr;
// Initial-exec: read by the end signal's handler.
thread_local Thread* t_currentThread __attribute__((tls_model("initial-exec"))) = nullptr;

// Records of detached threads ended by force: their exit path may not free,
// so they wait here for the next thread start.
std::atomic<Thread*> g_recordsToFree{nullptr};

Thread* const kCurrentThreadPseudoHandle = reinterpret_cast<Thread*>(~std::uintptr_t(1));

// ---- The registry (callers hold g_registryLock) ----

void Register(Thread* thread) {
    thread->previous = nullptr;
    thread->next = g_liveThreads;
    if (g_liveThreads != nullptr) {
        g_liveThreads->previous = thread;
    }
    g_liveThreads = thread;
}

void Unregister(Thread* thread) {
    (thread->previous ? thread->previous->next : g_liveThreads) = thread->next;
    if (thread->next != nullptr) {
        thread->next->previous = thread->previous;
    }
}

bool IsLive(const Thread* candidate) {
    for (const Thread* thread = g_liveThreads; thread != nullptr; thread = thread->next) {
        if (thread == candidate) {
            return true;
        }
    }
    return false;
}

// Takes a handle out of the registry when it is live: the caller then owns
// the only reference the registry knew of.
bool Claim(Thread* thread) {
    pthread_mutex_lock(&g_registryLock);
    const bool live = IsLive(thread);
    if (live) {
        Unregister(thread);
    }
    pthread_mutex_unlock(&g_registryLock);
    return live;
}

void FreeRecord(Thread* thread) {
    thread->~Thread();
    sys::FreeBlock(thread);
}

void ParkRecord(Thread* thread) {
    Thread* head = g_recordsToFree.load();
    do {
        thread->next = head;
    } while (!g_recordsToFree.compare_exchange_weak(head, thread));
}

void FreeParkedRecords() {
    Thread* record = g_recordsToFree.exchange(nullptr);
    while (record != nullptr) {
        Thread* next = record->next;
        FreeRecord(record);
        record = next;
    }
}

// Marks the thread ended however it ends (return, or a forced end, which
// jumps back into RunThread above this object).
struct EndOfThread {
    Thread* thread;
    ~EndOfThread() {
        int expected = kRunning;
        if (thread->state.compare_exchange_strong(expected, kFinished)) {
            return;
        }
        // Detached: nobody will join it.
        if (thread->endedByForce.load()) {
            ParkRecord(thread);
        } else {
            FreeRecord(thread);
        }
    }
};

// Jumps to the thread's start, abandoning whatever it was doing. The jump
// runs the cleanups of abandoned condition waits, which take their mutexes
// again; RunThread gives those back.
[[noreturn]] void JumpToEnd(Thread* thread) {
    t_endGuard.pending = 0;
    thread->endedByForce.store(true);
    thread->endPointSet.store(false);
    NoteWaitMutexes(thread->stackMark, thread->waitMutexes);
    siglongjmp(thread->endPoint, 1);
}

// Runs on the thread to be ended. Jumping out of a handler is what
// siglongjmp is for.
void OnEndSignal(int) {
    Thread* thread = t_currentThread;
    if (thread == nullptr) {
        (void)AnswerCleanupProbe();
        return;
    }
    if (t_endGuard.depth > 0) {
        t_endGuard.pending = 1;
        return;
    }
    if (thread->endPointSet.load()) {
        JumpToEnd(thread);
    }
    // Not yet at its jump point: the thread sees endAsked when it gets there.
}

pthread_once_t g_endSignalOnce = PTHREAD_ONCE_INIT;

void InstallEndSignal() {
    struct sigaction action = {};
    action.sa_handler = OnEndSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(ForcedEndSignal(), &action, nullptr);
}

void* RunThread(void* record) {
    Thread* thread = static_cast<Thread*>(record);
    t_currentThread = thread;
    thread->kernelId.store(static_cast<long>(syscall(SYS_gettid)));
    EndOfThread end{thread};
    thread->stackMark = &end;
    // The signal mask is saved and restored with the jump: a handler left by
    // a jump would otherwise keep its signal blocked.
    if (sigsetjmp(thread->endPoint, 1) == 0) {
        thread->endPointSet.store(true);
        if (!thread->endAsked.load()) {
            thread->exitCode.store(thread->proc(thread->context));
        }
    } else {
        // Sections the jump left (OrvexExitThread inside one) stay closed.
        t_endGuard.depth = 0;
        ReleaseWaitMutexes(thread->waitMutexes);
    }
    thread->endPointSet.store(false);
    return nullptr;
}

// The kernel id of a thread for per-thread scheduling calls; 0 if unknown.
long KernelIdOf(Thread* thread) {
    if (thread == kCurrentThreadPseudoHandle) {
        return static_cast<long>(syscall(SYS_gettid));
    }
    pthread_mutex_lock(&g_registryLock);
    const bool live = IsLive(thread);
    pthread_mutex_unlock(&g_registryLock);
    if (!live) {
        return 0;
    }
    long id;
    while ((id = thread->kernelId.load()) == 0) {
        sched_yield(); // started a moment ago: it is about to record its id
    }
    return id;
}

// The nice values that stand for the priorities here, from the lowest.
constexpr int kNiceValues[] = {19, 10, 5, 0, -5, -10, -20};

} // namespace

Thread* StartThread(ThreadProc proc, void* context, unsigned /*stackSize*/) {
    if (proc == nullptr) {
        return nullptr;
    }
    void* storage = sys::AllocateBlock(sizeof(Thread));
    if (storage == nullptr) {
        return nullptr;
    }
    FreeParkedRecords();
    Thread* thread = new (storage) Thread;
    pthread_once(&g_endSignalOnce, InstallEndSignal);
    thread->proc = proc;
    thread->context = context;
    thread->exitCode.store(0);
    thread->endPointSet.store(false);
    thread->endAsked.store(false);
    thread->endedByForce.store(false);
    thread->stackMark = nullptr;
    thread->waitMutexes.count = 0;
    thread->kernelId.store(0);
    thread->state.store(kRunning);
    pthread_mutex_lock(&g_registryLock);
    Register(thread);
    const int started = pthread_create(&thread->id, nullptr, RunThread, thread);
    if (started != 0) {
        Unregister(thread);
    }
    pthread_mutex_unlock(&g_registryLock);
    if (started != 0) {
        FreeRecord(thread);
        return nullptr;
    }
    return thread;
}

JoinResult JoinThread(Thread* thread, unsigned* exitCode) {
    // A thread waiting for itself would wait forever: refused like any handle
    // that cannot be waited on.
    if (thread == t_currentThread || !Claim(thread)) {
        return JoinResult::WaitFailed;
    }
    if (pthread_join(thread->id, nullptr) != 0) {
        pthread_mutex_lock(&g_registryLock);
        Register(thread);
        pthread_mutex_unlock(&g_registryLock);
        return JoinResult::Unexpected;
    }
    if (exitCode != nullptr) {
        *exitCode = thread->exitCode.load();
    }
    FreeRecord(thread);
    return JoinResult::Joined;
}

void ReleaseThreadAtUnload(Thread* thread, ThreadLife&) {
    (void)JoinThread(thread, nullptr);
}

void DetachThread(Thread* thread) {
    if (!Claim(thread)) {
        return;
    }
    pthread_detach(thread->id);
    int expected = kRunning;
    if (!thread->state.compare_exchange_strong(expected, kDetached)) {
        FreeRecord(thread); // it had already finished
    }
}

void ExitCurrentThread(unsigned exitCode) {
    Thread* thread = t_currentThread;
    if (thread != nullptr && thread->endPointSet.load()) {
        thread->exitCode.store(exitCode);
        thread->endPointSet.store(false);
        thread->waitMutexes.count = 0;
        siglongjmp(thread->endPoint, 1);
    }
    // A thread the library did not start has no jump point: it ends the
    // system's way.
    pthread_exit(nullptr);
}

bool TerminateThread(Thread* thread, unsigned exitCode) {
    LearnCondWaitCleanup();
    pthread_mutex_lock(&g_registryLock);
    bool accepted = IsLive(thread);
    if (accepted) {
        thread->exitCode.store(exitCode);
        thread->endAsked.store(true);
        // A thread that ended already takes no signal and needs none.
        const int sent = pthread_kill(thread->id, ForcedEndSignal());
        accepted = sent == 0 || sent == ESRCH;
    }
    pthread_mutex_unlock(&g_registryLock);
    return accepted;
}

int ForcedEndSignal() {
    return SIGRTMIN + 5;
}

thread_local SEndGuard t_endGuard __attribute__((tls_model("initial-exec"))) = {0, 0};

void EndHeldBackThread() {
    Thread* thread = t_currentThread;
    if (thread == nullptr || !thread->endPointSet.load()) {
        t_endGuard.pending = 0; // past its procedure: it is ending already
        return;
    }
    JumpToEnd(thread);
}

bool ThreadEndedByForce() {
    const Thread* thread = t_currentThread;
    return thread != nullptr && thread->endedByForce.load();
}

void HoldEndBack() {
    HoldEndBackHere();
}

void AllowEnd() {
    AllowEndHere();
}

bool EndsAreHeldBack() {
    return true;
}

Thread* CurrentThreadPseudoHandle() {
    return kCurrentThreadPseudoHandle;
}

bool SetThreadPriority(Thread* thread, ThreadPriority priority) {
    const int nice = kNiceValues[static_cast<int>(priority)];
    const long kernelId = KernelIdOf(thread);
    if (kernelId == 0) {
        return false;
    }
    // Raising a thread's priority needs privileges; without them this fails.
    return setpriority(PRIO_PROCESS, static_cast<id_t>(kernelId), nice) == 0;
}

void SleepMilliseconds(unsigned milliseconds) {
    timespec remaining;
    remaining.tv_sec = milliseconds / 1000;
    remaining.tv_nsec = static_cast<long>(milliseconds % 1000) * 1000000L;
    while (nanosleep(&remaining, &remaining) != 0 && errno == EINTR) {
    }
}

} // namespace sys
} // namespace Orvex
