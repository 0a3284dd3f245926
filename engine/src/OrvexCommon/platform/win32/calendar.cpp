// Calendar conversions on Windows: the runtime's 64-bit time functions.
#include "OrvexCommon/platform/OrvexSys.h"

#include <time.h>

namespace Orvex {
namespace sys {

std::int64_t SystemCalendarSeconds() {
    return static_cast<std::int64_t>(_time64(nullptr));
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
