// Short locks on Windows: a critical section that spins briefly before it
// waits in the kernel.
#include "OrvexCommon/platform/OrvexSys.h"
#include "OrvexCommon/platform/win32/CriticalSection.h"

namespace Orvex {
namespace sys {

// A cache line of padding after the section: the allocator's class locks are
// taken by different threads at once, and two sections sharing a line would
// bounce between them.
struct ShortLock {
    CRITICAL_SECTION section;
    char apart[64];
};

ShortLock* CreateShortLock() {
    return NewSectionLock<ShortLock>(4000);
}

void DestroyShortLock(ShortLock* lock) {
    DeleteSectionLock(lock);
}

void EnterShortLock(ShortLock* lock) {
    EnterCriticalSection(&lock->section);
}

void LeaveShortLock(ShortLock* lock) {
    LeaveCriticalSection(&lock->section);
}

} // namespace sys
} // namespace Orvex
