// The free-page list: pages not owned by any class, refilled a region at a
// time. While a page is on the list, its first bytes hold the link to the next.
#include "OrvexCommon/base/detail/ErrorLine.h"
#include "OrvexCommon/memory/detail/AllocatorManager.h"
#include "OrvexCommon/memory/detail/PageMap.h"

#include <cstring>

namespace Orvex {
namespace detail {

namespace {

char g_pageTooLarge[] = "alloc size too large!!!!";

unsigned char* NextOnList(unsigned char* page) {
    unsigned char* next;
    std::memcpy(&next, page, sizeof(next));
    return next;
}

// Page-list lock held.
void Push(SAllocatorState& state, unsigned char* page) {
    std::memcpy(page, &state.freePageHead, sizeof(state.freePageHead));
    state.freePageHead = page;
    state.freePageCount.add(1);
}

// Page-list lock held. The region's pages go on in ascending order, so its
// highest page ends up at the head.
bool Refill(SAllocatorState& state) {
    unsigned char* region = static_cast<unsigned char*>(sys::ObtainRegion(kRegionSize, kPageSize));
    if (region == nullptr) {
        return false;
    }
    // A region the page map cannot cover (no memory for its leaf) is left
    // unused: a release could not find its pages.
    if (!MapRegion(region, kRegionSize)) {
        return false;
    }
    for (unsigned offset = 0; offset < kRegionSize; offset += kPageSize) {
        Push(state, region + offset);
    }
    return true;
}

} // namespace

unsigned char* TakePage(SAllocatorState& state, unsigned bytesNeeded) {
    if (bytesNeeded > kPageSize) {
        ThrowErrorLine(g_pageTooLarge);
    }
    sys::ScopedShortLock hold(state.pageListLock);
    if (state.freePageHead == nullptr && !Refill(state)) {
        return nullptr;
    }
    unsigned char* page = state.freePageHead;
    state.freePageHead = NextOnList(page);
    state.freePageCount.subtract(1);
    return page;
}

void ReturnPage(SAllocatorState& state, unsigned char* page) {
    sys::ScopedShortLock hold(state.pageListLock);
    Push(state, page);
}

} // namespace detail
} // namespace Orvex
