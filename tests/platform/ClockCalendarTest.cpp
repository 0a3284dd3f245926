#include "OrvexCommon/platform/OrvexSys.h"
#include "OrvexCommon/time/detail/ZoneTime.h"

#include "OrvexTestSupport.h"

#include <gtest/gtest.h>

namespace {

using namespace Orvex::sys;

TEST(MonotonicClock, NeverGoesBackAndFollowsSleeps) {
    std::uint64_t previous = MonotonicMilliseconds();
    for (int i = 0; i < 100000; ++i) {
        const std::uint64_t now = MonotonicMilliseconds();
        ASSERT_GE(now, previous);
        previous = now;
    }
    const std::uint64_t before = MonotonicMilliseconds();
    SleepMilliseconds(50);
    const std::uint64_t slept = MonotonicMilliseconds() - before;
    EXPECT_GE(slept, 40u); // the tick may be a few milliseconds coarse
    EXPECT_LT(slept, 5000u);
}

TEST(Calendar, BreaksDownKnownInstantsAsUtc) {
    std::tm fields = {};
    ASSERT_TRUE(BreakDownUtc(0, fields));
    EXPECT_EQ(70, fields.tm_year);
    EXPECT_EQ(0, fields.tm_mon);
    EXPECT_EQ(1, fields.tm_mday);
    EXPECT_EQ(4, fields.tm_wday); // a Thursday

    // 2020-01-31 23:59:58 UTC, a Friday, day 30 of the year counting from 0.
    ASSERT_TRUE(BreakDownUtc(1580515198, fields));
    EXPECT_EQ(120, fields.tm_year);
    EXPECT_EQ(0, fields.tm_mon);
    EXPECT_EQ(31, fields.tm_mday);
    EXPECT_EQ(23, fields.tm_hour);
    EXPECT_EQ(59, fields.tm_min);
    EXPECT_EQ(58, fields.tm_sec);
    EXPECT_EQ(5, fields.tm_wday);
    EXPECT_EQ(30, fields.tm_yday);
    EXPECT_EQ(0, fields.tm_isdst);

    // Past 2038: the calendar is 64-bit on both targets.
    ASSERT_TRUE(BreakDownUtc(4102444800LL, fields)); // 2100-01-01
    EXPECT_EQ(200, fields.tm_year);

    const std::int64_t now = CalendarSeconds();
    EXPECT_GT(now, 1700000000); // after November 2023
}

class FixedZone : public ::testing::Test {
protected:
    void Use(const char* zone) {
        OrvexTest::SetEnvironment("TZ", zone);
        ReloadTimeZone();
    }
    void TearDown() override { Use("UTC0"); }
};

TEST_F(FixedZone, LocalFieldsFollowTheProcessZone) {
    std::tm fields = {};
    fields.tm_year = 120;
    fields.tm_mon = 0;
    fields.tm_mday = 31;
    fields.tm_hour = 23;
    fields.tm_min = 59;
    fields.tm_sec = 58;
    fields.tm_isdst = 0;

    Use("UTC0");
    std::tm copy = fields;
    EXPECT_EQ(1580515198, LocalFieldsToSeconds(copy));
    EXPECT_EQ(0, Orvex::detail::ComputeZoneTime());

    // Five hours west of Greenwich: local 23:59:58 is 04:59:58 UTC next day.
    Use("EST5");
    copy = fields;
    EXPECT_EQ(1580515198 + 5 * 3600, LocalFieldsToSeconds(copy));
    EXPECT_EQ(-5 * 3600 * 1000LL, Orvex::detail::ComputeZoneTime());

    // East of Greenwich the offset is positive.
    Use("JST-9");
    EXPECT_EQ(9 * 3600 * 1000LL, Orvex::detail::ComputeZoneTime());
}

} // namespace
