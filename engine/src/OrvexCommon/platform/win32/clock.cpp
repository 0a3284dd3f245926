// The millisecond clock on Windows: the multimedia timer, widened to 64 bits.
// GetTickCount64 counts from the same origin without wrapping but with coarser
// steps; it supplies the wrap count and timeGetTime the exact milliseconds.
// The finer count is the performance counter's.
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

namespace Orvex {
namespace sys {

namespace {

// The counter's frequency is fixed at boot; asked once.
std::uint64_t CounterFrequency() {
    static const std::uint64_t frequency = [] {
        LARGE_INTEGER value;
        return QueryPerformanceFrequency(&value) && value.QuadPart > 0
                   ? static_cast<std::uint64_t>(value.QuadPart)
                   : std::uint64_t(1);
    }();
    return frequency;
}

} // namespace

ClockReading ReadMonotonicClocks() {
    const std::uint64_t milliseconds = MonotonicMilliseconds();
    LARGE_INTEGER counter;
    QueryPerformanceCounter(&counter);
    const std::uint64_t ticks = static_cast<std::uint64_t>(counter.QuadPart);
    const std::uint64_t frequency = CounterFrequency();
    // Whole seconds and the rest apart, so that the product cannot overflow.
    const std::uint64_t nanoseconds =
        ticks / frequency * 1000000000u + ticks % frequency * 1000000000u / frequency;
    return ClockReading{milliseconds, nanoseconds};
}

} // namespace sys
} // namespace Orvex
