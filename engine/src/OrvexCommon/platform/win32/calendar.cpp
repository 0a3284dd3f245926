// Calendar conversions on Windows: the runtime's 64-bit time functions.
#include "OrvexCommon/platform/OrvexSys.h"

#include <atomic>
#include <time.h>

namespace Orvex {
namespace sys {

namespace {

// Constant-initialised, so a shift set by a test holds from the first call.
std::atomic<std::int64_t> g_calendarShift{0};

} // namespace

std::int64_t CalendarSeconds() {
    return static_cast<std::int64_t>(_time64(nullptr)) +
           g_calendarShift.load(std::memory_order_relaxed);
}

void SetCalendarShift(std::int64_t seconds) {
    g_calendarShift.store(seconds, std::memory_order_relaxed);
}

std::int64_t GetCalendarShift() {
    return g_calendarShift.load(std::memory_order_relaxed);
}

bool BreakDownUtc(std::int64_t seconds, std::tm& fields) {
    const __time64_t value = static_cast<__time64_t>(seconds);
    return _gmtime64_s(&fields, &value) == 0;
}

bool BreakDownLocal(std::int64_t seconds, std::tm& fields) {
    const __time64_t value = static_cast<__time64_t>(seconds);
    return _localtime64_s(&fields, &value) == 0;
}

std::int64_t LocalFieldsToSeconds(std::tm& fields) {
    return static_cast<std::int64_t>(_mktime64(&fields));
}

void ReloadTimeZone() {
    _tzset();
}

} // namespace sys
} // namespace Orvex
