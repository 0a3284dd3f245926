// The exported lock functions over the platform layer's recursive locks. A
// null lock is ignored rather than crashing the caller.
#include "OrvexCommon/platform/OrvexPlatform.h"
#include "OrvexCommon/platform/OrvexSys.h"

namespace Orvex {

namespace {

sys::RecursiveLock* LockOf(void* handle) {
    return static_cast<sys::RecursiveLock*>(handle);
}

} // namespace

void* OrvexCreateLock() {
    return sys::CreateRecursiveLock();
}

bool OrvexDestroyLock(void* lock) {
    sys::DestroyRecursiveLock(LockOf(lock));
    return true;
}

void OrvexLock(void* lock) {
    if (lock != nullptr) {
        sys::EnterHostLock(LockOf(lock));
    }
}

void OrvexUnlock(void* lock) {
    if (lock != nullptr) {
        sys::LeaveHostLock(LockOf(lock));
    }
}

} // namespace Orvex
