// Per-thread bins of large blocks (above the largest pool unit), so that a
// game's steady stream of 1-64 KiB buffers does not go to the heap on every
// call.
//
// A large block's area (header, slack and request) up to 64 KiB is rounded
// up to a quarter of its power of two (1280, 1536, 1792, 2048, 2560, ...,
// 65536 bytes: 24 bins, at most a quarter more than asked). Every block is
// given its rounded area, on every thread, with or without a cache, so any
// block of a bin can serve any request of that bin. Larger areas are exact
// and never kept.
//
// A thread keeps per bin as many blocks as 64 KiB holds, between 2 and 16:
// at most 1 477 632 bytes per thread in all. The header of a kept
// block is left as it was: it is not handed out, so it counts nowhere (large
// blocks are not manager memory). Everything goes back to the heap when the
// thread ends or at teardown. Only the owning thread touches its bins.
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

// A kept block of the rounded area, or null.
inline unsigned char* TakeKeptLarge(SLargeBin* bins, std::uint32_t rounded) {
    if (!IsBinnedArea(rounded)) {
        return nullptr;
    }
    SLargeBin& bin = bins[LargeBinOf(rounded)];
    return bin.count == 0 ? nullptr : bin.areas[--bin.count];
}

// Keeps a released block of the rounded area; false when its bin is full or
// the area is not kept (the caller frees it).
inline bool KeepLarge(SLargeBin* bins, std::uint32_t rounded, unsigned char* area) {
    if (!IsBinnedArea(rounded)) {
        return false;
    }
    const unsigned index = LargeBinOf(rounded);
    SLargeBin& bin = bins[index];
    if (bin.count == LargeBinCapacity(index)) {
        return false;
    }
    bin.areas[bin.count++] = area;
    return true;
}

// Every kept block back to the heap.
inline void FreeKeptLarge(SLargeBin* bins) {
    for (unsigned index = 0; index < kLargeBinCount; ++index) {
        for (unsigned k = 0; k < bins[index].count; ++k) {
            sys::FreeBlock(bins[index].areas[k]);
        }
        bins[index].count = 0;
    }
}

} // namespace detail
} // namespace Orvex

#endif // ORVEX_MEMORY_DETAIL_LARGEBINS_H
