// The page map's leaves and the pages' unit states.
#include "OrvexCommon/memory/detail/PageMap.h"
#include "OrvexCommon/platform/OrvexSys.h"

#include <cstring>
#include <new>

namespace Orvex {
namespace detail {

std::atomic<SPageSlot*> g_pageMapRoot[std::size_t(1) << kRootBits];

namespace {

constexpr std::size_t kLeafBytes = (std::size_t(1) << kLeafBits) * sizeof(SPageSlot);

bool MapGigabyte(std::uintptr_t root) {
    if (root >= (std::uintptr_t(1) << kRootBits)) {
        return false;
    }
    if (g_pageMapRoot[root].load(std::memory_order_relaxed) != nullptr) {
        return true;
    }
    // Zero-filled: every slot reads null states, no class.
    void* leaf = sys::AllocateZeroedBlock(kLeafBytes);
    if (leaf == nullptr) {
        return false;
    }
    g_pageMapRoot[root].store(static_cast<SPageSlot*>(leaf), std::memory_order_release);
    return true;
}

} // namespace

bool MapRegion(const void* region, unsigned size) {
    const std::uintptr_t first = reinterpret_cast<std::uintptr_t>(region);
    const std::uintptr_t last = first + size - 1;
    const unsigned shift = kPageShift + kLeafBits;
    return MapGigabyte(first >> shift) && MapGigabyte(last >> shift);
}

namespace {

SPageSlot& WritableSlot(const void* page) {
    return const_cast<SPageSlot&>(MappedPageSlot(page));
}

constexpr std::uintptr_t kLine = 64;

// A page's unit states fill whole cache lines of their own: pages taken by
// different threads then share no line of states.
UnitState* AllocateStates(unsigned unitCount) {
    const std::size_t bytes = (unitCount + kLine - 1) / kLine * kLine;
    void* storage = sys::AllocateBlock(bytes + kLine - 1 + sizeof(void*));
    if (storage == nullptr) {
        return nullptr;
    }
    const std::uintptr_t start =
        (reinterpret_cast<std::uintptr_t>(storage) + sizeof(void*) + kLine - 1) & ~(kLine - 1);
    std::memcpy(reinterpret_cast<void*>(start - sizeof(void*)), &storage, sizeof(void*));
    auto* states = reinterpret_cast<UnitState*>(start);
    for (unsigned k = 0; k < unitCount; ++k) {
        new (states + k) UnitState(kUnitFree);
    }
    return states;
}

void FreeStates(UnitState* states) {
    if (states != nullptr) {
        void* storage;
        std::memcpy(&storage, reinterpret_cast<unsigned char*>(states) - sizeof(void*),
                    sizeof(void*));
        sys::FreeBlock(storage);
    }
}

} // namespace

bool RecordPage(const void* page, unsigned classIndex, std::uint32_t reciprocal,
                unsigned unitCount) {
    UnitState* states = AllocateStates(unitCount);
    if (states == nullptr) {
        return false;
    }
    SPageSlot& slot = WritableSlot(page);
    slot.classIndex.store(classIndex, std::memory_order_relaxed);
    slot.reciprocal.store(reciprocal, std::memory_order_relaxed);
    slot.states.store(states, std::memory_order_release);
    return true;
}

void RecordSpan(const void* base, unsigned size, unsigned classIndex, std::uint32_t reciprocal,
                void* span) {
    const auto* start = static_cast<const unsigned char*>(base);
    for (unsigned offset = 0; offset < size; offset += 1u << kPageShift) {
        SPageSlot& slot = WritableSlot(start + offset);
        slot.classIndex.store(classIndex, std::memory_order_relaxed);
        slot.reciprocal.store(reciprocal, std::memory_order_relaxed);
        slot.states.store(static_cast<UnitState*>(span), std::memory_order_release);
    }
}

void ForgetPage(const void* page) {
    FreeStates(WritableSlot(page).states.exchange(nullptr, std::memory_order_acq_rel));
}

void ReleasePageMap() {
    for (auto& root : g_pageMapRoot) {
        sys::FreeBlock(root.exchange(nullptr));
    }
}

} // namespace detail
} // namespace Orvex
