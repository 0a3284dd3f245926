// Spans: where large blocks up to 64 KiB live. A span is one region of
// 65536 bytes, aligned to its size, cut into areas of one large bin's size
// (LargeBins.h: 1280 to 65536 bytes, 24 bins). Area k starts k x area bytes
// into the span; a block sits as it would in a heap area: 4 bytes of slack
// (kSpanTag), the 4-byte size header, then the address handed out, 8-aligned.
//
// Every page of a span is in the page map under class kFirstSpanClass + bin,
// its slot's record pointing at the span's SLargeSpan (not at unit states),
// for as long as the allocator lives. A release finds the area's counted
// size in `sizes` from there and never reads the block. The size is exchanged
// for 0 on release: one of two releases of an area sees it, the other (or a
// release of an area never handed out, or of an address inside one) sees 0
// and is ignored.
//
// Free areas of a span are its `freeAreas` stack, under the bin's lock.
// Spans with a free area are on their bin's `open` list; a full span is on no
// list. A bin keeps at most one span with every area free; the next one that
// empties leaves the bin for the free spans, which any bin takes (the last
// to join first) before a spare span or a new region. Whenever a span joins
// them, the oldest free spans are purged (their memory given back to the
// system, their addresses kept mapped and in the page map) and become spare:
// those beyond 1 024, and those beyond 64 that have been free for a second.
// So the memory held for free areas is one span per bin and 64 more (5.5
// MiB) for good, and up to 64 MiB for a second after a burst of releases,
// plus what the thread caches keep (LargeBins.h). A program that releases a
// level's buffers and takes as many again does not purge and fault in its
// pages at every turn.
//
// Lock order: a bin's lock, then the page-list lock (spare spans, new
// regions).
#ifndef ORVEX_MEMORY_DETAIL_LARGESPANS_H
#define ORVEX_MEMORY_DETAIL_LARGESPANS_H

#include "OrvexCommon/memory/detail/LargeBins.h"
#include "OrvexCommon/memory/detail/PageMap.h"
#include "OrvexCommon/platform/OrvexSys.h"

#include <atomic>
#include <cstdint>

