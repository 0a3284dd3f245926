// The clocks' state, built at load by the library frame in this order.
#ifndef ORVEX_TIME_DETAIL_CLOCKSTATE_H
#define ORVEX_TIME_DETAIL_CLOCKSTATE_H

#include "OrvexCommon/platform/OrvexSys.h"

#include <atomic>
#include <cstdint>

namespace Orvex {
namespace detail {

// The millisecond clock read once at load.
std::uint64_t ProcessStartTick();

// Process time (GetProcessTime) at a reading of the millisecond clock.
inline std::int64_t ProcessTimeAt(std::uint64_t milliseconds) {
    return static_cast<std::int64_t>(milliseconds - ProcessStartTick());
}

// Calendar time at load in milliseconds (re-based by the clock setters).
std::atomic<std::int64_t>& StartNatureTime();

// The time-zone offset in milliseconds (cached; changed by the setters).
std::atomic<std::int64_t>& ZoneOffset();

// The lock of the game clock.
sys::RecursiveLock* GameClockLock();

} // namespace detail
} // namespace Orvex

#endif // ORVEX_TIME_DETAIL_CLOCKSTATE_H
