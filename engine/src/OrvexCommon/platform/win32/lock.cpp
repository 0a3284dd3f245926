// Recursive locks on Windows: a critical section (recursive by nature).
#include "OrvexCommon/platform/OrvexSys.h"
#include "OrvexCommon/platform/win32/CriticalSection.h"

namespace Orvex {
namespace sys {

struct RecursiveLock {
    CRITICAL_SECTION section;
};

namespace {

// What a null lock stands for: static storage, so it needs no memory, set up
// on first use and never deleted (a thread may still hold it at unload).
CRITICAL_SECTION* SectionOf(RecursiveLock* lock) {
    if (lock != nullptr) {
        return &lock->section;
    }
    static CRITICAL_SECTION* const fallback = [] {
        alignas(CRITICAL_SECTION) static unsigned char storage[sizeof(CRITICAL_SECTION)];
        auto* section = reinterpret_cast<CRITICAL_SECTION*>(storage);
        InitializeCriticalSection(section);
        return section;
    }();
    return fallback;
}

} // namespace

RecursiveLock* CreateRecursiveLock() {
    return NewSectionLock<RecursiveLock>(0);
}

void DestroyRecursiveLock(RecursiveLock* lock) {
    DeleteSectionLock(lock);
}

void EnterLock(RecursiveLock* lock) {
    EnterCriticalSection(SectionOf(lock));
}

void LeaveLock(RecursiveLock* lock) {
    LeaveCriticalSection(SectionOf(lock));
}

// Windows ends a thread at once whatever it holds: the host's locks and the
// library's are alike.
void EnterHostLock(RecursiveLock* lock) {
    EnterLock(lock);
}

void LeaveHostLock(RecursiveLock* lock) {
    LeaveLock(lock);
}

} // namespace sys
} // namespace Orvex
