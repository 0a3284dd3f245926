// What the recording tests share: profiles made on first use, and clock
// readings at chosen times.
#ifndef ORVEX_TESTS_SUPPORT_PROFILERECORDSUPPORT_H
#define ORVEX_TESTS_SUPPORT_PROFILERECORDSUPPORT_H

#include "OrvexCommon/diag/OrvexProfile.h"
#include "OrvexCommon/platform/OrvexSys.h"
#include "OrvexCommon/time/detail/ClockState.h"

#include <cstdint>

namespace OrvexTest {

// The profile registered under `label`, made by `file` on first use (labels
// live as long as the process, so a test run twice finds its own).
inline Orvex::CProfile* ProcessWideProfile(const char* label, const char* file) {
    Orvex::CProfile* profile = Orvex::GetProfileMgr().GetProfile(label);
    return profile != nullptr ? profile
                              : Orvex::GetProfileMgr().CreateProfile(file, 1, "Test", label, 0);
}

// Both clocks at `nanoseconds` after `origin` on the fine clock; the
// millisecond clock as the platform would read it at that moment.
inline Orvex::sys::ClockReading ClockAt(std::int64_t origin, std::int64_t nanoseconds) {
    const std::int64_t fine = origin + nanoseconds;
    return Orvex::sys::ClockReading{Orvex::detail::ProcessStartTick() +
                                        static_cast<std::uint64_t>(fine / 1000000),
                                    static_cast<std::uint64_t>(fine)};
}

} // namespace OrvexTest

#endif // ORVEX_TESTS_SUPPORT_PROFILERECORDSUPPORT_H
