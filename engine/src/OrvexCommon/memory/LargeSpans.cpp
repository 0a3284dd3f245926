// The spans of large blocks: each bin's open spans, the free and the spare
// spans, new regions for spans, and teardown.
#include "OrvexCommon/memory/detail/LargeSpans.h"
#include "OrvexCommon/memory/detail/AllocatorManager.h"
#include "OrvexCommon/memory/detail/IntrusiveList.h"

#include <new>

namespace Orvex {
namespace detail {

namespace {

// Bin lock held.
void LinkOpen(SLargeClass& large, SLargeSpan* span) {
    LinkFirst(large.open, span);
    span->open = true;
}

// Bin lock held.
void UnlinkOpen(SLargeClass& large, SLargeSpan* span) {
    Unlink(large.open, span);
    span->open = false;
}

// The span serves bin `bin` from now on, every area free; its sizes read 0
// already. Bin lock held.
void ShapeSpan(SLargeSpan* span, unsigned bin) {
    span->bin = bin;
    span->purged = false;
    span->areaCount = kSpanSize / LargeBinArea(bin);
    span->freeCount = span->areaCount;
    // The lowest area on top: areas go out in ascending order.
    for (unsigned k = 0; k < span->areaCount; ++k) {
        span->freeAreas[k] = static_cast<std::uint8_t>(span->areaCount - 1 - k);
    }
    RecordSpan(span->base, kSpanSize, kFirstSpanClass + bin, kAreaReciprocals.values[bin], span);
}

// A new span record over a new region. Page-list lock held.
SLargeSpan* MakeSpan(SAllocatorState& state) {
    void* storage = sys::AllocateBlock(sizeof(SLargeSpan));
    if (storage == nullptr) {
        return nullptr;
    }
    auto* base = static_cast<unsigned char*>(sys::ObtainRegion(kSpanSize, kSpanSize));
    // A region the page map cannot cover is left unused: its releases could
    // not be found.
    if (base == nullptr || !MapRegion(base, kSpanSize)) {
        sys::FreeBlock(storage);
        return nullptr;
    }
    auto* span = new (storage) SLargeSpan;
    span->base = base;
    for (auto& size : span->sizes) {
        size.store(0, std::memory_order_relaxed);
    }
    span->nextOfAll = state.allSpans;
    state.allSpans = span;
    return span;
}

// Page-list lock held.
SLargeSpan* PopFreeSpan(SAllocatorState& state) {
    SLargeSpan* span = state.freeSpans;
    if (span != nullptr) {
        Unlink(state.freeSpans, span);
        if (state.freeSpans == nullptr) {
            state.oldestFreeSpan = nullptr;
        }
        state.freeSpanCount.subtract(1);
    }
    return span;
}

// A free span (the last to join), a spare one or a new one, shaped for `bin`
// and opened. Bin lock held.
SLargeSpan* OpenSpan(SAllocatorState& state, unsigned bin) {
    SLargeSpan* span;
    {
        sys::ScopedShortLock hold(state.pageListLock);
        span = PopFreeSpan(state);
        if (span == nullptr && (span = state.spareSpans) != nullptr) {
            state.spareSpans = span->next;
        } else if (span == nullptr) {
            span = MakeSpan(state);
        }
    }
    if (span != nullptr) {
        ShapeSpan(span, bin);
        LinkOpen(state.largeClasses[bin], span);
        ++state.largeClasses[bin].wholeFree;
    }
    return span;
}

// Takes up to `wanted` areas from `span`. Bin lock held.
unsigned TakeFromSpan(SLargeClass& large, SLargeSpan* span, unsigned char** areas,
                      unsigned wanted) {
    if (span->freeCount == span->areaCount) {
        --large.wholeFree;
    }
    const std::uint32_t areaSize = LargeBinArea(span->bin);
    unsigned taken = 0;
    while (taken < wanted && span->freeCount > 0) {
        areas[taken++] = span->base + span->freeAreas[--span->freeCount] * areaSize;
    }
    if (span->freeCount == 0) {
        UnlinkOpen(large, span);
    }
    return taken;
}

// The area at `area` back to its span; returns the span when it leaves the
// bin (another span of the bin has every area free). Bin lock held.
SLargeSpan* GiveToSpan(SLargeClass& large, unsigned char* area) {
    unsigned number;
    SLargeSpan* span = &SpanOfArea(area, number);
    span->freeAreas[span->freeCount++] = static_cast<std::uint8_t>(number);
    if (!span->open) {
        LinkOpen(large, span);
    }
    if (span->freeCount < span->areaCount) {
        return nullptr;
    }
    if (large.wholeFree == 0) {
        large.wholeFree = 1;
        return nullptr;
    }
    UnlinkOpen(large, span);
    return span;
}

// Whether the oldest free span is to be purged now: always past
// kMaxFreeSpans, and past kKeptFreeSpans once it has been free for
// kPurgeDelayMilliseconds. Page-list lock held.
bool PurgeOldest(const SAllocatorState& state, std::uint64_t now) {
    const unsigned count = state.freeSpanCount.get();
    return count > kMaxFreeSpans ||
           (count > kKeptFreeSpans &&
            now - state.oldestFreeSpan->freedAt >= kPurgeDelayMilliseconds);
}

// A span with every area free that its bin does not keep joins the free
// spans, newest first; the oldest are purged as PurgeOldest says and become
// spare. A burst of releases that the program takes again soon (a level
// torn down and built again) is not purged and faulted in again: each purge
// of a multi-threaded process interrupts every processor it ran on.
void RetireSpan(SAllocatorState& state, SLargeSpan* span) {
    const std::uint64_t now = sys::MonotonicMilliseconds();
    span->freedAt = now;
    SLargeSpan* newestToPurge = nullptr; // its `next` links run to the oldest
    {
        sys::ScopedShortLock hold(state.pageListLock);
        if (state.freeSpans == nullptr) {
            state.oldestFreeSpan = span;
        }
        LinkFirst(state.freeSpans, span);
        state.freeSpanCount.add(1);
        while (PurgeOldest(state, now)) {
            newestToPurge = state.oldestFreeSpan;
            state.oldestFreeSpan = newestToPurge->previous;
            state.freeSpanCount.subtract(1);
        }
        if (newestToPurge != nullptr) {
            state.oldestFreeSpan->next = nullptr; // 64 spans at least stay
            newestToPurge->previous = nullptr;
        }
    }
    if (newestToPurge == nullptr) {
        return;
    }
    SLargeSpan* oldest = newestToPurge;
    for (SLargeSpan* purged = newestToPurge; purged != nullptr; purged = purged->next) {
        sys::PurgeRegion(purged->base, kSpanSize);
        purged->purged = true;
        oldest = purged;
    }
    sys::ScopedShortLock hold(state.pageListLock);
    oldest->next = state.spareSpans;
    state.spareSpans = newestToPurge;
}

void ClearSpanLists(SAllocatorState& state) {
    state.spareSpans = nullptr;
    state.allSpans = nullptr;
    state.freeSpans = nullptr;
    state.oldestFreeSpan = nullptr;
    state.freeSpanCount.set(0);
}

} // namespace

bool StartSpans(SAllocatorState& state) {
    ClearSpanLists(state);
    for (SLargeClass& large : state.largeClasses) {
        large.open = nullptr;
        large.wholeFree = 0;
        sys::ShortLock* lock = sys::CreateShortLock();
        if (lock == nullptr) {
            return false;
        }
        large.lock.store(lock, std::memory_order_release);
    }
    return true;
}

unsigned TakeAreas(SAllocatorState& state, unsigned bin, unsigned char** areas, unsigned wanted) {
    SLargeClass& large = state.largeClasses[bin];
    sys::ShortLock* lock = large.lock.load(std::memory_order_acquire);
    if (lock == nullptr) {
        return 0;
    }
    sys::ScopedShortLock hold(lock);
    unsigned taken = 0;
    while (taken < wanted && large.open != nullptr) {
        taken += TakeFromSpan(large, large.open, areas + taken, wanted - taken);
    }
    if (taken == 0 && OpenSpan(state, bin) != nullptr) {
        taken = TakeFromSpan(large, large.open, areas, wanted);
    }
    return taken;
}

void GiveAreasBack(SAllocatorState& state, unsigned bin, unsigned char* const* areas,
                   unsigned count) {
    SLargeClass& large = state.largeClasses[bin];
    sys::ShortLock* lock = large.lock.load(std::memory_order_acquire);
    if (lock == nullptr) {
        return;
    }
    sys::ScopedShortLock hold(lock);
    for (unsigned k = 0; k < count; ++k) {
        if (SLargeSpan* span = GiveToSpan(large, areas[k])) {
            RetireSpan(state, span);
        }
    }
}

void StopSpans(SAllocatorState& state, bool returnRegions) {
    for (SLargeClass& large : state.largeClasses) {
        sys::DestroyShortLock(large.lock.exchange(nullptr));
    }
    SLargeSpan* span = state.allSpans;
    while (span != nullptr) {
        SLargeSpan* next = span->nextOfAll;
        // A span with a block still held stays as it is.
        if (returnRegions) {
            sys::ReturnRegion(span->base, kSpanSize);
        } else if (!span->purged && span->freeCount == span->areaCount) {
            sys::PurgeRegion(span->base, kSpanSize);
        }
        span->~SLargeSpan();
        sys::FreeBlock(span);
        span = next;
    }
    ClearSpanLists(state);
}

} // namespace detail
} // namespace Orvex
