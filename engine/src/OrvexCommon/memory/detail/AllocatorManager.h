// The allocator manager: 130 pools of fixed-size units cut from 8 KiB pages,
// pages cut from 64 KiB regions, and the large-block path through malloc.
//
// Glossary
//   unit      one fixed-size slot of a pool; a block is a unit (or a malloc'd
//             large block) with its 4-byte header in front of the address
//             handed out
//   page      8192 bytes, 8192-aligned; 4-byte page header, then the units
//   region    65536 bytes from the operating system, cut into 8 pages
//   hint      index of the lowest page of a pool that may have a free unit
//
// Classes: unit size 8 x (c + 1) for class c, floor(8184 / unit) units per
// page; every class starts with one page (130 pages from 17 regions, 6 left
// over).
//
// Page layout: a 4-byte page header (16-bit page offset of the first free
// unit, 0 meaning none; 16-bit free count), units from offset 4. A free
// unit's link (the page offset of the next free unit) sits in its last 4
// bytes, so its block header, and the 0xFFFF marker of a released block,
// stay intact. A block's address is 4 bytes past its unit, hence 8-byte
// aligned. While a page lies on the free-page list, its first bytes hold the
// link.
//
// Large blocks: an area of request + 8 bytes, rounded up to its bin up to
// 64 KiB (LargeBins.h) and cut from a span of the allocator's own
// (LargeSpans.h), or malloc'd above that; the 4-byte size header at offset
// 4, the address at offset 8 (8-byte aligned). Released areas are kept per
// thread for reuse.
//
// Regions: 64 KiB, 8 KiB aligned (VirtualAlloc; on Linux an mmap of 72 KiB
// trimmed to an aligned 64 KiB). When the system has no region to give, the
// pool path returns null and TOrvexAllocator throws std::bad_alloc. Regions
// are kept while the library lives; a teardown with no block held gives them
// all back (ReturnAllRegions, StopSpans).
//
// Release first asks the page map (PageMap.h, no lock) whether the address
// is a unit of a pool page: the page's record gives the class and the unit's
// state byte, so the block itself is not read. A unit handed out is released
// (its marker written); a free one (released before, or never handed out) is
// ignored. An address in a span is released when it is a handed-out area's,
// from the span's record, and ignored otherwise. Any other address is judged
// by its header: a heap block's size word, or a marker and class index on memory that is no unit of
// a page of that class, which is dropped after its marker and its class's count change and never
// reaches a free list or a cache; anything else is ignored.
//
// Thread caches (ThreadCache.h) stand in front of the pools: most calls take
// no lock at all. The page lookup under the class lock (binary search of the
// class's sorted page array, the page used last first) serves the batches
// that go back to the pools.
//
// Locks: one per class, one per large bin, one for the page list (which
// also guards the spans on no bin), one for the large counter, one for the
// list of thread caches; the cache-list lock may be held while a class or
// bin lock is taken, a class or bin lock while the page-list lock is taken,
// never the reverse.
// Counters, page and free-unit counts are relaxed atomics written under those
// locks, so the statistics read them without a lock and without a data race.
//
// Memory faults: every pooled block and region asks sys::RefuseMemoryRequest()
// first, and the large blocks, page arrays and locks come from
// sys::AllocateBlock, which asks too (see OrvexSys.h).
#ifndef ORVEX_MEMORY_DETAIL_ALLOCATORMANAGER_H
#define ORVEX_MEMORY_DETAIL_ALLOCATORMANAGER_H

#include "OrvexCommon/memory/detail/LargeSpans.h"
#include "OrvexCommon/memory/detail/PageMap.h"
#include "OrvexCommon/platform/OrvexSys.h"

#include <atomic>
#include <cstdint>

