// Thread slots on Windows: a fiber-local slot, whose callback runs at thread
// exit (a DLL's too) and, for every thread that still has a value, when the
// slot is freed.
#include "OrvexCommon/platform/OrvexSys.h"
#include "OrvexCommon/platform/win32/WindowsHeaders.h"

#include <new>

namespace Orvex {
namespace sys {

struct ThreadSlot {
    DWORD index;
};

namespace {

// The library makes one slot; its exit call, behind the system's calling
// convention.
void (*g_atThreadExit)(void* value) = nullptr;

VOID WINAPI CallAtThreadExit(PVOID value) {
    if (g_atThreadExit != nullptr) {
        g_atThreadExit(value);
    }
}

} // namespace

ThreadSlot* CreateThreadSlot(void (*atThreadExit)(void* value)) {
    void* storage = AllocateBlock(sizeof(ThreadSlot));
    if (storage == nullptr) {
        return nullptr;
    }
    auto* slot = new (storage) ThreadSlot;
    g_atThreadExit = atThreadExit;
    slot->index = FlsAlloc(CallAtThreadExit);
    if (slot->index == FLS_OUT_OF_INDEXES) {
        FreeBlock(storage);
        return nullptr;
    }
    return slot;
}

void DestroyThreadSlot(ThreadSlot* slot) {
    if (slot == nullptr) {
        return;
    }
    FlsFree(slot->index);
    FreeBlock(slot);
}

void* GetThreadSlot(ThreadSlot* slot) {
    return slot == nullptr ? nullptr : FlsGetValue(slot->index);
}

void SetThreadSlot(ThreadSlot* slot, void* value) {
    (void)FlsSetValue(slot->index, value);
}

} // namespace sys
} // namespace Orvex
