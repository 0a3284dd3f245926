// One size class: its pages (sorted by address), their free-unit lists and
// the first-fit hint. Every function runs under the class lock.
//
// Page layout: bytes 0-1 hold the page offset of the first free unit (0: none)
// (the free-unit count is the pool's pageFree); units follow from offset 4. A free
// unit keeps the page offset of the next free unit in its last 4 bytes, so the
// block header at its start (and a released block's marker) stays intact.
#include "OrvexCommon/memory/detail/AllocatorChecks.h"
#include "OrvexCommon/memory/detail/AllocatorManager.h"
#include "OrvexCommon/memory/detail/PageHeader.h"
#include "OrvexCommon/memory/detail/PageMap.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <functional>

namespace Orvex {
namespace detail {

namespace {

unsigned IndexOf(const SPoolClass& pool) {
    return pool.unitSize / 8 - 1;
}

// Pushes a unit on its page's free list.
void PushUnit(unsigned char* page, unsigned char* unit, unsigned unitSize) {
    const std::uint32_t next = FirstFree(page);
    std::memcpy(unit + unitSize - 4, &next, 4);
    SetFirstFree(page, static_cast<std::uint16_t>(unit - page));
}

unsigned char* PopUnit(unsigned char* page, unsigned unitSize) {
    unsigned char* unit = page + FirstFree(page);
    SetFirstFree(page, static_cast<std::uint16_t>(NextFree(unit, unitSize)));
    return unit;
}

// A free unit of pages[index] (it has one), off the pool's free counts.
unsigned char* TakeFromPage(SPoolClass& pool, unsigned index) {
    pool.freeUnits.subtract(1);
    --pool.pageFree[index];
    return PopUnit(pool.pages[index], pool.unitSize);
}

// Index at which `page` keeps the array sorted by address.
unsigned InsertionIndex(const SPoolClass& pool, const unsigned char* page) {
    unsigned char** end = pool.pages + pool.pageCount.get();
    // std::less gives a total order even for addresses of unrelated objects.
    return static_cast<unsigned>(
        std::upper_bound(pool.pages, end, page, std::less<const unsigned char*>()) - pool.pages);
}

// Copies `count` entries of `from` to `to` with `value` inserted at `index`.
template <typename T>
void CopyInserting(const T* from, unsigned count, unsigned index, T value, T* to) {
    std::copy(from, from + index, to);
    to[index] = value;
    std::copy(from + index, from + count, to + index + 1);
}

// Replaces the page array (and the takers and free counts after it) by one
// with `page` inserted, its count 0 and no taker; false without memory.
bool InsertPage(SPoolClass& pool, unsigned char* page, unsigned& index) {
    const unsigned count = pool.pageCount.get();
    unsigned char** grown = static_cast<unsigned char**>(sys::AllocateBlock(
        (count + 1) * (sizeof(unsigned char*) + sizeof(const void*) + sizeof(std::uint16_t))));
    if (grown == nullptr) {
        return false;
    }
    auto* grownTakers = static_cast<const void**>(static_cast<void*>(grown + count + 1));
    auto* grownFree = reinterpret_cast<std::uint16_t*>(grownTakers + count + 1);
    index = InsertionIndex(pool, page);
    CopyInserting(pool.pages, count, index, page, grown);
    CopyInserting(pool.pageTakers, count, index, static_cast<const void*>(nullptr), grownTakers);
    CopyInserting(pool.pageFree, count, index, std::uint16_t(0), grownFree);
    sys::FreeBlock(pool.pages);
    pool.pages = grown;
    pool.pageTakers = grownTakers;
    pool.pageFree = grownFree;
    pool.lastPage = kNoHint; // indices move
    return true;
}

// The index of `page` in the pool's array, or -1 when the pool does not own
// it. The page used last is tried before a binary search.
int IndexOfPage(const SPoolClass& pool, const unsigned char* page) {
    const unsigned count = pool.pageCount.get();
    if (pool.lastPage < count && pool.pages[pool.lastPage] == page) {
        return static_cast<int>(pool.lastPage);
    }
    const unsigned index = InsertionIndex(pool, page);
    return index > 0 && pool.pages[index - 1] == page ? static_cast<int>(index - 1) : -1;
}

// Pages are aligned to their size, so the only page that can hold a unit is
// the one its address rounds down to.
const unsigned char* PageOf(const unsigned char* unit) {
    return reinterpret_cast<const unsigned char*>(reinterpret_cast<std::uintptr_t>(unit) &
                                                  ~std::uintptr_t(kPageSize - 1));
}

// The index of the page holding `unit`, or -1 when no page of the pool holds
// it at a unit boundary.
int FindPage(const SPoolClass& pool, const unsigned char* unit) {
    return OnUnitBoundary(IndexOf(pool), unit) ? IndexOfPage(pool, PageOf(unit)) : -1;
}

void RemovePage(SAllocatorState& state, SPoolClass& pool, unsigned index) {
    unsigned char* page = pool.pages[index];
    pool.lastPage = kNoHint; // indices move
    const unsigned count = pool.pageCount.get();
    std::copy(pool.pages + index + 1, pool.pages + count, pool.pages + index);
    std::copy(pool.pageTakers + index + 1, pool.pageTakers + count, pool.pageTakers + index);
    std::copy(pool.pageFree + index + 1, pool.pageFree + count, pool.pageFree + index);
    pool.pageCount.set(count - 1);
    pool.freeUnits.subtract(pool.unitsPerPage);
    ForgetPage(page);
    ReturnPage(state, page);
}

} // namespace

void InitializePool(SPoolClass& pool, unsigned index) {
    pool.unitSize = 8 * (index + 1);
    pool.unitsPerPage = kPageUnitBytes / pool.unitSize;
    pool.pageCount.set(0);
    pool.pages = nullptr;
    pool.pageTakers = nullptr;
    pool.pageFree = nullptr;
    pool.freeUnits.set(0);
    pool.hint = kNoHint;
    pool.lastPage = kNoHint;
    pool.lastRefill = nullptr;
    pool.parkedCount = 0;
}

bool GrowPool(SAllocatorState& state, SPoolClass& pool) {
    unsigned char* page = TakePage(state, pool.unitSize * pool.unitsPerPage + kPageHeaderSize);
    if (page == nullptr) {
        return false;
    }
    if (!RecordPage(page, IndexOf(pool), kUnitReciprocals.values[IndexOf(pool)],
                    pool.unitsPerPage)) {
        ReturnPage(state, page);
        return false;
    }
    unsigned index;
    if (!InsertPage(pool, page, index)) {
        ForgetPage(page);
        ReturnPage(state, page);
        return false;
    }
    SetFirstFree(page, 0);
    pool.pageCount.add(1);
    pool.freeUnits.add(pool.unitsPerPage);
    // Threaded in ascending order, each at the head: the last unit comes first.
    unsigned char* unit = page + kPageHeaderSize;
    for (unsigned k = 0; k < pool.unitsPerPage; ++k, unit += pool.unitSize) {
        PushUnit(page, unit, pool.unitSize);
    }
    pool.pageFree[index] = static_cast<std::uint16_t>(pool.unitsPerPage);
    if (index < pool.hint) {
        pool.hint = index;
    }
    return true;
}

unsigned char* TakeUnit(SAllocatorState& state, SPoolClass& pool) {
    if (pool.freeUnits.get() == pool.parkedCount) { // no unit in the pages
        pool.hint = kNoHint;
        if (!GrowPool(state, pool)) {
            return nullptr;
        }
    }
    const unsigned count = pool.pageCount.get();
    unsigned index = pool.hint;
    while (index < count && pool.pageFree[index] == 0) {
        ++index;
    }
    pool.hint = index;
    if (index >= count) {
        return nullptr; // counts out of step: refuse rather than corrupt
    }
    pool.lastPage = index;
    unsigned char* unit = TakeFromPage(pool, index);
    if (kAllocatorChecks) {
        CheckPage(pool, index);
        CheckPool(pool);
    }
    return unit;
}

namespace {

// The first page with free units that `taker` took from last or no cache
// took from (`own`), and the first with free units at all (`any`); the page
// count where there is none.
struct SPagePick {
    unsigned own;
    unsigned any;
};

SPagePick PickPage(const SPoolClass& pool, const void* taker) {
    const unsigned count = pool.pageCount.get();
    SPagePick pick{count, count};
    for (unsigned index = pool.hint; index < count; ++index) {
        if (pool.pageFree[index] == 0) {
            continue;
        }
        pick.any = std::min(pick.any, index);
        if (pool.pageTakers[index] == taker || pool.pageTakers[index] == nullptr) {
            pick.own = index;
            break;
        }
    }
    return pick;
}

// Whether the class's pages hold more than two pages' worth of free units:
// then a refill takes another thread's page rather than a new one, so that
// the memory a class holds free stays bounded however many threads take.
bool PlentyFree(const SPoolClass& pool) {
    return pool.freeUnits.get() - pool.parkedCount > 2 * pool.unitsPerPage;
}

// Pages a batch takes from at once: each page's free list is a chain of
// links in the units themselves, cold lines read one after the other, so
// the chains of several pages are walked side by side to have their misses
// overlap.
constexpr unsigned kChains = 4;

// Takes up to `wanted` units for `taker` from pages[first] and, when that
// page has too few, from the next pages that are `taker`'s or no cache's:
// as many from each, in page order, as taking them one page after the other
// would, the pops interleaved. Returns how many.
unsigned TakeInterleaved(SPoolClass& pool, unsigned first, unsigned char** units, unsigned wanted,
                         const void* taker) {
    unsigned pages[kChains];
    unsigned quotas[kChains];
    unsigned chains = 0;
    unsigned planned = 0;
    const unsigned count = pool.pageCount.get();
    for (unsigned index = first; index < count && chains < kChains && planned < wanted; ++index) {
        const bool usable =
            index == first || pool.pageTakers[index] == taker || pool.pageTakers[index] == nullptr;
        if (!usable || pool.pageFree[index] == 0) {
            continue;
        }
        pages[chains] = index;
        quotas[chains] = std::min<unsigned>(pool.pageFree[index], wanted - planned);
        planned += quotas[chains++];
        pool.pageTakers[index] = taker;
        pool.lastPage = index;
    }
    unsigned taken = 0;
    while (taken < planned) {
        for (unsigned chain = 0; chain < chains; ++chain) {
            if (quotas[chain] > 0) {
                --quotas[chain];
                units[taken++] = TakeFromPage(pool, pages[chain]);
            }
        }
    }
    if (kAllocatorChecks) {
        for (unsigned chain = 0; chain < chains; ++chain) {
            CheckPage(pool, pages[chain]);
        }
    }
    return taken;
}

} // namespace

// Threads keep to pages of their own, so that no two write the same lines of
// unit states: a refill takes from its own pages, then from a new page, and
// from another thread's pages only when the class has plenty free or no page
// can be had.
unsigned TakeUnits(SAllocatorState& state, SPoolClass& pool, unsigned char** units, unsigned wanted,
                   const void* taker) {
    unsigned taken = 0;
    while (taken < wanted) {
        SPagePick pick = PickPage(pool, taker);
        const unsigned count = pool.pageCount.get();
        if (pick.own >= count) {
            if (taken > 0) {
                break;
            }
            if (!PlentyFree(pool) && GrowPool(state, pool)) {
                pick = PickPage(pool, taker);
            }
        }
        const unsigned index = pick.own < pool.pageCount.get() ? pick.own : pick.any;
        if (index >= pool.pageCount.get()) {
            break; // no page to be had
        }
        taken += TakeInterleaved(pool, index, units + taken, wanted - taken, taker);
        if (kAllocatorChecks) {
            CheckPool(pool);
        }
    }
    return taken;
}

void ForgetTaker(SPoolClass& pool, const void* taker) {
    const unsigned count = pool.pageCount.get();
    std::replace(pool.pageTakers, pool.pageTakers + count, taker,
                 static_cast<const void*>(nullptr));
}

void GiveUnitBack(SAllocatorState& state, SPoolClass& pool, unsigned char* unit) {
    const int found = FindPage(pool, unit);
    if (found < 0) {
        return;
    }
    const unsigned index = static_cast<unsigned>(found);
    unsigned char* page = pool.pages[index];
    pool.lastPage = index;
    PushUnit(page, unit, pool.unitSize);
    ++pool.pageFree[index];
    pool.freeUnits.add(1);
    if (index < pool.hint) {
        pool.hint = index;
    }
    // An empty page goes back to the list once the class holds more than two
    // pages' worth of free units; an emptied class keeps at least one page.
    if (kAllocatorChecks) {
        CheckPage(pool, index);
    }
    if (pool.pageFree[index] == pool.unitsPerPage && pool.freeUnits.get() > 2 * pool.unitsPerPage) {
        RemovePage(state, pool, index);
    }
    if (kAllocatorChecks) {
        CheckPool(pool);
    }
}

} // namespace detail
} // namespace Orvex
