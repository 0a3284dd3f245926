// Large blocks: a thread's kept areas in front of the spans, and the heap
// above the largest bin.
#include "OrvexCommon/memory/detail/LargeBlocks.h"

#include <algorithm>
#include <cstring>

namespace Orvex {
namespace detail {

namespace {

void WriteLargeHeader(unsigned char* area, std::uint32_t tag, std::uint32_t total) {
    const std::uint32_t words[2] = {tag, total};
    std::memcpy(area, words, sizeof(words));
}

// A kept area of `bin`, an empty bin first taking half its capacity (at
// least 1: capacities start at 2) from the spans; null when no span can be
// had.
unsigned char* TakeKeptArea(SAllocatorState& state, SThreadCache& cache, unsigned bin) {
    SLargeBin& kept = cache.largeBins[bin];
    if (kept.count == 0) {
        kept.count = TakeAreas(state, bin, kept.areas, LargeBinCapacity(bin) / 2);
        // The first taken (the lowest address) goes first.
        std::reverse(kept.areas, kept.areas + kept.count);
        if (kept.count == 0) {
            return nullptr;
        }
    }
    return kept.areas[--kept.count];
}

// Keeps a released area; a full bin gives its older half back first.
void KeepArea(SAllocatorState& state, SThreadCache& cache, unsigned bin, unsigned char* area) {
    SLargeBin& kept = cache.largeBins[bin];
    if (kept.count == LargeBinCapacity(bin)) {
        const unsigned half = kept.count / 2;
        GiveAreasBack(state, bin, kept.areas, half);
        std::memmove(kept.areas, kept.areas + half, (kept.count - half) * sizeof(kept.areas[0]));
        kept.count -= half;
    }
    kept.areas[kept.count++] = area;
}

unsigned char* TakeOneArea(SAllocatorState& state, unsigned bin) {
    unsigned char* area;
    return TakeAreas(state, bin, &area, 1) == 1 ? area : nullptr;
}

void CountLarge(SAllocatorState& state, SThreadCache* cache, std::uint32_t total, bool adding) {
    if (cache != nullptr) {
        adding ? cache->largeBytes.add(total) : cache->largeBytes.subtract(total);
    } else if (sys::ShortLock* lock = state.largeLock.load(std::memory_order_acquire)) {
        sys::ScopedShortLock hold(lock);
        adding ? state.counters[kLargeCounter].add(total)
               : state.counters[kLargeCounter].subtract(total);
    }
}

} // namespace

void* AllocateLarge(SAllocatorState& state, SThreadCache* cache, std::uint32_t total) {
    if (state.largeLock.load(std::memory_order_acquire) == nullptr) {
        return nullptr; // after teardown
    }
    const std::uint32_t rounded = RoundedLargeArea(total + kLargeSlack);
    unsigned char* area;
    if (IsBinnedArea(rounded)) {
        // A kept area is a memory request too, as far as fault injection goes.
        if (sys::RefuseMemoryRequest()) {
            return nullptr;
        }
        const unsigned bin = LargeBinOf(rounded);
        area = cache != nullptr ? TakeKeptArea(state, *cache, bin) : TakeOneArea(state, bin);
        if (area == nullptr) {
            return nullptr;
        }
        SizeOfArea(area).store(total, std::memory_order_relaxed);
        WriteLargeHeader(area, kSpanTag, total);
    } else {
        area = static_cast<unsigned char*>(sys::AllocateBlock(rounded));
        if (area == nullptr) {
            return nullptr;
        }
        WriteLargeHeader(area, kHeapTag, total);
    }
    CountLarge(state, cache, total, true);
    return area + kLargeSlack + 4;
}

void ReleaseSpanArea(SAllocatorState& state, SThreadCache* cache, unsigned char* header,
                     SLargeSpan& span, unsigned number, unsigned bin) {
    // Only threads without a cache exchange the size (one of two such
    // releases at once sees 0): a locked instruction would wait for every
    // store before it to reach memory. Released before, or never handed
    // out: 0, ignored.
    AreaSize& size = span.sizes[number];
    const std::uint32_t total = cache != nullptr ? size.load(std::memory_order_relaxed)
                                                 : size.exchange(0, std::memory_order_relaxed);
    if (total == 0) {
        return;
    }
    if (cache != nullptr) {
        size.store(0, std::memory_order_relaxed);
    }
    unsigned char* area = header - kLargeSlack;
    CountLarge(state, cache, total, false);
    if (cache != nullptr) {
        KeepArea(state, *cache, bin, area);
    } else {
        GiveAreasBack(state, bin, &area, 1);
    }
}

void ReleaseHeapBlock(SAllocatorState& state, SThreadCache* cache, unsigned char* header) {
    std::uint32_t words[2];
    std::memcpy(words, header - kLargeSlack, sizeof(words));
    const std::uint32_t total = words[1];
    if (words[0] != kHeapTag || total <= kLargestUnit) {
        return;
    }
    CountLarge(state, cache, total, false);
    sys::FreeBlock(header - kLargeSlack);
}

void GiveKeptAreasBack(SAllocatorState& state, SThreadCache& cache) {
    for (unsigned bin = 0; bin < kLargeBinCount; ++bin) {
        SLargeBin& kept = cache.largeBins[bin];
        GiveAreasBack(state, bin, kept.areas, kept.count);
        kept.count = 0;
    }
}

} // namespace detail
} // namespace Orvex
