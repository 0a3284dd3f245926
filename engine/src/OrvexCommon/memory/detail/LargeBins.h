// Per-thread bins of large areas (above the largest pool unit), so that a
// game's steady stream of 1-64 KiB buffers takes no lock on most calls.
//
// A large block's area (slack, header and request) up to 64 KiB is rounded
// up to a quarter of its power of two (1280, 1536, 1792, 2048, 2560, ...,
// 65536 bytes: 24 bins, at most a quarter more than asked). Every block is
// given its rounded area, on every thread, with or without a cache, so any
// area of a bin can serve any request of that bin. The areas come from spans
// (LargeSpans.h); larger blocks are exact heap blocks and never kept.
//
// A thread keeps per bin as many areas as 64 KiB holds, between 2 and 16:
// at most 1 477 632 bytes per thread in all. An empty bin takes half that
// from the spans at once, a full one gives the older half back. A kept area
// is not handed out, so it counts nowhere (large blocks are not manager
// memory), and its size in the span reads 0. Everything goes back to the
// spans when the thread ends or at teardown. Only the owning thread touches
// its bins.
#ifndef ORVEX_MEMORY_DETAIL_LARGEBINS_H
#define ORVEX_MEMORY_DETAIL_LARGEBINS_H

#include "OrvexCommon/platform/OrvexSys.h"

#include <cstdint>

namespace Orvex {
namespace detail {

constexpr std::uint32_t kLargestKeptArea = 65536;
constexpr unsigned kLargeBinCount = 24;
constexpr unsigned kMaxKeptLarge = 16;

// Bit number of the highest set bit of `value` (not 0).
inline unsigned HighestBit(std::uint32_t value) {
    return 31u - static_cast<unsigned>(__builtin_clz(value));
}

// Areas binned: above 1 KiB (every large block's) up to kLargestKeptArea.
inline bool IsBinnedArea(std::uint32_t area) {
    return area > 1024 && area <= kLargestKeptArea;
}

// The area a large block of `area` bytes is given. (A size read from a
// foreign header may be anything: outside the bins it stays as it is.)
inline std::uint32_t RoundedLargeArea(std::uint32_t area) {
    if (!IsBinnedArea(area)) {
        return area;
    }
    const std::uint32_t quarter = std::uint32_t(1) << (HighestBit(area - 1) - 2);
    return (area + quarter - 1) & ~(quarter - 1);
}

// The bin of a rounded area in (1 KiB, kLargestKeptArea]: four per power of
// two, from 1280 bytes.
inline unsigned LargeBinOf(std::uint32_t rounded) {
    const unsigned power = HighestBit(rounded - 1); // rounded in (2^power, 2^(power+1)]
    return (power - 10) * 4 + (rounded >> (power - 2)) - 5;
}

constexpr std::uint32_t LargeBinArea(unsigned bin) {
    return (5u + bin % 4) << (bin / 4 + 8);
}

constexpr unsigned LargeBinCapacity(unsigned bin) {
    return kLargestKeptArea / LargeBinArea(bin) > kMaxKeptLarge ? kMaxKeptLarge
           : kLargestKeptArea / LargeBinArea(bin) < 2           ? 2
                                                      : kLargestKeptArea / LargeBinArea(bin);
}

struct SLargeBin {
    unsigned count;
    unsigned char* areas[kMaxKeptLarge]; // areas[count - 1] is the next to go
};

} // namespace detail
} // namespace Orvex

#endif // ORVEX_MEMORY_DETAIL_LARGEBINS_H
