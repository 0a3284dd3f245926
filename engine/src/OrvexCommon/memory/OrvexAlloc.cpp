// The allocator's exported functions: allocation, release and statistics.
//
// Every block has a 4-byte header in front of its address. A pool block's
// header holds its class index (bytes 0-1) and a marker (bytes 2-3: 0x8000
// while handed out, 0xFFFF once released); the release of a pool unit reads
// its class and state from the page map instead (PageMap.h), and only writes
// the header. A large block's header holds its
// total size (request + 4) as one 32-bit word, whose top bit is always clear:
// bit 15 of bytes 2-3 tells the two kinds apart; its release reads the size
// from its span (LargeSpans.h), or, above 64 KiB, from the header. Addresses
// handed out are 8-byte aligned: units start 4 bytes into 8-aligned pages,
// and a large block sits 8 bytes into its area (LargeBlocks.cpp).
#include "OrvexCommon/memory/OrvexMemory.h"
#include "OrvexCommon/memory/detail/AllocatorChecks.h"
#include "OrvexCommon/memory/detail/AllocatorManager.h"
#include "OrvexCommon/memory/detail/LargeBlocks.h"
#include "OrvexCommon/memory/detail/ThreadCache.h"

#include <cstdlib>
#include <cstring>

using namespace Orvex;
using namespace Orvex::detail;

namespace {

constexpr unsigned kHeaderSize = 4;

std::uint16_t ReadWord(const unsigned char* at) {
    std::uint16_t word;
    std::memcpy(&word, at, 2);
    return word;
}

void WritePoolHeader(unsigned char* header, unsigned index, std::uint16_t marker) {
    const std::uint16_t words[2] = {static_cast<std::uint16_t>(index), marker};
    std::memcpy(header, words, 4);
}

// Hands out the bin's unit at `position`, its last.
inline void* HandOutCached(SCacheBin& bin, unsigned index, unsigned position) {
    const SCachedUnit unit = bin.units[position];
    if (kAllocatorChecks) {
        CheckCachedUnit(index, unit.header);
    }
    bin.count.set(position);
    unit.state->store(kUnitHandedOut, std::memory_order_relaxed);
    WritePoolHeader(unit.header, index, kMarkerInUse);
    return unit.header + kHeaderSize;
}

// Marks a unit handed out released and pushes it on its bin, which holds
// `count` units, fewer than its capacity.
inline void PushReleased(SCacheBin& bin, unsigned count, unsigned char* header, unsigned index,
                         UnitState& unitState) {
    if (kAllocatorChecks) {
        CheckBinPush(bin, header);
    }
    unitState.store(kUnitFree, std::memory_order_relaxed);
    WritePoolHeader(header, index, kMarkerReleased);
    bin.units[count] = {header, &unitState};
    bin.count.set(count + 1);
}

// The pool under its lock: threads without a cache.
void* AllocateUnitLocked(SAllocatorState& state, unsigned index) {
    sys::ShortLock* lock = state.classLocks[index].load(std::memory_order_acquire);
    if (lock == nullptr || sys::RefuseMemoryRequest()) {
        return nullptr;
    }
    SPoolClass& pool = state.pools[index];
    unsigned char* unit;
    {
        sys::ScopedShortLock hold(lock);
        unit = TakeUnit(state, pool);
        if (unit == nullptr) {
            return nullptr;
        }
        state.counters[index].add(pool.unitSize);
        StateOfUnit(index, unit).store(kUnitHandedOut, std::memory_order_relaxed);
    }
    WritePoolHeader(unit, index, kMarkerInUse);
    return unit + kHeaderSize;
}

// A unit from the thread's bin, refilled first when empty; the request was
// already counted by the memory-fault seam.
[[gnu::noinline]] void* TakeCachedUnit(SAllocatorState& state, SThreadCache& cache,
                                       unsigned index) {
    SCacheBin& bin = cache.bins[index];
    unsigned count = bin.count.get();
    if (count == 0) {
        if (!RefillBin(state, cache, index)) {
            return nullptr;
        }
        count = bin.count.get();
    }
    return HandOutCached(bin, index, count - 1);
}

void* AllocateUnit(SAllocatorState& state, SThreadCache* cache, unsigned index) {
    if (cache == nullptr) {
        return AllocateUnitLocked(state, index);
    }
    if (sys::RefuseMemoryRequest()) {
        return nullptr;
    }
    return TakeCachedUnit(state, *cache, index);
}

// The pool under its lock: threads without a cache. The state byte is
// checked again under the lock, so that two such threads releasing a unit
// at once give it back once.
void ReleaseUnitLocked(SAllocatorState& state, unsigned char* header, unsigned index,
                       UnitState& unitState) {
    sys::ShortLock* lock = state.classLocks[index].load(std::memory_order_acquire);
    if (lock == nullptr) {
        return;
    }
    SPoolClass& pool = state.pools[index];
    sys::ScopedShortLock hold(lock);
    if (unitState.load(std::memory_order_relaxed) != kUnitHandedOut) {
        return;
    }
    unitState.store(kUnitFree, std::memory_order_relaxed);
    WritePoolHeader(header, index, kMarkerReleased);
    state.counters[index].subtract(pool.unitSize);
    GiveUnitBack(state, pool, header);
}

// A unit handed out goes on the thread's bin, half the bin going back to
// the pool first when it is full.
void ReleaseUnit(SAllocatorState& state, SThreadCache& cache, unsigned char* header, unsigned index,
                 UnitState& unitState) {
    SCacheBin& bin = cache.bins[index];
    unsigned count = bin.count.get();
    if (count == bin.capacity) {
        FlushBin(state, cache, index);
        count = bin.count.get();
    }
    PushReleased(bin, count, header, index, unitState);
}

// A header that reads as a pool block's on memory that is no unit of a pool
// page: marker and count changed (one unit less handed out), never cached or
// given to a page.
void DropBlock(SAllocatorState& state, SThreadCache* cache, unsigned char* header) {
    const unsigned index = ReadWord(header);
    if (index >= kClassCount) {
        return;
    }
    if (cache != nullptr) {
        WritePoolHeader(header, index, kMarkerReleased);
        CCacheChange change(*cache);
        cache->unitsIn[index].subtract(1);
        return;
    }
    sys::ShortLock* lock = state.classLocks[index].load(std::memory_order_acquire);
    if (lock == nullptr) {
        return;
    }
    WritePoolHeader(header, index, kMarkerReleased);
    sys::ScopedShortLock hold(lock);
    state.counters[index].subtract(state.pools[index].unitSize);
}

// The calling thread's cache while the allocator is live; builds the manager
// on first use.
SThreadCache* ThreadCacheOrNull(SAllocatorState& state) {
    const unsigned char phase = g_allocatorPhase.load(std::memory_order_acquire);
    if (phase == kAllocatorLive) {
        return CurrentThreadCache(state);
    }
    if (phase == kAllocatorUnbuilt) {
        AllocatorManager();
        return ThreadCacheOrNull(state);
    }
    return nullptr;
}

} // namespace

