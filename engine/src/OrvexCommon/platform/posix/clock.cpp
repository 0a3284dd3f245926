// The millisecond clock on POSIX: CLOCK_MONOTONIC, 64 bits, no wrap.
#include "OrvexCommon/platform/OrvexSys.h"

#include <time.h>

namespace Orvex {
namespace sys {

std::uint64_t MonotonicMilliseconds() {
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<std::uint64_t>(now.tv_sec) * 1000u +
           static_cast<std::uint64_t>(now.tv_nsec) / 1000000u;
}

} // namespace sys
} // namespace Orvex
