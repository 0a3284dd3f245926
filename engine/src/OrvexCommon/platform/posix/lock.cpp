// Recursive locks on POSIX: a recursive pthread mutex in malloc'd storage.
#include "OrvexCommon/platform/OrvexSys.h"

#include "EndGuard.h"

#include <cstdlib>
#include <new>
#include <pthread.h>

namespace Orvex {
namespace sys {

struct RecursiveLock {
    pthread_mutex_t mutex;
};

namespace {

// What a null lock stands for; static storage, so it needs no memory.
RecursiveLock g_fallbackLock = {PTHREAD_RECURSIVE_MUTEX_INITIALIZER_NP};

pthread_mutex_t* MutexOf(RecursiveLock* lock) {
    return &(lock != nullptr ? lock : &g_fallbackLock)->mutex;
}

} // namespace

RecursiveLock* CreateRecursiveLock() {
    void* storage = sys::AllocateBlock(sizeof(RecursiveLock));
    if (storage == nullptr) {
        return nullptr;
    }
    RecursiveLock* lock = new (storage) RecursiveLock;
    pthread_mutexattr_t attributes;
    pthread_mutexattr_init(&attributes);
    pthread_mutexattr_settype(&attributes, PTHREAD_MUTEX_RECURSIVE);
    pthread_mutex_init(&lock->mutex, &attributes);
    pthread_mutexattr_destroy(&attributes);
    return lock;
}

void DestroyRecursiveLock(RecursiveLock* lock) {
    if (lock == nullptr) {
        return;
    }
    pthread_mutex_destroy(&lock->mutex);
    lock->~RecursiveLock();
    sys::FreeBlock(lock);
}

void EnterHostLock(RecursiveLock* lock) {
    pthread_mutex_lock(MutexOf(lock));
}

void LeaveHostLock(RecursiveLock* lock) {
    pthread_mutex_unlock(MutexOf(lock));
}

// The library's own: a forced end waits while the lock is wanted or held
// (EndGuard.h).
void EnterLock(RecursiveLock* lock) {
    HoldEndBackHere();
    EnterHostLock(lock);
}

void LeaveLock(RecursiveLock* lock) {
    LeaveHostLock(lock);
    AllowEndHere();
}

} // namespace sys
} // namespace Orvex
