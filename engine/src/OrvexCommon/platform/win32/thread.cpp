// Threads on Windows: the handle is the one _beginthreadex returns.
#include "OrvexCommon/platform/OrvexSys.h"
#include "OrvexCommon/platform/win32/Detach.h"
#include "OrvexCommon/platform/win32/WindowsHeaders.h"

#include <process.h>

namespace Orvex {
namespace sys {

namespace {

HANDLE HandleOf(Thread* thread) {
    return reinterpret_cast<HANDLE>(thread);
}

// How long a teardown waits for the forced end of a thread still starting.
constexpr DWORD kEndWaitMs = 5000;

} // namespace

Thread* StartThread(ThreadProc proc, void* context, unsigned stackSize) {
    if (proc == nullptr) {
        return nullptr;
    }
    const uintptr_t handle = _beginthreadex(nullptr, stackSize, proc, context, 0, nullptr);
    return reinterpret_cast<Thread*>(handle);
}

JoinResult JoinThread(Thread* thread, unsigned* exitCode) {
    // Only a thread can be joined: any other handle (the process's own
    // pseudo-handle INVALID_HANDLE_VALUE, an event) has no thread id and could
    // be waited on forever. A thread waiting for itself (its pseudo-handle
    // included) would wait forever too.
    const DWORD threadId = GetThreadId(HandleOf(thread));
    if (threadId == 0 || threadId == GetCurrentThreadId()) {
        return JoinResult::WaitFailed;
    }
    const DWORD waited = WaitForSingleObject(HandleOf(thread), INFINITE);
    if (waited == WAIT_FAILED) {
        return JoinResult::WaitFailed;
    }
    if (waited != WAIT_OBJECT_0 && waited != WAIT_ABANDONED) {
        return JoinResult::Unexpected;
    }
    DWORD code = 0;
    GetExitCodeThread(HandleOf(thread), &code);
    if (exitCode != nullptr) {
        *exitCode = code;
    }
    CloseHandle(HandleOf(thread));
    return JoinResult::Joined;
}

void ReleaseThreadAtUnload(Thread* thread, ThreadLife& life) {
    const HANDLE handle = HandleOf(thread);
    // Outside a detach (the library linked into the program and torn down by
    // its exit) a starting thread gets into the library's code on its own, and
    // may hold the loader lock on its way: it is not ended there.
    while (!g_detaching.load() && life.stage.load() == ThreadLife::kStarting &&
           WaitForSingleObject(handle, 0) == WAIT_TIMEOUT) {
        Sleep(1);
    }
    int starting = ThreadLife::kStarting;
    if (life.stage.compare_exchange_strong(starting, ThreadLife::kAbandoned)) {
        ::TerminateThread(handle, 0);
        WaitForSingleObject(handle, kEndWaitMs);
    } else {
        while (life.stage.load() != ThreadLife::kLeft &&
               WaitForSingleObject(handle, 0) == WAIT_TIMEOUT) {
            Sleep(1);
        }
    }
    CloseHandle(handle);
}

void DetachThread(Thread* thread) {
    CloseHandle(HandleOf(thread));
}

void ExitCurrentThread(unsigned exitCode) {
    _endthreadex(exitCode);
    for (;;) {
    }
}

bool TerminateThread(Thread* thread, unsigned exitCode) {
    return ::TerminateThread(HandleOf(thread), exitCode) != 0;
}

// A terminated thread runs no code at all here, so nothing is held back and
// no exit path ever sees a forced end.
void HoldEndBack() {}

void AllowEnd() {}

bool EndsAreHeldBack() {
    return false;
}

bool ThreadEndedByForce() {
    return false;
}

Thread* CurrentThreadPseudoHandle() {
    return reinterpret_cast<Thread*>(GetCurrentThread());
}

bool SetThreadPriority(Thread* thread, ThreadPriority priority) {
    static const int kLevels[] = {THREAD_PRIORITY_IDLE,         THREAD_PRIORITY_LOWEST,
                                  THREAD_PRIORITY_BELOW_NORMAL, THREAD_PRIORITY_NORMAL,
                                  THREAD_PRIORITY_ABOVE_NORMAL, THREAD_PRIORITY_HIGHEST,
                                  THREAD_PRIORITY_TIME_CRITICAL};
    return ::SetThreadPriority(HandleOf(thread), kLevels[static_cast<int>(priority)]) != 0;
}

void SleepMilliseconds(unsigned milliseconds) {
    Sleep(milliseconds);
}

} // namespace sys
} // namespace Orvex
