// Both lock kinds of the Windows backend are a critical section in heap
// storage (never the pooled allocator, which itself needs locks); they differ
// only in the spin count.
#ifndef ORVEX_PLATFORM_WIN32_CRITICALSECTION_H
#define ORVEX_PLATFORM_WIN32_CRITICALSECTION_H

#include "OrvexCommon/platform/OrvexSys.h"
#include "OrvexCommon/platform/win32/WindowsHeaders.h"

#include <new>

namespace Orvex {
namespace sys {

// Lock is a struct holding one CRITICAL_SECTION named `section`.
template <typename Lock> Lock* NewSectionLock(DWORD spinCount) {
    void* storage = sys::AllocateBlock(sizeof(Lock));
    if (storage == nullptr) {
        return nullptr;
    }
    Lock* lock = new (storage) Lock;
    InitializeCriticalSectionAndSpinCount(&lock->section, spinCount);
    return lock;
}

template <typename Lock> void DeleteSectionLock(Lock* lock) {
    if (lock != nullptr) {
        DeleteCriticalSection(&lock->section);
        lock->~Lock();
        sys::FreeBlock(lock);
    }
}

} // namespace sys
} // namespace Orvex

#endif // ORVEX_PLATFORM_WIN32_CRITICALSECTION_H