namespace Orvex {
namespace detail {

constexpr unsigned kLargeCounter = kClassCount; // index of the large-block counter
constexpr unsigned kPageSize = 8192;
constexpr unsigned kRegionSize = 65536;
constexpr unsigned kPageHeaderSize = 4;
constexpr unsigned kPageUnitBytes = 8184; // units per page = kPageUnitBytes / unit size
constexpr unsigned kLargestUnit = 8 * kClassCount;
constexpr unsigned kNoHint = ~0u;

// Block header words (the 4 bytes in front of every address handed out).
constexpr std::uint16_t kMarkerInUse = 0x8000;
constexpr std::uint16_t kMarkerReleased = 0xFFFF;

// A value written under a lock and read without one by the statistics.
// Trivially constructible, so the state below needs no dynamic initialiser.
template <typename T> class TRelaxed {
public:
    T get() const { return m_value.load(std::memory_order_relaxed); }
    void set(T value) { m_value.store(value, std::memory_order_relaxed); }
    void add(T delta) { set(get() + delta); }
    void subtract(T delta) { set(get() - delta); }

private:
    std::atomic<T> m_value;
};

constexpr unsigned kMaxParkedUnits = 128;

// The pool record of one size class; guarded by its class lock. One cache
// line each, so that threads working on different classes do not share one.
struct alignas(64) SPoolClass {
    unsigned unitSize;
    unsigned unitsPerPage;
    TRelaxed<unsigned> pageCount;
    unsigned char** pages; // ascending addresses, from malloc
    // The cache that took units from pages[k] last (null: none yet), in the
    // same block after the pages: refills keep to their own pages. Compared,
    // never followed: a cache that ended leaves its address behind.
    const void** pageTakers;
    // Free units of pages[k] (the length of its free list), in the same
    // block after the pages: the first-fit scan reads this array rather than
    // one page header per page (headers that all share a few cache sets).
    std::uint16_t* pageFree;
    TRelaxed<unsigned> freeUnits; // in the pages' free lists and parked
    unsigned hint;
    unsigned lastPage; // index of the page last used: releases mostly hit it
    // Units one thread's cache gave back while another thread's cache was the
    // last to take from the class: parked here as they are (marked released,
    // in no page's free list) for that thread's next refill, so that blocks
    // flowing from one thread to another skip the pages' free lists, which
    // would touch every unit on both sides. A thread alone never parks.
    const void* lastRefill; // the cache that took from the class last
    unsigned parkedCount;
    unsigned char* parked[kMaxParkedUnits];
};

// The manager's whole state: trivially constructible, so a static instance is
// zero-initialised before any code runs, and never destroyed: after teardown
// it stays readable with its locks null, so pool requests and large requests
// return null and pool releases do nothing; large releases still give the
// memory back to malloc, uncounted.
struct SThreadCache;

struct SAllocatorState {
    SPoolClass pools[kClassCount];
    sys::ShortLock* pageListLock;
    std::atomic<sys::ShortLock*> classLocks[kClassCount];
    std::atomic<sys::ShortLock*> largeLock; // over the large counter
    SLargeClass largeClasses[kLargeBinCount];
    // Spans on no bin (page-list lock): free ones still resident, newest
    // first, linked both ways; purged ones.
    SLargeSpan* freeSpans;
    SLargeSpan* oldestFreeSpan;
    TRelaxed<unsigned> freeSpanCount;
    SLargeSpan* spareSpans;
    SLargeSpan* allSpans; // every span, by nextOfAll (page-list lock)
    // Bytes handed out and not released, counted in three places that add up
    // to the total: here for calls that bypass the thread caches (under the
    // class lock, or the large-block lock), in each live thread cache, and in
    // `retired` for the caches of threads that ended (under the cache lock).
    // Each is modulo 2^64: a block released on another thread than the one
    // that took it makes one part go below zero.
    TRelaxed<std::uint64_t> counters[kClassCount + 1];
    TRelaxed<std::uint64_t> retired[kClassCount + 1];
    unsigned char* freePageHead;
    TRelaxed<unsigned> freePageCount;
    // The live thread caches, linked, and the lock over that list.
    sys::ShortLock* cacheLock;
    SThreadCache* caches;
    sys::ThreadSlot* cacheSlot; // null: no thread caches at all
};

extern SAllocatorState g_allocatorState;

// Unbuilt until first use, live until teardown, then torn down for good.
enum EAllocatorPhase : unsigned char { kAllocatorUnbuilt, kAllocatorLive, kAllocatorTornDown };
extern std::atomic<unsigned char> g_allocatorPhase;

// Builds the manager (once) and registers its teardown with the runtime's
// exit list at that moment.
void BuildAllocatorManager();

// The manager, created on first use by whichever path reaches it first
// (OrvexAlloc, OrvexFree, the statistics, and the frame's memory-map registry
// at load, which must create it explicitly because an empty map allocates
// nothing). The test of the flag is inlined: every allocation and release
// passes here.
inline SAllocatorState& AllocatorManager() {
    if (g_allocatorPhase.load(std::memory_order_acquire) == kAllocatorUnbuilt) {
        BuildAllocatorManager();
    }
    return g_allocatorState;
}

// ---- Pools (PoolClass.cpp); the class lock is held by the caller ----

// Sets up an empty pool for class `index`.
void InitializePool(SPoolClass& pool, unsigned index);

// Adds one page to the pool; false when no page can be had.
bool GrowPool(SAllocatorState& state, SPoolClass& pool);

// Takes a unit (address-ordered first fit); null when no page can be had.
unsigned char* TakeUnit(SAllocatorState& state, SPoolClass& pool);

// Takes up to `wanted` units into `units` for the cache `taker`, from its own
// pages first (see PickPage), adding a page only when the pool has no free
// unit; returns how many it took (0: no page to be had).
unsigned TakeUnits(SAllocatorState& state, SPoolClass& pool, unsigned char** units, unsigned wanted,
                   const void* taker);

// The pages `taker` (a cache that ends) took from last become no cache's.
void ForgetTaker(SPoolClass& pool, const void* taker);

// Per class, the reciprocal of the unit size that SPageSlot keeps.
struct SUnitReciprocals {
    std::uint32_t values[kClassCount];
    constexpr SUnitReciprocals() : values() {
        for (unsigned index = 0; index < kClassCount; ++index) {
            values[index] = CeilReciprocal(8 * (index + 1));
        }
    }
};
inline constexpr SUnitReciprocals kUnitReciprocals{};

constexpr unsigned kNoUnit = ~0u;

// The number of the unit of class `index` that starts at `unit` inside its
// page's unit area, or kNoUnit when `unit` is on no unit boundary there;
// `reciprocal` is the class's.
inline unsigned UnitNumber(unsigned index, std::uint32_t reciprocal, const unsigned char* unit) {
    const unsigned unitSize = 8 * (index + 1);
    const std::uint32_t distance =
        static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(unit) & (kPageSize - 1));
    const std::uint32_t unitOffset = distance - kPageHeaderSize; // wraps when inside the header
    const auto number = static_cast<std::uint32_t>((std::uint64_t(unitOffset) * reciprocal) >> 32);
    return unitOffset <= kPageUnitBytes - unitSize && number * unitSize == unitOffset ? number
                                                                                      : kNoUnit;
}

inline bool OnUnitBoundary(unsigned index, const unsigned char* unit) {
    return UnitNumber(index, kUnitReciprocals.values[index], unit) != kNoUnit;
}

// The state byte of `unit` when it is a unit of a pool page, its class in
// `index`; null otherwise. One slot of the page map read, no lock.
inline UnitState* PoolUnitState(const unsigned char* unit, unsigned& index) {
    const SPageSlot* slot = PageSlot(unit);
    if (slot == nullptr) {
        return nullptr;
    }
    UnitState* states = slot->states.load(std::memory_order_acquire);
    if (states == nullptr) {
        return nullptr;
    }
    index = slot->classIndex.load(std::memory_order_relaxed);
    if (index >= kClassCount) {
        return nullptr; // a span's page
    }
    const unsigned number =
        UnitNumber(index, slot->reciprocal.load(std::memory_order_relaxed), unit);
    return number == kNoUnit ? nullptr : states + number;
}

// The state byte of a unit known to be one of a page of class `index` (taken
// from a cache or the class pool).
inline UnitState& StateOfUnit(unsigned index, const unsigned char* unit) {
    const std::uint32_t unitOffset =
        static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(unit) & (kPageSize - 1)) -
        kPageHeaderSize;
    const auto number = static_cast<std::uint32_t>(
        (std::uint64_t(unitOffset) * kUnitReciprocals.values[index]) >> 32);
    return MappedPageSlot(unit).states.load(std::memory_order_acquire)[number];
}

// True when `unit` is a unit of a page of class `index`. No lock.
inline bool IsPoolUnit(unsigned index, const unsigned char* unit) {
    unsigned owner;
    return PoolUnitState(unit, owner) != nullptr && owner == index;
}

// Gives a unit back to its page, returning the page to the free-page list when
// the pool holds more than two pages' worth of free units. A unit that lies in
// no page of the pool, or off a unit boundary, is dropped.
void GiveUnitBack(SAllocatorState& state, SPoolClass& pool, unsigned char* unit);

// ---- The free-page list (PageSupply.cpp); takes the page-list lock ----

// A page from the list, refilled from a new region when empty; null when the
// operating system has no region to give. Throws (after a log line) when
// asked for more than a page holds.
unsigned char* TakePage(SAllocatorState& state, unsigned bytesNeeded);

void ReturnPage(SAllocatorState& state, unsigned char* page);

// At teardown, once every page is back on the list and no block is held:
// gives every region back to the operating system and empties the list.
// Without memory to sort the pages, or with a page missing, the regions stay
// (false).
bool ReturnAllRegions(SAllocatorState& state);

} // namespace detail
} // namespace Orvex

#endif // ORVEX_MEMORY_DETAIL_ALLOCATORMANAGER_H
