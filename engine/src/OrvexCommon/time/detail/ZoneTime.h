// The time-zone offset of the process, as the clocks use it.
#ifndef ORVEX_TIME_DETAIL_ZONETIME_H
#define ORVEX_TIME_DETAIL_ZONETIME_H

#include <cstdint>

namespace Orvex {
namespace detail {

// The standard-time offset of the process's time zone in milliseconds,
// computed afresh: the current calendar time broken down as UTC and read back
// as local time, subtracted from the calendar time. Positive east of
// Greenwich. 0 when the platform cannot convert the current time.
std::int64_t ComputeZoneTime();

} // namespace detail
} // namespace Orvex

#endif // ORVEX_TIME_DETAIL_ZONETIME_H
