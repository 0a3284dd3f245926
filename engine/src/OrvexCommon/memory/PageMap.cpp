// The page map's leaves and the pages' unit states.
#include "OrvexCommon/memory/detail/PageMap.h"
#include "OrvexCommon/platform/OrvexSys.h"

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
    // Zero-filled: every slot reads null, no record.
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

} // namespace

bool RecordPage(const void* page, unsigned classIndex, std::uint32_t reciprocal,
                unsigned unitCount) {
    void* storage = sys::AllocateBlock(unitCount);
    if (storage == nullptr) {
        return false;
    }
    auto* states = static_cast<UnitState*>(storage);
    for (unsigned k = 0; k < unitCount; ++k) {
        new (states + k) UnitState(kUnitFree);
    }
    SPageSlot& slot = WritableSlot(page);
    slot.classIndex.store(classIndex, std::memory_order_relaxed);
    slot.reciprocal.store(reciprocal, std::memory_order_relaxed);
    slot.states.store(states, std::memory_order_release);
    return true;
}

void ForgetPage(const void* page) {
    sys::FreeBlock(WritableSlot(page).states.exchange(nullptr, std::memory_order_acq_rel));
}

void ReleasePageMap() {
    for (auto& root : g_pageMapRoot) {
        sys::FreeBlock(root.exchange(nullptr));
    }
}

} // namespace detail
} // namespace Orvex