namespace Orvex {
namespace detail {

constexpr unsigned kSpanSize = 65536;
constexpr unsigned kMaxSpanAreas = kSpanSize / 1280; // the smallest bin's count
constexpr unsigned kLargeSlack = 4; // before every large block's header: keeps it 8-aligned
// The slack word of an area of a span: a release that has to judge a block by
// its header (after teardown) leaves such a block alone.
constexpr std::uint32_t kSpanTag = 0x5350414Eu;
// The slack word of a large block from the heap.
constexpr std::uint32_t kHeapTag = 0;

typedef std::atomic<std::uint32_t> AreaSize;

struct SLargeSpan {
    unsigned char* base;   // kSpanSize bytes, aligned to kSpanSize
    SLargeSpan* next;      // on the bin's open list, or the spare list
    SLargeSpan* previous;  // on the open list
    SLargeSpan* nextOfAll; // every span ever made (page-list lock)
    unsigned bin;
    unsigned areaCount;
    unsigned freeCount;    // areas on freeAreas
    bool open;             // on its bin's open list
    bool purged;           // spare: its memory given back
    std::uint64_t freedAt; // when it joined the free spans (milliseconds)
    std::uint8_t freeAreas[kMaxSpanAreas];
    // The counted size (request + 4) of an area handed out; 0 otherwise.
    AreaSize sizes[kMaxSpanAreas];
};

// One large bin's spans. One cache line each.
struct alignas(64) SLargeClass {
    std::atomic<sys::ShortLock*> lock;
    SLargeSpan* open;   // spans with a free area, last opened first
    unsigned wholeFree; // spans on `open` with every area free: 0 or 1
};

constexpr unsigned kFirstSpanClass = kClassCount;
// Spans with every area free kept resident beyond one per bin: up to
// kKeptFreeSpans (4 MiB) for good, up to kMaxFreeSpans (64 MiB) for
// kPurgeDelayMilliseconds after they were freed (see RetireSpan).
constexpr unsigned kKeptFreeSpans = 64;
constexpr unsigned kMaxFreeSpans = 1024;
constexpr std::uint64_t kPurgeDelayMilliseconds = 1000;

// Per bin, CeilReciprocal(area): exact for offsets inside a span (offset x
// area stays below 2^32).
struct SAreaReciprocals {
    std::uint32_t values[kLargeBinCount];
    constexpr SAreaReciprocals() : values() {
        for (unsigned bin = 0; bin < kLargeBinCount; ++bin) {
            values[bin] = CeilReciprocal(LargeBinArea(bin));
        }
    }
};
inline constexpr SAreaReciprocals kAreaReciprocals{};

constexpr unsigned kNoArea = ~0u;

// The number of the area of bin `bin` whose start lies `offset` bytes into
// its span, when `offset` is on an area boundary.
inline unsigned AreaNumber(unsigned bin, std::uint32_t offset) {
    return static_cast<unsigned>((std::uint64_t(offset) * kAreaReciprocals.values[bin]) >> 32);
}

inline std::uint32_t OffsetInSpan(const unsigned char* at) {
    return static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(at) & (kSpanSize - 1));
}

// The span whose page holds `header`, with the bin and the number of the area
// whose block header is at `header` (kNoArea when none is: an address inside
// a block, or in a span's last bytes); null when `header` lies in no span.
// No lock.
inline SLargeSpan* SpanOfHeader(const unsigned char* header, unsigned& number, unsigned& bin) {
    const SPageSlot* slot = PageSlot(header);
    if (slot == nullptr) {
        return nullptr;
    }
    UnitState* record = slot->states.load(std::memory_order_acquire);
    const unsigned classIndex = slot->classIndex.load(std::memory_order_relaxed);
    if (record == nullptr || classIndex < kFirstSpanClass) {
        return nullptr;
    }
    bin = classIndex - kFirstSpanClass;
    const std::uint32_t area = LargeBinArea(bin);
    const std::uint32_t offset = OffsetInSpan(header) - kLargeSlack; // wraps below the first
    number = AreaNumber(bin, offset);
    if (offset > kSpanSize - area || number * area != offset) {
        number = kNoArea;
    }
    return reinterpret_cast<SLargeSpan*>(record);
}

// The span of an area known to be one of a span (from a cache or a bin's
// spans), by the address of its start, with the area's number.
inline SLargeSpan& SpanOfArea(const unsigned char* area, unsigned& number) {
    const SPageSlot& slot = MappedPageSlot(area);
    const unsigned bin = slot.classIndex.load(std::memory_order_relaxed) - kFirstSpanClass;
    number = AreaNumber(bin, OffsetInSpan(area));
    return *reinterpret_cast<SLargeSpan*>(slot.states.load(std::memory_order_acquire));
}

inline AreaSize& SizeOfArea(const unsigned char* area) {
    unsigned number;
    SLargeSpan& span = SpanOfArea(area, number);
    return span.sizes[number];
}

struct SAllocatorState;

// Sets up the bins' spans and locks; false without memory for a lock.
bool StartSpans(SAllocatorState& state);

// Up to `wanted` free areas of bin `bin` (their starts) into `areas`, from
// the bin's open spans, or from a new span when it has none; returns how many
// (0: no span to be had, or after teardown).
unsigned TakeAreas(SAllocatorState& state, unsigned bin, unsigned char** areas, unsigned wanted);

// Free areas of bin `bin` back to their spans.
void GiveAreasBack(SAllocatorState& state, unsigned bin, unsigned char* const* areas,
                   unsigned count);

// At teardown, after the thread caches went back: the locks and records
// go. With returnRegions (no block held anywhere) every span's region goes
// back to the system; otherwise spans with every area free are purged and
// the others stay as they are for the blocks still held.
void StopSpans(SAllocatorState& state, bool returnRegions);

} // namespace detail
} // namespace Orvex

#endif // ORVEX_MEMORY_DETAIL_LARGESPANS_H
