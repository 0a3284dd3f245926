// The millisecond clock on Windows: the multimedia timer, widened to 64 bits.
// GetTickCount64 counts from the same origin without wrapping but with coarser
// steps; it supplies the wrap count and timeGetTime the exact milliseconds.
#include "OrvexCommon/platform/OrvexSys.h"
#include "OrvexCommon/platform/win32/WindowsHeaders.h"

#include <mmsystem.h>

namespace Orvex {
namespace sys {

std::uint64_t MonotonicMilliseconds() {
    const std::uint64_t coarse = GetTickCount64();
    const std::uint32_t fine = timeGetTime();
    // The two readings differ by a few milliseconds at most: the signed 32-bit
    // difference of their low words carries the fine reading across a wrap.
    const std::int32_t correction =
        static_cast<std::int32_t>(fine - static_cast<std::uint32_t>(coarse));
    return coarse + static_cast<std::int64_t>(correction);
}

} // namespace sys
} // namespace Orvex
