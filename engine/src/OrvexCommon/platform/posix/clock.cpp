// The millisecond clock on POSIX: CLOCK_MONOTONIC, 64 bits, no wrap; the
// nanoseconds come from the same reading.
#include "OrvexCommon/platform/OrvexSys.h"

#include <time.h>

namespace Orvex {
namespace sys {

namespace {

std::uint64_t Milliseconds(const timespec& now) {
    return static_cast<std::uint64_t>(now.tv_sec) * 1000u +
           static_cast<std::uint64_t>(now.tv_nsec) / 1000000u;
}

} // namespace

std::uint64_t MonotonicMilliseconds() {
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return Milliseconds(now);
}

ClockReading ReadMonotonicClocks() {
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return ClockReading{Milliseconds(now), static_cast<std::uint64_t>(now.tv_sec) * 1000000000u +
                                               static_cast<std::uint64_t>(now.tv_nsec)};
}

} // namespace sys
} // namespace Orvex
