// Calendar conversions on POSIX: 64-bit time_t, gmtime_r, localtime_r and
// mktime.
#include "OrvexCommon/platform/OrvexSys.h"

#include <time.h>

namespace Orvex {
namespace sys {

std::int64_t SystemCalendarSeconds() {
    return static_cast<std::int64_t>(time(nullptr));
}

bool BreakDownUtc(std::int64_t seconds, std::tm& fields) {
    const time_t value = static_cast<time_t>(seconds);
    return gmtime_r(&value, &fields) != nullptr;
}

bool BreakDownLocal(std::int64_t seconds, std::tm& fields) {
    const time_t value = static_cast<time_t>(seconds);
    return localtime_r(&value, &fields) != nullptr;
}

std::int64_t LocalFieldsToSeconds(std::tm& fields) {
    // mktime's -1 is both an error and 1969-12-31 23:59:59 UTC; either way the
    // caller treats a negative result as "cannot convert".
    return static_cast<std::int64_t>(mktime(&fields));
}

void ReloadTimeZone() {
    tzset();
}

} // namespace sys
} // namespace Orvex
