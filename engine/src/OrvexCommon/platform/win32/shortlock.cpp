// Short locks on Windows: a critical section that spins briefly before it
// waits in the kernel.
#include "OrvexCommon/platform/OrvexSys.h"
#include "OrvexCommon/platform/win32/WindowsHeaders.h"

#include <cstdlib>
#include <new>

namespace Orvex {
namespace sys {

struct ShortLock {
    CRITICAL_SECTION section;
};

ShortLock* CreateShortLock() {
    void* storage = std::malloc(sizeof(ShortLock));
    if (storage == nullptr) {
        return nullptr;
    }
    ShortLock* lock = new (storage) ShortLock;
    InitializeCriticalSectionAndSpinCount(&lock->section, 4000);
    return lock;
}

void DestroyShortLock(ShortLock* lock) {
    if (lock != nullptr) {
        DeleteCriticalSection(&lock->section);
        lock->~ShortLock();
        std::free(lock);
    }
}

void EnterShortLock(ShortLock* lock) {
    EnterCriticalSection(&lock->section);
}

void LeaveShortLock(ShortLock* lock) {
    LeaveCriticalSection(&lock->section);
}

} // namespace sys
} // namespace Orvex
