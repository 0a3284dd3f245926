// Per-thread caches in front of the class pools.
//
// Each thread that allocates gets a cache (its storage from the heap, 68 KiB
// on 64-bit targets) holding, per class, a stack of free units and the bytes
// this thread handed out minus those it released. Allocation pops from the
// stack, release pushes on it: no lock. An empty stack is refilled with half
// its capacity from the class pool, a full one gives half back, each under
// the class lock once per batch.
//
// Bounds: a class keeps at most 16 KiB of units per thread, between 8 and 64
// units (64 for units up to 256 bytes, 15 for the largest); all classes
// together at most 1.8 MiB (1 844 344 bytes) per thread. Everything goes back to the pools when
// the thread ends (the platform's thread-exit call) or at teardown.
//
// Invariants:
//   - a unit in a cache carries the released marker (0xFFFF) and its class
//     index, and belongs to a page of that class: it is free for the pool's
//     statistics (GetFreeMgrSize counts it) but in no page's free list;
//   - a unit is in at most one place: a page's free list, one cache, or the
//     caller's hands;
//   - the total handed out is the sum of the three counter sets (see
//     SAllocatorState), exact for the calling thread;
//   - only the owning thread changes its cache, except at teardown; the
//     statistics read the counts and counters of other threads' caches as
//     relaxed atomics, under the cache lock.
//
// A thread whose cache could not be made (no memory) or has ended uses the
// class pools under their locks, as all threads do after teardown.
#ifndef ORVEX_MEMORY_DETAIL_THREADCACHE_H
#define ORVEX_MEMORY_DETAIL_THREADCACHE_H

#include "OrvexCommon/memory/detail/AllocatorManager.h"

namespace Orvex {
namespace detail {

constexpr unsigned kMaxCachedUnits = 64;
constexpr unsigned kCachedBytesPerClass = 16384;

// Units a thread keeps of a class with units of `unitSize` bytes.
constexpr unsigned CacheCapacity(unsigned unitSize) {
    return kCachedBytesPerClass / unitSize > kMaxCachedUnits ? kMaxCachedUnits
           : kCachedBytesPerClass / unitSize < 8             ? 8
                                                             : kCachedBytesPerClass / unitSize;
}

struct SCacheBin {
    TRelaxed<unsigned> count;
    unsigned capacity;
    unsigned char* units[kMaxCachedUnits]; // units[count - 1] is the next to go
};

struct SThreadCache {
    SThreadCache* previous; // the live caches' list, under the cache lock
    SThreadCache* next;
    TRelaxed<std::uint64_t> counters[kClassCount + 1];
    SCacheBin bins[kClassCount];
};

// The calling thread's cache, made on its first call; null when it has none
// (no memory for one, the thread has ended, or the allocator is not live).
SThreadCache* CurrentThreadCache(SAllocatorState& state);

// Fills an empty bin from the class pool; false when the pool has no unit.
bool RefillBin(SAllocatorState& state, unsigned index, SCacheBin& bin);

// Gives the older half of a full bin back to the class pool.
void FlushBin(SAllocatorState& state, unsigned index, SCacheBin& bin);

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
