// The calendar shift tests set, over the backend's calendar clock.
#include "OrvexCommon/platform/OrvexSys.h"

#include <atomic>

namespace Orvex {
namespace sys {

namespace {

// Constant-initialised, so a shift set by a test holds from the first call.
std::atomic<std::int64_t> g_calendarShift{0};

} // namespace

std::int64_t CalendarSeconds() {
    return SystemCalendarSeconds() + g_calendarShift.load(std::memory_order_relaxed);
}

void SetCalendarShift(std::int64_t seconds) {
    g_calendarShift.store(seconds, std::memory_order_relaxed);
}

std::int64_t GetCalendarShift() {
    return g_calendarShift.load(std::memory_order_relaxed);
}

} // namespace sys
} // namespace Orvex
