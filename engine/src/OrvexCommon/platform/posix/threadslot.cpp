// Thread slots on POSIX. The value lives in a thread-local pointer (one load
// on the fast path); the pthread key holds a copy only so that the key's
// destructor runs at thread exit, and a deleted key runs none.
#include "OrvexCommon/platform/OrvexSys.h"

#include <new>
#include <pthread.h>

namespace Orvex {
namespace sys {

struct ThreadSlot {
    pthread_key_t key;
};

namespace {

// One slot value per thread: the library makes one slot. Initial-exec: one
// load from the thread pointer on the allocator's fast path, instead of a
// call to the dynamic loader for every access; the loader keeps room in the
// static TLS block for a library opened later, and 8 bytes fit.
thread_local void* t_slotValue __attribute__((tls_model("initial-exec"))) = nullptr;

} // namespace

ThreadSlot* CreateThreadSlot(void (*atThreadExit)(void* value)) {
    void* storage = AllocateBlock(sizeof(ThreadSlot));
    if (storage == nullptr) {
        return nullptr;
    }
    auto* slot = new (storage) ThreadSlot;
    if (pthread_key_create(&slot->key, atThreadExit) != 0) {
        FreeBlock(storage);
        return nullptr;
    }
    return slot;
}

void DestroyThreadSlot(ThreadSlot* slot) {
    if (slot == nullptr) {
        return;
    }
    pthread_key_delete(slot->key);
    FreeBlock(slot);
}

void* GetThreadSlot(ThreadSlot*) {
    return t_slotValue;
}

void SetThreadSlot(ThreadSlot* slot, void* value) {
    t_slotValue = value;
    (void)pthread_setspecific(slot->key, value);
}

} // namespace sys
} // namespace Orvex
