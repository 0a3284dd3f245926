// A pool page's 4-byte header: the page offset of its first free unit (0:
// none) in bytes 0-1 (bytes 2-3 are not used: the page's free-unit count is
// kept in its pool's pageFree array); and a free unit's link, the page offset
// of the next free unit, in the unit's last 4 bytes.
#ifndef ORVEX_MEMORY_DETAIL_PAGEHEADER_H
#define ORVEX_MEMORY_DETAIL_PAGEHEADER_H

#include <cstdint>
#include <cstring>

namespace Orvex {
namespace detail {

inline std::uint16_t FirstFree(const unsigned char* page) {
    std::uint16_t offset;
    std::memcpy(&offset, page, 2);
    return offset;
}

inline void SetFirstFree(unsigned char* page, std::uint16_t offset) {
    std::memcpy(page, &offset, 2);
}

inline std::uint32_t NextFree(const unsigned char* unit, unsigned unitSize) {
    std::uint32_t offset;
    std::memcpy(&offset, unit + unitSize - 4, 4);
    return offset;
}

} // namespace detail
} // namespace Orvex

#endif // ORVEX_MEMORY_DETAIL_PAGEHEADER_H
