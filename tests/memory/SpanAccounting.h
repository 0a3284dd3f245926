// Bookkeeping of the large-block spans, checked by the tests.

// Areas of large-block spans that are nowhere: neither free in their span,
// nor kept by the calling thread (the only one with a cache when this is
// read), nor handed out. Read while no other thread allocates.
#ifndef ORVEX_TESTS_MEMORY_SPANACCOUNTING_H
#define ORVEX_TESTS_MEMORY_SPANACCOUNTING_H

#include "OrvexCommon/memory/detail/ThreadCache.h"

#include <set>

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

// Spans with every area free that are on no list: no bin's open spans, not
// free, not spare. Read while no other thread allocates.
inline unsigned LostSpans() {
    auto& state = Orvex::detail::AllocatorManager();
    std::set<const Orvex::detail::SLargeSpan*> listed;
    for (const auto& large : state.largeClasses) {
        Orvex::sys::ScopedShortLock hold(large.lock.load());
        for (const auto* span = large.open; span != nullptr; span = span->next) {
            listed.insert(span);
        }
    }
    Orvex::sys::ScopedShortLock hold(state.pageListLock);
    for (const auto* list : {state.freeSpans, state.spareSpans}) {
        for (const auto* span = list; span != nullptr; span = span->next) {
            listed.insert(span);
        }
    }
    unsigned lost = 0;
    for (const auto* span = state.allSpans; span != nullptr; span = span->nextOfAll) {
        lost += span->freeCount == span->areaCount && listed.count(span) == 0;
    }
    return lost;
}

#endif // ORVEX_TESTS_MEMORY_SPANACCOUNTING_H
