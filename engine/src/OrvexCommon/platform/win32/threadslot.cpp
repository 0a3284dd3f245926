// Thread slots on Windows: fiber-local slots, whose callback runs at thread
// exit (a DLL's too) and, for every thread that still has a value, when the
// slot is freed.
#include "OrvexCommon/platform/OrvexSys.h"
#include "OrvexCommon/platform/win32/WindowsHeaders.h"

namespace Orvex {
namespace sys {

struct ThreadSlot {
    DWORD index;
    std::atomic<bool> taken;
    void (*atThreadExit)(void* value);
};

namespace {

ThreadSlot g_slots[kMaxThreadSlots] = {};

// The system's callback gets only the value: one entry per table position,
// behind the system's calling convention.
template <unsigned Position> VOID WINAPI CallAtThreadExit(PVOID value) {
    void (*call)(void*) = g_slots[Position].atThreadExit;
    if (call != nullptr) {
        call(value);
    }
}

template <unsigned... Positions> struct ExitCallTable {
    static constexpr PFLS_CALLBACK_FUNCTION calls[] = {CallAtThreadExit<Positions>...};
};

static_assert(kMaxThreadSlots == 2, "one exit call per slot");
typedef ExitCallTable<0, 1> ExitCalls;

} // namespace

ThreadSlot* CreateThreadSlot(void (*atThreadExit)(void* value)) {
    for (unsigned position = 0; position < kMaxThreadSlots; ++position) {
        ThreadSlot& slot = g_slots[position];
        bool free = false;
        if (!slot.taken.compare_exchange_strong(free, true, std::memory_order_acq_rel)) {
            continue;
        }
        slot.atThreadExit = atThreadExit;
        slot.index = FlsAlloc(ExitCalls::calls[position]);
        if (slot.index == FLS_OUT_OF_INDEXES) {
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
    FlsFree(slot->index);
    slot->taken.store(false, std::memory_order_release);
}

void* GetThreadSlot(ThreadSlot* slot) {
    return slot == nullptr ? nullptr : FlsGetValue(slot->index);
}

void SetThreadSlot(ThreadSlot* slot, void* value) {
    (void)FlsSetValue(slot->index, value);
}

} // namespace sys
} // namespace Orvex
