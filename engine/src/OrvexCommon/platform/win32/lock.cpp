// Recursive locks on Windows: a critical section (recursive by nature).
#include "OrvexCommon/platform/OrvexSys.h"
#include "OrvexCommon/platform/win32/CriticalSection.h"

namespace Orvex {
namespace sys {

struct RecursiveLock {
    CRITICAL_SECTION section;
};

RecursiveLock* CreateRecursiveLock() {
    return NewSectionLock<RecursiveLock>(0);
}

void DestroyRecursiveLock(RecursiveLock* lock) {
    DeleteSectionLock(lock);
}

void EnterLock(RecursiveLock* lock) {
    EnterCriticalSection(&lock->section);
}

void LeaveLock(RecursiveLock* lock) {
    LeaveCriticalSection(&lock->section);
}

} // namespace sys
} // namespace Orvex
