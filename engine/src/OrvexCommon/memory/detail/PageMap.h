// Which class owns each pool page, readable without a lock, so that a release
// checks its block's page in constant time on any thread.
//
// Two levels over page numbers (address / 8 KiB): a root of leaves, each leaf
// one byte per page for 1 GiB of address space (2^17 pages, 128 KiB). A leaf
// is made when the first region in its gigabyte is obtained (under the
// page-list lock), published with a release store and kept until teardown.
// A byte is written under the owning class's lock: class index + 1 while the
// page belongs to that class, 0 otherwise. Readers need no ordering beyond
// relaxed loads: a block reaches another thread's release only after it was
// handed out, which was after its page joined the class.
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
constexpr std::uint8_t kNoOwner = 0;

typedef std::atomic<std::uint8_t> PageOwnerByte;

extern std::atomic<PageOwnerByte*> g_pageMapRoot[std::size_t(1) << kRootBits];

// The owner byte of the page at `page` (any address inside it), or null when
// no region was ever recorded in its gigabyte.
inline PageOwnerByte* PageOwnerSlot(const void* page) {
    const std::uintptr_t number = reinterpret_cast<std::uintptr_t>(page) >> kPageShift;
    const std::uintptr_t root = number >> kLeafBits;
    if (root >= (std::uintptr_t(1) << kRootBits)) {
        return nullptr;
    }
    PageOwnerByte* leaf = g_pageMapRoot[root].load(std::memory_order_acquire);
    return leaf == nullptr ? nullptr : leaf + (number & ((std::uintptr_t(1) << kLeafBits) - 1));
}

// Class index + 1 of the class that owns the page, kNoOwner for none.
inline std::uint8_t PageOwner(const void* page) {
    const PageOwnerByte* slot = PageOwnerSlot(page);
    return slot == nullptr ? kNoOwner : slot->load(std::memory_order_relaxed);
}

// Makes sure the region's gigabyte has a leaf; false when it cannot (no memory,
// or an address beyond the map). Page-list lock held.
bool MapRegion(const void* region, unsigned size);

// Sets the owner of a page whose region was mapped (class lock held).
inline void SetPageOwner(const void* page, std::uint8_t owner) {
    PageOwnerSlot(page)->store(owner, std::memory_order_relaxed);
}

// Gives back every leaf, at teardown; every page then reads as owned by none.
void ReleasePageMap();

} // namespace detail
} // namespace Orvex

#endif // ORVEX_MEMORY_DETAIL_PAGEMAP_H
