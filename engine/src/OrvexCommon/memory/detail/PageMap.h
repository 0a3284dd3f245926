// Which class owns each pool page, and which of the page's units are handed
// out, readable without a lock, so that a release finds its block's class and
// state without reading the block (a cold line in a large live set).
//
// Two levels over page numbers (address / 8 KiB): a root of leaves, each leaf
// one record pointer per page for 1 GiB of address space (2^17 pages; the
// leaf is zero-filled heap memory, resident only where pages were used). A
// leaf is made when the first region in its gigabyte is obtained (under the
// page-list lock), published with a release store and kept until teardown.
//
// Span pages (large blocks, LargeSpans.h) carry a span class and point at
// their span's record instead of unit states.
//
// A page that joins a class gets its unit states (heap memory outside the
// page, one byte per unit), published in its slot with the class index and
// the reciprocal of the unit size under the class lock; a release reads all
// three from one slot. The page leaves the class with every unit free, and
// its slot is cleared before the states are freed. A unit's state byte reads
// kUnitHandedOut from the moment it leaves its thread cache or pool until its
// release, kUnitFree otherwise. Bytes of different units are distinct
// objects, so threads releasing units of one page need no lock between them.
//
// Readers need no ordering beyond acquire loads of the states pointer: a
// block reaches another thread's release only after it was handed out, which
// was after its page joined the class.
#ifndef ORVEX_MEMORY_DETAIL_PAGEMAP_H
#define ORVEX_MEMORY_DETAIL_PAGEMAP_H

#include <atomic>
#include <cstdint>

namespace Orvex {
namespace detail {

constexpr unsigned kPageShift = 13;
constexpr unsigned kLeafBits = 17;
// User addresses stay below 2^47 on 64-bit targets (the regions come from the
// system's ordinary mappings); a region above is refused.
constexpr unsigned kAddressBits = sizeof(void*) == 8 ? 47 : 32;
constexpr unsigned kRootBits = kAddressBits - kPageShift - kLeafBits;

// Class indices in slots: pool classes below kClassCount, span classes
// (LargeSpans.h) from there.
constexpr unsigned kClassCount = 130;

constexpr std::uint8_t kUnitFree = 0;
constexpr std::uint8_t kUnitHandedOut = 1;

typedef std::atomic<std::uint8_t> UnitState;

// 2^32 / size, rounded up: an offset below 2^32 / size times this, shifted
// right by 32, is the offset divided by the size, exactly (the rounding
// error times the offset stays below 2^32).
constexpr std::uint32_t CeilReciprocal(std::uint32_t size) {
    return static_cast<std::uint32_t>(((std::uint64_t(1) << 32) + size - 1) / size);
}

// The page's entry in its leaf.
struct SPageSlot {
    std::atomic<UnitState*> states; // null: no class owns the page
    std::atomic<std::uint32_t> classIndex;
    // CeilReciprocal(unit size): exact for offsets inside the page.
    std::atomic<std::uint32_t> reciprocal;
};

extern std::atomic<SPageSlot*> g_pageMapRoot[std::size_t(1) << kRootBits];

// The slot of the page at `page` (any address inside it), or null when no
// region was ever recorded in its gigabyte.
inline const SPageSlot* PageSlot(const void* page) {
    const std::uintptr_t number = reinterpret_cast<std::uintptr_t>(page) >> kPageShift;
    const std::uintptr_t root = number >> kLeafBits;
    if (root >= (std::uintptr_t(1) << kRootBits)) {
        return nullptr;
    }
    const SPageSlot* leaf = g_pageMapRoot[root].load(std::memory_order_acquire);
    return leaf == nullptr ? nullptr : leaf + (number & ((std::uintptr_t(1) << kLeafBits) - 1));
}

// The slot of a page known to be mapped (one of a class's pages).
inline const SPageSlot& MappedPageSlot(const void* page) {
    const std::uintptr_t number = reinterpret_cast<std::uintptr_t>(page) >> kPageShift;
    return g_pageMapRoot[number >> kLeafBits].load(
        std::memory_order_acquire)[number & ((std::uintptr_t(1) << kLeafBits) - 1)];
}

// Makes sure the region's gigabyte has a leaf; false when it cannot (no memory,
// or an address beyond the map). Page-list lock held.
bool MapRegion(const void* region, unsigned size);

// A page of a mapped region joins class `classIndex` with `unitCount` units
// all free; false without memory for their states.
// Class lock held.
// `reciprocal` as in SPageSlot.
bool RecordPage(const void* page, unsigned classIndex, std::uint32_t reciprocal,
                unsigned unitCount);

// The page leaves its class (every unit free); its states are freed. Class
// lock held.
void ForgetPage(const void* page);

// Every page of the span of `size` bytes at `base` (in a mapped region) joins
// span class `classIndex`, its slot's record pointer set to `span`. The bin's
// lock held.
void RecordSpan(const void* base, unsigned size, unsigned classIndex, std::uint32_t reciprocal,
                void* span);

// Gives back every leaf, at teardown, after every page was forgotten.
void ReleasePageMap();

} // namespace detail
} // namespace Orvex

#endif // ORVEX_MEMORY_DETAIL_PAGEMAP_H