namespace {

// The slow paths: first calls, threads without a cache, large blocks, bins
// to refill or flush, odd headers. Kept out of line so that the fast paths
// stay short.
[[gnu::noinline]] void* AllocateSlow(unsigned int size) {
    SAllocatorState& state = g_allocatorState;
    SThreadCache* cache = ThreadCacheOrNull(state);
    if (size >= 0x7FFFFFFFu - kHeaderSize) {
        return nullptr;
    }
    const std::uint32_t total = size + kHeaderSize;
    if (total > kLargestUnit) {
        return AllocateLarge(state, cache, total);
    }
    return AllocateUnit(state, cache, (total - 1) >> 3);
}

[[gnu::noinline]] void FreeSlow(void* block) {
    SAllocatorState& state = g_allocatorState;
    SThreadCache* cache = ThreadCacheOrNull(state);
    unsigned char* header = static_cast<unsigned char*>(block) - kHeaderSize;
    unsigned index;
    if (UnitState* unitState = PoolUnitState(header, index)) {
        // A free unit was released before or never handed out: ignored.
        if (unitState->load(std::memory_order_relaxed) != kUnitHandedOut) {
            return;
        }
        if (cache != nullptr) {
            ReleaseUnit(state, *cache, header, index, *unitState);
        } else {
            ReleaseUnitLocked(state, header, index, *unitState);
        }
        return;
    }
    unsigned number;
    if (SLargeSpan* span = SpanOfHeader(header, number, index)) {
        // Nothing in a span is judged by its header.
        if (number != kNoArea) {
            ReleaseSpanArea(state, cache, header, *span, number, index);
        }
        return;
    }
    const std::uint16_t marker = ReadWord(header + 2);
    if ((marker & 0x8000u) == 0) {
        ReleaseHeapBlock(state, cache, header);
    } else if (marker == kMarkerInUse) {
        DropBlock(state, cache, header);
    }
    // Anything else was released before or never came from here: ignored.
}

// The calling thread's cache when the allocator is live and the thread has
// one already; null sends the call down the slow path.
inline SThreadCache* ReadyThreadCache(const SAllocatorState& state) {
    // Without a slot no thread has a cache: the value reads null.
    if (g_allocatorPhase.load(std::memory_order_acquire) != kAllocatorLive) {
        return nullptr;
    }
    void* value = sys::GetThreadSlot(state.cacheSlot);
    return reinterpret_cast<std::uintptr_t>(value) > kNoThreadCache
               ? static_cast<SThreadCache*>(value)
               : nullptr;
}

} // namespace

