// The time-zone offset from the calendar helpers of the platform layer.
#include "OrvexCommon/time/detail/ZoneTime.h"
#include "OrvexCommon/platform/OrvexSys.h"

namespace Orvex {
namespace detail {

std::int64_t ComputeZoneTime() {
    const std::int64_t now = sys::CalendarSeconds();
    std::tm fields = {};
    if (!sys::BreakDownUtc(now, fields)) {
        return 0;
    }
    // gmtime leaves the daylight flag 0, so this is the standard-time offset.
    const std::int64_t readAsLocal = sys::LocalFieldsToSeconds(fields);
    if (readAsLocal == -1) {
        return 0;
    }
    return (now - readAsLocal) * 1000;
}

} // namespace detail
} // namespace Orvex
