// Large blocks (above the largest pool unit): allocation and release, from a
// thread's kept areas, the spans (LargeSpans.h) or, above 64 KiB, the heap.
#ifndef ORVEX_MEMORY_DETAIL_LARGEBLOCKS_H
#define ORVEX_MEMORY_DETAIL_LARGEBLOCKS_H

#include "OrvexCommon/memory/detail/ThreadCache.h"

namespace Orvex {
namespace detail {

// A large block of `total` counted bytes (request + 4); its address, or null.
void* AllocateLarge(SAllocatorState& state, SThreadCache* cache, std::uint32_t total);

// Releases the area of `span` (number `number`, bin `bin`) whose header is
// at `header`; ignored unless it is handed out.
void ReleaseSpanArea(SAllocatorState& state, SThreadCache* cache, unsigned char* header,
                     SLargeSpan& span, unsigned number, unsigned bin);

// Releases a block whose header holds a size (top bit clear) and that is no
// area of a span: a heap block of ours, freed. A block of a span (after
// teardown), or a size no large block has, is ignored.
void ReleaseHeapBlock(SAllocatorState& state, SThreadCache* cache, unsigned char* header);

// Every area the cache keeps back to its span (thread end, teardown).
void GiveKeptAreasBack(SAllocatorState& state, SThreadCache& cache);

} // namespace detail
} // namespace Orvex

#endif // ORVEX_MEMORY_DETAIL_LARGEBLOCKS_H
