// The thread caches: making one, batches to and from the pools, thread exit,
// teardown and the sums the statistics need.
#include "OrvexCommon/memory/detail/ThreadCache.h"
#include "OrvexCommon/memory/detail/AllocatorChecks.h"
#include "OrvexCommon/memory/detail/IntrusiveList.h"
#include "OrvexCommon/memory/detail/LargeBlocks.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace Orvex {
namespace detail {

namespace {

// The slot's value for a thread that must not get a cache (again).
void* const kNoCache = reinterpret_cast<void*>(kNoThreadCache);

SThreadCache* MakeCache(SAllocatorState& state) {
    void* storage = sys::AllocateBlock(sizeof(SThreadCache));
    if (storage == nullptr) {
        sys::SetThreadSlot(state.cacheSlot, kNoCache);
        return nullptr;
    }
    auto* cache = new (storage) SThreadCache;
    cache->sequence.store(0, std::memory_order_relaxed);
    for (auto& units : cache->unitsIn) {
        units.set(0);
    }
    cache->largeBytes.set(0);
    for (auto& bin : cache->largeBins) {
        bin.count = 0;
    }
    for (unsigned index = 0; index < kClassCount; ++index) {
        cache->bins[index].count.set(0);
        cache->bins[index].refills = 0;
        cache->bins[index].flushes = 0;
        cache->bins[index].capacity = CacheCapacity(state.pools[index].unitSize);
    }
    {
        sys::ScopedShortLock hold(state.cacheLock);
        LinkFirst(state.caches, cache);
    }
    sys::SetThreadSlot(state.cacheSlot, cache);
    return cache;
}

// Every unit of the cache back to its pool (class locks taken one by one),
// every kept large area back to its span; no page is the cache's any more.
void EmptyCache(SAllocatorState& state, SThreadCache& cache) {
    GiveKeptAreasBack(state, cache);
    CCacheChange change(cache);
    for (unsigned index = 0; index < kClassCount; ++index) {
        SCacheBin& bin = cache.bins[index];
        const unsigned count = bin.count.get();
        sys::ShortLock* lock = state.classLocks[index].load(std::memory_order_acquire);
        sys::ScopedShortLock hold(lock);
        // The cache's pages are anyone's from now on.
        ForgetTaker(state.pools[index], &cache);
        for (unsigned k = 0; k < count; ++k) {
            GiveUnitBack(state, state.pools[index], bin.units[k].header);
        }
        cache.unitsIn[index].subtract(count);
        bin.count.set(0);
    }
}

// Cache lock held: the cache's counters join the retired ones.
void RetireCounters(SAllocatorState& state, const SThreadCache& cache) {
    for (unsigned k = 0; k <= kClassCount; ++k) {
        state.retired[k].add(CacheHandedOut(cache, k));
    }
}

// Whether a bin gives back mostly what other threads took: it flushed more
// than twice as often as it refilled, of late (the counts halve now and
// then). Only such a bin parks: a thread that takes and gives back as much
// as it releases keeps its units to its own pages, whose unit states no
// other thread then writes.
bool MostlyReleases(SCacheBin& bin) {
    if (bin.flushes + bin.refills >= 1024) {
        bin.flushes /= 2;
        bin.refills /= 2;
    }
    return bin.flushes > 2 * bin.refills;
}

// Parks `count` units given back by `cache` when another cache took from the
// class last and there is room; false leaves them to the caller. Class lock
// held.
bool Park(SPoolClass& pool, const SThreadCache& cache, const SCachedUnit* units, unsigned count) {
    if (pool.lastRefill == &cache || pool.parkedCount + count > kMaxParkedUnits) {
        return false;
    }
    for (unsigned k = 0; k < count; ++k) {
        pool.parked[pool.parkedCount + k] = units[k].header;
    }
    pool.parkedCount += count;
    pool.freeUnits.add(count);
    return true;
}

// Up to `wanted` parked units, the last parked first. Class lock held.
unsigned TakeParked(SPoolClass& pool, unsigned char** units, unsigned wanted) {
    const unsigned taken = std::min(wanted, pool.parkedCount);
    pool.parkedCount -= taken;
    std::copy(pool.parked + pool.parkedCount, pool.parked + pool.parkedCount + taken, units);
    pool.freeUnits.subtract(taken);
    return taken;
}

// Fills `bin` with `taken` units from the pool, handed out in the order the
// pool gave them (the first taken goes first), each with its state byte.
void FillBin(SCacheBin& bin, unsigned index, unsigned char* const* taken, unsigned count) {
    for (unsigned k = 0; k < count; ++k) {
        unsigned char* header = taken[count - 1 - k];
        bin.units[k] = {header, &StateOfUnit(index, header)};
    }
}

// Thread-exit releases under way. A thread may end while the process exits:
// it counts itself in before it reads the phase, and teardown changes the
// phase before it reads the count, so one of the two sees the other (both
// sequentially consistent) and the cache goes back once, by one of them.
std::atomic<unsigned> g_exitReleases{0};

// Teardown waits this long at most for a release under way (a thread
// suspended, or ended by force, inside one would otherwise hold it for ever).
constexpr unsigned kExitReleaseWaitMilliseconds = 1000;

void ReturnWholeCache(SAllocatorState& state, SThreadCache* cache) {
    EmptyCache(state, *cache);
    {
        sys::ScopedShortLock hold(state.cacheLock);
        RetireCounters(state, *cache);
        Unlink(state.caches, cache);
    }
    // What this thread still frees or takes goes straight to the pools.
    sys::SetThreadSlot(state.cacheSlot, kNoCache);
    cache->~SThreadCache();
    sys::FreeBlock(cache);
}

// The thread-exit call: the ending thread's cache goes back whole.
void ReleaseThreadCache(void* value) {
    // A thread ended by force may have been stopped inside its cache's
    // bookkeeping, and its way out may not free: the cache stays linked, as it
    // is, and teardown takes it back with the others.
    if (value == kNoCache || value == nullptr || sys::ThreadEndedByForce()) {
        return;
    }
    g_exitReleases.fetch_add(1);
    // After teardown the caches are gone (Windows calls this for every live
    // thread's value while the slot is freed).
    if (g_allocatorPhase.load() == kAllocatorLive) {
        ReturnWholeCache(g_allocatorState, static_cast<SThreadCache*>(value));
    }
    g_exitReleases.fetch_sub(1, std::memory_order_release);
}

void WaitForExitReleases() {
    for (unsigned waited = 0; g_exitReleases.load() != 0 && waited < kExitReleaseWaitMilliseconds;
         ++waited) {
        sys::SleepMilliseconds(1);
    }
}

// The cache's share of the bytes handed out, read between two equal even
// sequence numbers: no slow-path change of its owner half seen.
std::uint64_t HandedOutBySnapshot(const SThreadCache& cache) {
    for (;;) {
        const unsigned before = cache.sequence.load(std::memory_order_acquire);
        if ((before & 1) != 0) {
            sys::SleepMilliseconds(0);
            continue;
        }
        std::uint64_t total = 0;
        for (unsigned k = 0; k <= kClassCount; ++k) {
            total += CacheHandedOut(cache, k);
        }
        // A read-modify-write that changes nothing: the reads above cannot
        // move after it, as they could after a plain load.
        if (cache.sequence.fetch_add(0, std::memory_order_acq_rel) == before) {
            return total;
        }
    }
}

} // namespace

SThreadCache* CurrentThreadCache(SAllocatorState& state) {
    if (state.cacheSlot == nullptr) {
        return nullptr;
    }
    void* value = sys::GetThreadSlot(state.cacheSlot);
    if (value == nullptr) {
        return MakeCache(state);
    }
    return value == kNoCache ? nullptr : static_cast<SThreadCache*>(value);
}

bool RefillBin(SAllocatorState& state, SThreadCache& cache, unsigned index) {
    SCacheBin& bin = cache.bins[index];
    ++bin.refills;
    sys::ShortLock* lock = state.classLocks[index].load(std::memory_order_acquire);
    unsigned char* units[kMaxCachedUnits / 2];
    unsigned taken;
    {
        sys::ScopedShortLock hold(lock);
        SPoolClass& pool = state.pools[index];
        pool.lastRefill = &cache;
        taken = pool.parkedCount > 0 ? TakeParked(pool, units, bin.capacity / 2)
                                     : TakeUnits(state, pool, units, bin.capacity / 2, &cache);
        if (kAllocatorChecks) {
            CheckPool(pool);
        }
    }
    FillBin(bin, index, units, taken);
    CCacheChange change(cache);
    cache.unitsIn[index].add(taken);
    bin.count.set(taken);
    return taken > 0;
}

void FlushBin(SAllocatorState& state, SThreadCache& cache, unsigned index) {
    SCacheBin& bin = cache.bins[index];
    const unsigned count = bin.count.get();
    const unsigned half = count / 2;
    ++bin.flushes;
    sys::ShortLock* lock = state.classLocks[index].load(std::memory_order_acquire);
    {
        sys::ScopedShortLock hold(lock);
        SPoolClass& pool = state.pools[index];
        if (!MostlyReleases(bin) || !Park(pool, cache, bin.units, half)) {
            for (unsigned k = 0; k < half; ++k) {
                GiveUnitBack(state, pool, bin.units[k].header);
            }
        }
        if (kAllocatorChecks) {
            CheckPool(pool);
        }
    }
    // The units released last stay: they are the ones in the processor's cache.
    std::memmove(bin.units, bin.units + half, (count - half) * sizeof(bin.units[0]));
    CCacheChange change(cache);
    cache.unitsIn[index].subtract(half);
    bin.count.set(count - half);
}

void StartThreadCaches(SAllocatorState& state) {
    state.caches = nullptr;
    for (auto& counter : state.retired) {
        counter.set(0);
    }
    state.cacheLock = sys::CreateShortLock();
    // Without a lock or a slot every thread uses the pools directly.
    state.cacheSlot =
        state.cacheLock != nullptr ? sys::CreateThreadSlot(ReleaseThreadCache) : nullptr;
}

// The phase is torn down already. The slot pointer stays as it is: a thread
// that read the phase just before reads it.
void StopThreadCaches(SAllocatorState& state) {
    if (state.cacheLock == nullptr) {
        return;
    }
    WaitForExitReleases();
    sys::DestroyThreadSlot(state.cacheSlot);
    sys::ScopedShortLock hold(state.cacheLock);
    while (SThreadCache* cache = state.caches) {
        EmptyCache(state, *cache);
        RetireCounters(state, *cache);
        Unlink(state.caches, cache);
        cache->~SThreadCache();
        sys::FreeBlock(cache);
    }
}

namespace {

// The sum of `share` over the live caches, under the cache lock.
template <typename Share> std::uint64_t SumOverCaches(SAllocatorState& state, Share share) {
    std::uint64_t total = 0;
    if (state.cacheLock == nullptr) {
        return total;
    }
    sys::ScopedShortLock hold(state.cacheLock);
    for (const SThreadCache* cache = state.caches; cache != nullptr; cache = cache->next) {
        total += share(*cache);
    }
    return total;
}

} // namespace

std::uint64_t CachedHandedOutBytes(SAllocatorState& state) {
    return SumOverCaches(state, HandedOutBySnapshot);
}

std::uint64_t CachedFreeBytes(SAllocatorState& state) {
    return SumOverCaches(state, [&state](const SThreadCache& cache) {
        std::uint64_t bytes = 0;
        for (unsigned index = 0; index < kClassCount; ++index) {
            bytes += std::uint64_t(cache.bins[index].count.get()) * state.pools[index].unitSize;
        }
        return bytes;
    });
}

} // namespace detail
} // namespace Orvex
