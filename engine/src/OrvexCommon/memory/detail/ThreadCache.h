// Per-thread caches in front of the class pools.
//
// Each thread that allocates gets a cache (its storage from the heap, 266 KiB
// on 64-bit targets, resident as far as its bins were ever filled) holding, per class, a stack of
// free units. Allocation pops from the stack, release pushes on it: no lock, and no counter either.
// What the thread handed out and did not release follows from the stack: of
// a class, the units that came into the thread's stack from the pool, less
// those it gave back, less those still on the stack (`unitsIn` - count); only
// the slow paths (refill, flush, a dropped release) change `unitsIn`, inside
// a change of the cache's sequence number, so that another thread reading a
// count and its `unitsIn` sees either all of a change or none. Large blocks
// add to and take from `largeBytes`, one value that only the owner writes: it
// needs no sequence change, whose locked instructions would wait for the new
// block's header store to reach memory. An empty stack is refilled with half
// its capacity from the class pool, a full one gives half back, each under
// the class lock once per batch. A refill keeps to the thread's own pages
// (those its cache took from last, or none took from), then a new page, and
// takes another thread's page only when the class's pages hold more than two
// pages' worth of free units or no page can be had: no two threads then
// write the same line of unit states (PageMap.h). The pages of a cache that
// goes back become no cache's. A flush parks its
// half in the class instead (up to 128 units) when the bin mostly releases
// (more than twice as many flushes as refills, of late) and another thread's
// cache was the last to refill from it: blocks flowing from one thread to
// another then move as pointers, and the pages' free lists (threaded through
// the units themselves, whose lines sit in the other processor's cache) are
// left out of the way. A thread that takes as much as it releases never
// parks: its units stay in its own pages.
//
// Bounds: a class keeps at most 32 KiB of units per thread, between 8 and
// 128 units (128 for units up to 256 bytes, 31 for the largest); all classes
// together at most 3.6 MiB (3 724 040 bytes) per thread. A bin half that
// size made twice as many batches under the class lock (a random walk
// reaches its ends in about capacity^2 / 4 steps), which cost two threads
// churning at once a sixth of their speed. Everything goes back to the
// pools when the thread ends (the platform's thread-exit call) or at
// teardown.
//
// Invariants:
//   - a unit in a cache carries the released marker (0xFFFF) and its class
//     index, belongs to a page of that class, reads free in the page's unit
//     states and is cached with the address of its state byte: it is free for the pool's
//     statistics (GetFreeMgrSize counts it) but in no page's free list;
//   - a unit is in at most one place: a page's free list, one cache, its
//     class's parked units, or the caller's hands; parked units are marked
//     released and count as free like cached ones;
//   - the total handed out is the sum of the allocator's two counter sets
//     (see SAllocatorState) and every live cache's share, exact for the
//     calling thread;
//   - only the owning thread changes its cache, except at teardown; the
//     statistics read other threads' caches as relaxed atomics, under the
//     cache lock, retrying while a change is under way.
//
// A thread whose cache could not be made (no memory) or has ended uses the
// class pools under their locks, as all threads do after teardown.
#ifndef ORVEX_MEMORY_DETAIL_THREADCACHE_H
#define ORVEX_MEMORY_DETAIL_THREADCACHE_H

#include "OrvexCommon/memory/detail/AllocatorManager.h"
#include "OrvexCommon/memory/detail/LargeBins.h"

namespace Orvex {
namespace detail {

constexpr unsigned kMaxCachedUnits = 128;
// The thread-slot value of a thread that has no cache and gets none (no
// memory for it, or it has ended); null means not made yet.
constexpr std::uintptr_t kNoThreadCache = 1;
constexpr unsigned kCachedBytesPerClass = 32768;

// Units a thread keeps of a class with units of `unitSize` bytes.
constexpr unsigned CacheCapacity(unsigned unitSize) {
    return kCachedBytesPerClass / unitSize > kMaxCachedUnits ? kMaxCachedUnits
           : kCachedBytesPerClass / unitSize < 8             ? 8
                                                             : kCachedBytesPerClass / unitSize;
}

// A cached unit with its state byte, found once when it entered the cache.
struct SCachedUnit {
    unsigned char* header;
    UnitState* state;
};

struct SCacheBin {
    TRelaxed<unsigned> count;
    unsigned capacity;
    unsigned refills; // of late (they halve with the flushes): see FlushBin
    unsigned flushes;
    SCachedUnit units[kMaxCachedUnits]; // units[count - 1] is the next to go
};

struct SThreadCache {
    SThreadCache* previous; // the live caches' list, under the cache lock
    SThreadCache* next;
    mutable std::atomic<unsigned> sequence;       // odd while a slow path changes unitsIn
    TRelaxed<std::uint64_t> unitsIn[kClassCount]; // modulo 2^64
    TRelaxed<std::uint64_t> largeBytes;           // modulo 2^64, the owner's alone
    SCacheBin bins[kClassCount];
    SLargeBin largeBins[kLargeBinCount]; // released large blocks kept for reuse
};

// A change of `unitsIn` (with its bin's count) by the owner, for its lifetime.
class CCacheChange {
public:
    // Read-modify-writes rather than fences (which thread sanitizers do not
    // model): nothing after the opening moves before it, nothing before the
    // closing moves after it.
    explicit CCacheChange(SThreadCache& cache) : m_cache(cache) {
        m_cache.sequence.fetch_add(1, std::memory_order_acq_rel);
    }
    ~CCacheChange() { m_cache.sequence.fetch_add(1, std::memory_order_release); }
    CCacheChange(const CCacheChange&) = delete;
    CCacheChange& operator=(const CCacheChange&) = delete;

private:
    SThreadCache& m_cache;
};

// Bytes of class `index` (kLargeCounter: large blocks) that the cache's thread
// handed out and did not release, modulo 2^64. Exact on the owning thread.
inline std::uint64_t CacheHandedOut(const SThreadCache& cache, unsigned index) {
    if (index == kLargeCounter) {
        return cache.largeBytes.get();
    }
    return (cache.unitsIn[index].get() - cache.bins[index].count.get()) * (8 * (index + 1));
}

// The calling thread's cache, made on its first call; null when it has none
// (no memory for one, the thread has ended, or the allocator is not live).
SThreadCache* CurrentThreadCache(SAllocatorState& state);

// Fills an empty bin from the class pool; false when the pool has no unit.
bool RefillBin(SAllocatorState& state, SThreadCache& cache, unsigned index);

// Gives the older half of a full bin back to the class pool.
void FlushBin(SAllocatorState& state, SThreadCache& cache, unsigned index);

// Sets up the thread-exit call (at build).
void StartThreadCaches(SAllocatorState& state);

// At teardown: no more exit calls; every cache's counters kept in `retired`,
// its units given back and its storage freed.
void StopThreadCaches(SAllocatorState& state);

// Sums over the live caches, under the cache lock: bytes handed out, and
// bytes of units waiting in caches.
std::uint64_t CachedHandedOutBytes(SAllocatorState& state);
std::uint64_t CachedFreeBytes(SAllocatorState& state);

} // namespace detail
} // namespace Orvex

#endif // ORVEX_MEMORY_DETAIL_THREADCACHE_H
