// Thread slots on POSIX. A slot's value lives in a thread-local table (one
// load on the fast path); the pthread key holds a copy only so that the key's
// destructor runs at thread exit, and a deleted key runs none.
#include "OrvexCommon/platform/OrvexSys.h"

#include <pthread.h>

namespace Orvex {
namespace sys {

struct ThreadSlot {
    pthread_key_t key;
    unsigned index; // into the thread-local table
    std::atomic<bool> taken;
};

namespace {

// Initial-exec: one load from the thread pointer on the allocator's fast
// path, instead of a call to the dynamic loader for every access; the loader
// keeps room in the static TLS block for a library opened later, and the
// table's few words fit.
thread_local void* t_slotValues[kMaxThreadSlots] __attribute__((tls_model("initial-exec"))) = {};

// Static, so that a slot is never a heap block another slot could outlive.
ThreadSlot g_slots[kMaxThreadSlots] = {};

} // namespace

ThreadSlot* CreateThreadSlot(void (*atThreadExit)(void* value)) {
    for (unsigned index = 0; index < kMaxThreadSlots; ++index) {
        ThreadSlot& slot = g_slots[index];
        bool free = false;
        if (!slot.taken.compare_exchange_strong(free, true, std::memory_order_acq_rel)) {
            continue;
        }
        slot.index = index;
        if (pthread_key_create(&slot.key, atThreadExit) != 0) {
            slot.taken.store(false, std::memory_order_release);
            return nullptr;
        }
        return &slot;
    }
    return nullptr;
}

void DestroyThreadSlot(ThreadSlot* slot) {
    if (slot == nullptr) {
        return;
    }
    pthread_key_delete(slot->key);
    slot->taken.store(false, std::memory_order_release);
}

void* GetThreadSlot(ThreadSlot* slot) {
    return slot == nullptr ? nullptr : t_slotValues[slot->index];
}

void SetThreadSlot(ThreadSlot* slot, void* value) {
    t_slotValues[slot->index] = value;
    (void)pthread_setspecific(slot->key, value);
}

} // namespace sys
} // namespace Orvex
