// The page-owner map's leaves.
#include "OrvexCommon/memory/detail/PageMap.h"
#include "OrvexCommon/platform/OrvexSys.h"

#include <cstring>

namespace Orvex {
namespace detail {

std::atomic<PageOwnerByte*> g_pageMapRoot[std::size_t(1) << kRootBits];

namespace {

constexpr std::size_t kLeafBytes = std::size_t(1) << kLeafBits;

bool MapGigabyte(std::uintptr_t root) {
    if (root >= (std::uintptr_t(1) << kRootBits)) {
        return false;
    }
    if (g_pageMapRoot[root].load(std::memory_order_relaxed) != nullptr) {
        return true;
    }
    void* leaf = sys::AllocateBlock(kLeafBytes);
    if (leaf == nullptr) {
        return false;
    }
    std::memset(leaf, kNoOwner, kLeafBytes); // atomic bytes: all-zero is kNoOwner
    g_pageMapRoot[root].store(static_cast<PageOwnerByte*>(leaf), std::memory_order_release);
    return true;
}

} // namespace

bool MapRegion(const void* region, unsigned size) {
    const std::uintptr_t first = reinterpret_cast<std::uintptr_t>(region);
    const std::uintptr_t last = first + size - 1;
    const unsigned shift = kPageShift + kLeafBits;
    return MapGigabyte(first >> shift) && MapGigabyte(last >> shift);
}

void ReleasePageMap() {
    for (auto& root : g_pageMapRoot) {
        sys::FreeBlock(root.exchange(nullptr));
    }
}

} // namespace detail
} // namespace Orvex
