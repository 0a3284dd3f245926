// Short locks on POSIX: test-and-test-and-set on an atomic flag. A holder
// keeps it for a few dozen instructions, so a waiter spins a little with the
// processor's pause hint and then yields, which keeps it correct (if slower)
// when the holder has been preempted.
#include "OrvexCommon/platform/OrvexSys.h"

#include "EndGuard.h"

#include <atomic>
#include <cstdlib>
#include <new>
#include <sched.h>

namespace Orvex {
namespace sys {

// Padded to a cache line: the allocator's class locks are taken by different
// threads at once, and two flags in one line would bounce between them.
struct ShortLock {
    std::atomic<bool> held;
    char apart[63];
};

namespace {

inline void PauseHint() {
#if defined(__x86_64__) || defined(__i386__)
    __builtin_ia32_pause();
#endif
}

} // namespace

ShortLock* CreateShortLock() {
    void* storage = sys::AllocateBlock(sizeof(ShortLock));
    if (storage == nullptr) {
        return nullptr;
    }
    ShortLock* lock = new (storage) ShortLock;
    lock->held.store(false);
    return lock;
}

void DestroyShortLock(ShortLock* lock) {
    if (lock != nullptr) {
        lock->~ShortLock();
        sys::FreeBlock(lock);
    }
}

// A forced end waits while the lock is wanted or held (EndGuard.h).
void EnterShortLock(ShortLock* lock) {
    HoldEndBackHere();
    while (lock->held.exchange(true, std::memory_order_acquire)) {
        for (int spins = 0; lock->held.load(std::memory_order_relaxed); ++spins) {
            if (spins < 100) {
                PauseHint();
            } else {
                sched_yield();
            }
        }
    }
}

void LeaveShortLock(ShortLock* lock) {
    lock->held.store(false, std::memory_order_release);
    AllowEndHere();
}

} // namespace sys
} // namespace Orvex
