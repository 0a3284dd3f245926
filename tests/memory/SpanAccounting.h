// Areas of large-block spans that are nowhere: neither free in their span,
// nor kept by the calling thread (the only one with a cache when this is
// read), nor handed out. Read while no other thread allocates.
#ifndef ORVEX_TESTS_MEMORY_SPANACCOUNTING_H
#define ORVEX_TESTS_MEMORY_SPANACCOUNTING_H

#include "OrvexCommon/memory/detail/ThreadCache.h"

inline long long UnaccountedAreas() {
    auto& state = Orvex::detail::AllocatorManager();
    long long unaccounted = 0;
    {
        Orvex::sys::ScopedShortLock hold(state.pageListLock);
        for (const auto* span = state.allSpans; span != nullptr; span = span->nextOfAll) {
            unaccounted += span->areaCount - span->freeCount;
            for (unsigned k = 0; k < span->areaCount; ++k) {
                unaccounted -= span->sizes[k].load() != 0;
            }
        }
    }
    if (const auto* cache = Orvex::detail::CurrentThreadCache(state)) {
        for (const auto& kept : cache->largeBins) {
            unaccounted -= kept.count;
        }
    }
    return unaccounted;
}

#endif // ORVEX_TESTS_MEMORY_SPANACCOUNTING_H