void* OrvexAlloc(unsigned int size, void*) {
    const SAllocatorState& state = g_allocatorState;
    SThreadCache* cache = ReadyThreadCache(state);
    // A pooled size (no overflow: the test bounds size first) with a unit in
    // the bin: pop it.
    if (cache != nullptr && size <= kLargestUnit - kHeaderSize) {
        // An injected fault refuses this request: asking again on the slow
        // path would count a second request and hand the block out anyway.
        if (sys::RefuseMemoryRequest()) {
            return nullptr;
        }
        const unsigned index = (size + kHeaderSize - 1) >> 3;
        SCacheBin& bin = cache->bins[index];
        const unsigned count = bin.count.get();
        if (count != 0) {
            return HandOutCached(bin, index, count - 1);
        }
        return TakeCachedUnit(g_allocatorState, *cache, index);
    }
    return AllocateSlow(size);
}

void OrvexFree(void* block) {
    if (block == nullptr) {
        return;
    }
    const SAllocatorState& state = g_allocatorState;
    SThreadCache* cache = ReadyThreadCache(state);
    unsigned char* header = static_cast<unsigned char*>(block) - kHeaderSize;
    // A unit of a pool page, handed out, and room in its bin: push it. The
    // block is only written, never read.
    unsigned index;
    UnitState* unitState;
    if (cache != nullptr && (unitState = PoolUnitState(header, index)) != nullptr &&
        unitState->load(std::memory_order_relaxed) == kUnitHandedOut) {
        SCacheBin& bin = cache->bins[index];
        const unsigned count = bin.count.get();
        if (count < bin.capacity) {
            PushReleased(bin, count, header, index, *unitState);
            return;
        }
    }
    FreeSlow(block);
}

long long GetTotalAllocSize() {
    SAllocatorState& state = AllocatorManager();
    std::uint64_t total = CachedHandedOutBytes(state);
    for (unsigned k = 0; k <= kClassCount; ++k) {
        total += state.counters[k].get() + state.retired[k].get();
    }
    return static_cast<long long>(total);
}

long long GetTotalMgrSize() {
    const SAllocatorState& state = AllocatorManager();
    long long pages = 0;
    for (const SPoolClass& pool : state.pools) {
        pages += pool.pageCount.get();
    }
    return pages * kPageSize;
}

long long GetFreeMgrSize() {
    SAllocatorState& state = AllocatorManager();
    // Units waiting in thread caches are free too.
    long long free = static_cast<long long>(state.freePageCount.get()) * kPageSize +
                     static_cast<long long>(CachedFreeBytes(state));
    for (const SPoolClass& pool : state.pools) {
        const long long pages = pool.pageCount.get();
        const long long usedUnits = pool.unitsPerPage * pages - pool.freeUnits.get();
        free += kPageSize * pages - static_cast<long long>(pool.unitSize) * usedUnits;
    }
    return free;
}

bool GetAllocStack(unsigned int, void*&, unsigned int&) {
    AllocatorManager();
    return false; // allocation call stacks are not recorded
}
