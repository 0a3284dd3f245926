// The free-page list: pages not owned by any class, refilled a region at a
// time. While a page is on the list, its first bytes hold the link to the next.
#include "OrvexCommon/base/detail/ErrorLine.h"
#include "OrvexCommon/memory/detail/AllocatorManager.h"
#include "OrvexCommon/memory/detail/PageMap.h"

#include <algorithm>
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

// Sorted by address, the pages of whole regions fall into runs of a region's
// pages, each starting at its region's start: the lowest page left is the
// start of its region, and the pages of a region are the next ones up.
bool ReturnAllRegions(SAllocatorState& state) {
    constexpr unsigned kPagesPerRegion = kRegionSize / kPageSize;
    sys::ScopedShortLock hold(state.pageListLock);
    const unsigned count = state.freePageCount.get();
    if (count == 0 || count % kPagesPerRegion != 0) {
        return false;
    }
    auto** pages = static_cast<unsigned char**>(sys::AllocateBlock(count * sizeof(void*)));
    if (pages == nullptr) {
        return false;
    }
    unsigned listed = 0;
    unsigned char* page = state.freePageHead;
    for (; page != nullptr && listed < count; page = NextOnList(page)) {
        pages[listed++] = page;
    }
    std::sort(pages, pages + listed);
    bool whole = page == nullptr && listed == count;
    for (unsigned first = 0; whole && first < count; first += kPagesPerRegion) {
        whole = pages[first + kPagesPerRegion - 1] ==
                pages[first] + (kPagesPerRegion - 1) * std::size_t(kPageSize);
    }
    if (whole) {
        for (unsigned first = 0; first < count; first += kPagesPerRegion) {
            sys::ReturnRegion(pages[first], kRegionSize);
        }
        state.freePageHead = nullptr;
        state.freePageCount.set(0);
    }
    sys::FreeBlock(pages);
    return whole;
}

} // namespace detail
} // namespace Orvex
