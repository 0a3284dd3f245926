// Recursive locks on Windows: a critical section in malloc'd storage.
#include "OrvexCommon/platform/OrvexSys.h"
#include "OrvexCommon/platform/win32/WindowsHeaders.h"

#include <cstdlib>
#include <new>

namespace Orvex {
namespace sys {

struct RecursiveLock {
    CRITICAL_SECTION section;
};

RecursiveLock* CreateRecursiveLock() {
    void* storage = std::malloc(sizeof(RecursiveLock));
    if (storage == nullptr) {
        return nullptr;
    }
    RecursiveLock* lock = new (storage) RecursiveLock;
    InitializeCriticalSection(&lock->section);
    return lock;
}

void DestroyRecursiveLock(RecursiveLock* lock) {
    if (lock == nullptr) {
        return;
    }
    DeleteCriticalSection(&lock->section);
    lock->~RecursiveLock();
    std::free(lock);
}

void EnterLock(RecursiveLock* lock) {
    EnterCriticalSection(&lock->section);
}

void LeaveLock(RecursiveLock* lock) {
    LeaveCriticalSection(&lock->section);
}

} // namespace sys
} // namespace Orvex
