// The allocator's invariants, for checking builds.
#include "OrvexCommon/memory/detail/AllocatorChecks.h"
#include "OrvexCommon/memory/detail/PageHeader.h"
#include "OrvexCommon/memory/detail/PageMap.h"
#include "OrvexCommon/memory/detail/ThreadCache.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>

namespace Orvex {
namespace detail {

namespace {

unsigned IndexOf(const SPoolClass& pool) {
    return pool.unitSize / 8 - 1;
}

} // namespace

void AllocatorCheckFailed(const char* what) {
    std::fprintf(stderr, "allocator invariant broken: %s\n", what);
    std::fflush(stderr);
    std::abort();
}

void CheckPage(const SPoolClass& pool, unsigned pageIndex) {
    const unsigned index = IndexOf(pool);
    const unsigned char* page = pool.pages[pageIndex];
    const unsigned count = pool.pageFree[pageIndex];
    if (count > pool.unitsPerPage) {
        AllocatorCheckFailed("a page counts more free units than it has");
    }
    bool seen[kPageUnitBytes / 8] = {};
    unsigned walked = 0;
    for (std::uint32_t offset = FirstFree(page); offset != 0; ++walked) {
        const unsigned char* unit = page + offset;
        if (walked >= count || !OnUnitBoundary(index, unit)) {
            AllocatorCheckFailed("a free list runs off its page's units or past its count");
        }
        const unsigned slot = (offset - kPageHeaderSize) / pool.unitSize;
        if (seen[slot]) {
            AllocatorCheckFailed("a unit is twice on its page's free list");
        }
        seen[slot] = true;
        offset = NextFree(unit, pool.unitSize);
    }
    if (walked != count) {
        AllocatorCheckFailed("a page's free list is shorter than its count");
    }
}

void CheckPool(const SPoolClass& pool) {
    const unsigned pages = pool.pageCount.get();
    unsigned free = 0;
    for (unsigned k = 0; k < pages; ++k) {
        if (k > 0 && !std::less<const unsigned char*>()(pool.pages[k - 1], pool.pages[k])) {
            AllocatorCheckFailed("a pool's pages are out of order");
        }
        const SPageSlot* slot = PageSlot(pool.pages[k]);
        if (slot == nullptr || slot->states.load(std::memory_order_relaxed) == nullptr ||
            slot->classIndex.load(std::memory_order_relaxed) != IndexOf(pool)) {
            AllocatorCheckFailed("a pool's page is not its own in the page map");
        }
        free += pool.pageFree[k];
    }
    if (pool.parkedCount > kMaxParkedUnits) {
        AllocatorCheckFailed("a pool parks more units than it has room for");
    }
    for (unsigned k = 0; k < pool.parkedCount; ++k) {
        if (!IsPoolUnit(IndexOf(pool), pool.parked[k])) {
            AllocatorCheckFailed("a parked unit is no unit of a page of its class");
        }
    }
    if (free + pool.parkedCount != pool.freeUnits.get()) {
        AllocatorCheckFailed("a pool's free units do not add up");
    }
}

void CheckCachedUnit(unsigned index, const unsigned char* unit) {
    if (!IsPoolUnit(index, unit)) {
        AllocatorCheckFailed("a cached unit is no unit of a page of its class");
    }
    if (StateOfUnit(index, unit).load(std::memory_order_relaxed) != kUnitFree) {
        AllocatorCheckFailed("a cached unit reads as handed out");
    }
}

void CheckBinPush(const SCacheBin& bin, const unsigned char* unit) {
    const unsigned count = bin.count.get();
    if (count >= bin.capacity) {
        AllocatorCheckFailed("a bin goes past its capacity");
    }
    for (unsigned k = 0; k < count; ++k) {
        if (bin.units[k].header == unit) {
            AllocatorCheckFailed("a unit is twice in a thread cache");
        }
    }
}

} // namespace detail
} // namespace Orvex
