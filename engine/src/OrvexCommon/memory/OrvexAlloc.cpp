// The allocator's exported functions: allocation, release and statistics.
//
// Every block has a 4-byte header in front of its address. A pool block's
// header holds its class index (bytes 0-1) and a marker (bytes 2-3: 0x8000
// while handed out, 0xFFFF once released). A large block's header holds its
// total size (request + 4) as one 32-bit word, whose top bit is always clear:
// bit 15 of bytes 2-3 tells the two kinds apart. Addresses handed out are
// 8-byte aligned: units start 4 bytes into 8-aligned pages, and a large block
// sits 8 bytes into its malloc'd area.
#include "OrvexCommon/memory/OrvexMemory.h"
#include "OrvexCommon/memory/detail/AllocatorChecks.h"
#include "OrvexCommon/memory/detail/AllocatorManager.h"
#include "OrvexCommon/memory/detail/ThreadCache.h"

#include <cstdlib>
#include <cstring>

using namespace Orvex;
using namespace Orvex::detail;

namespace {

constexpr unsigned kHeaderSize = 4;
constexpr unsigned kLargeSlack = 4; // keeps large blocks 8-byte aligned

std::uint16_t ReadWord(const unsigned char* at) {
    std::uint16_t word;
    std::memcpy(&word, at, 2);
    return word;
}

void WritePoolHeader(unsigned char* header, unsigned index, std::uint16_t marker) {
    const std::uint16_t words[2] = {static_cast<std::uint16_t>(index), marker};
    std::memcpy(header, words, 4);
}

void* AllocateLarge(SAllocatorState& state, SThreadCache* cache, std::uint32_t total) {
    sys::ShortLock* lock = state.largeLock.load(std::memory_order_acquire);
    if (lock == nullptr) {
        return nullptr; // after teardown
    }
    // A kept block is a memory request too, as far as fault injection goes.
    const std::uint32_t rounded = RoundedLargeArea(total + kLargeSlack);
    unsigned char* area = cache != nullptr ? TakeKeptLarge(cache->largeBins, rounded) : nullptr;
    if (area != nullptr && sys::RefuseMemoryRequest()) {
        KeepLarge(cache->largeBins, rounded, area);
        return nullptr;
    }
    if (area == nullptr) {
        area = static_cast<unsigned char*>(sys::AllocateBlock(rounded));
        if (area == nullptr) {
            return nullptr;
        }
    }
    unsigned char* header = area + kLargeSlack;
    std::memcpy(header, &total, 4);
    if (cache != nullptr) {
        cache->largeBytes.add(total);
    } else {
        sys::ScopedShortLock hold(lock);
        state.counters[kLargeCounter].add(total);
    }
    return header + kHeaderSize;
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
    }
    WritePoolHeader(unit, index, kMarkerInUse);
    return unit + kHeaderSize;
}

void* AllocateUnit(SAllocatorState& state, SThreadCache* cache, unsigned index) {
    if (cache == nullptr) {
        return AllocateUnitLocked(state, index);
    }
    if (sys::RefuseMemoryRequest()) {
        return nullptr;
    }
    SCacheBin& bin = cache->bins[index];
    unsigned count = bin.count.get();
    if (count == 0) {
        if (!RefillBin(state, *cache, index)) {
            return nullptr;
        }
        count = bin.count.get();
    }
    unsigned char* unit = bin.units[--count];
    if (kAllocatorChecks) {
        CheckCachedUnit(index, unit);
    }
    bin.count.set(count);
    WritePoolHeader(unit, index, kMarkerInUse);
    return unit + kHeaderSize;
}

void ReleaseLarge(SAllocatorState& state, SThreadCache* cache, unsigned char* header) {
    std::uint32_t total;
    std::memcpy(&total, header, 4);
    unsigned char* area = header - kLargeSlack;
    if (cache != nullptr) {
        cache->largeBytes.subtract(total);
        if (KeepLarge(cache->largeBins, RoundedLargeArea(total + kLargeSlack), area)) {
            return;
        }
    } else if (sys::ShortLock* lock = state.largeLock.load(std::memory_order_acquire)) {
        sys::ScopedShortLock hold(lock);
        state.counters[kLargeCounter].subtract(total);
    }
    sys::FreeBlock(area);
}

// The pool under its lock: threads without a cache.
void ReleaseUnitLocked(SAllocatorState& state, unsigned char* header, unsigned index) {
    sys::ShortLock* lock = state.classLocks[index].load(std::memory_order_acquire);
    if (lock == nullptr) {
        return;
    }
    WritePoolHeader(header, index, kMarkerReleased);
    SPoolClass& pool = state.pools[index];
    sys::ScopedShortLock hold(lock);
    state.counters[index].subtract(pool.unitSize);
    GiveUnitBack(state, pool, header);
}

void ReleaseUnit(SAllocatorState& state, SThreadCache* cache, unsigned char* header) {
    const unsigned index = ReadWord(header);
    if (index >= kClassCount) {
        return;
    }
    if (cache == nullptr) {
        ReleaseUnitLocked(state, header, index);
        return;
    }
    WritePoolHeader(header, index, kMarkerReleased);
    // An address whose page is no unit of this class is dropped: marker and
    // count changed (one unit less handed out), never cached.
    if (!IsPoolUnit(index, header)) {
        CCacheChange change(*cache);
        cache->unitsIn[index].subtract(1);
        return;
    }
    SCacheBin& bin = cache->bins[index];
    unsigned count = bin.count.get();
    if (count == bin.capacity) {
        FlushBin(state, *cache, index);
        count = bin.count.get();
    }
    if (kAllocatorChecks) {
        CheckBinPush(bin, header);
    }
    bin.units[count] = header;
    bin.count.set(count + 1);
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
    const std::uint16_t marker = ReadWord(header + 2);
    if ((marker & 0x8000u) == 0) {
        ReleaseLarge(state, cache, header);
    } else if (marker == kMarkerInUse) {
        ReleaseUnit(state, cache, header);
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
    if (cache != nullptr && size <= kLargestUnit - kHeaderSize && !sys::RefuseMemoryRequest()) {
        const unsigned index = (size + kHeaderSize - 1) >> 3;
        SCacheBin& bin = cache->bins[index];
        const unsigned count = bin.count.get();
        if (count != 0) {
            unsigned char* unit = bin.units[count - 1];
            if (kAllocatorChecks) {
                CheckCachedUnit(index, unit);
            }
            bin.count.set(count - 1);
            WritePoolHeader(unit, index, kMarkerInUse);
            return unit + kHeaderSize;
        }
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
    std::uint32_t words;
    std::memcpy(&words, header, 4);
    // Marker 0x8000 over a class index: one compare (little-endian words).
    const std::uint32_t index = words - (std::uint32_t(kMarkerInUse) << 16);
    // A block of a pool page of its class, and room in the bin: push it.
    if (cache != nullptr && index < kClassCount && IsPoolUnit(index, header)) {
        SCacheBin& bin = cache->bins[index];
        const unsigned count = bin.count.get();
        if (count < bin.capacity) {
            if (kAllocatorChecks) {
                CheckBinPush(bin, header);
            }
            WritePoolHeader(header, index, kMarkerReleased);
            bin.units[count] = header;
            bin.count.set(count + 1);
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
