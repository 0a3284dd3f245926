#include "OrvexCommon/platform/OrvexSys.h"
#include "OrvexCommon/time/OrvexClock.h"

#include "OrvexTestSupport.h"

#include <gtest/gtest.h>

#include <climits>

namespace {

using namespace Orvex;

// Every test leaves the game clock running with offset 0 and the nature time
// and zone as they were.
class Clocks : public ::testing::Test {
protected:
    void SetUp() override {
        m_startNature = GetProcessStartNatureTime();
        m_zone = GetLocalTime() - GetNatureTime();
    }
    void TearDown() override {
        PauseOrvexTime(false);
        SetOrvexTime(GetProcessTime());
        SetNatureTime(m_startNature + GetProcessTime(), m_zone);
        UseZone("UTC0");
    }
    static void UseZone(const char* zone) {
        OrvexTest::SetEnvironment("TZ", zone);
        sys::ReloadTimeZone();
    }
    long long m_startNature = 0;
    long long m_zone = 0;
};

TEST_F(Clocks, GameTimeFollowsProcessTimeUntilPausedOrSet) {
    const long long game = GetOrvexTime();
    const long long process = GetProcessTime();
    EXPECT_GE(process - game, 0);
    EXPECT_LE(process - game, 1);
    EXPECT_FALSE(IsPauseOrvexTime());
}

TEST_F(Clocks, PauseFreezesGameTimeAndResumeAbsorbsThePause) {
    const long long lagBefore = GetProcessTime() - GetOrvexTime();
    PauseOrvexTime(true);
    EXPECT_TRUE(IsPauseOrvexTime());
    const long long frozen = GetOrvexTime();
    sys::SleepMilliseconds(40);
    EXPECT_EQ(frozen, GetOrvexTime());
    PauseOrvexTime(true); // a second pause changes nothing
    EXPECT_EQ(frozen, GetOrvexTime());
    PauseOrvexTime(false);
    EXPECT_FALSE(IsPauseOrvexTime());
    const long long resumed = GetOrvexTime();
    EXPECT_GE(resumed, frozen);
    EXPECT_LE(resumed, frozen + 5);
    const long long lagAfter = GetProcessTime() - GetOrvexTime();
    EXPECT_GE(lagAfter - lagBefore, 35) << "the pause is absorbed into the offset";
    PauseOrvexTime(false); // resuming a running clock does nothing
    EXPECT_EQ(lagAfter, GetProcessTime() - GetOrvexTime());
}

TEST_F(Clocks, SetGameTimeWhilePausedAndWhileRunning) {
    PauseOrvexTime(true);
    SetOrvexTime(5000);
    sys::SleepMilliseconds(20);
    EXPECT_EQ(5000, GetOrvexTime());
    PauseOrvexTime(false);
    sys::SleepMilliseconds(20);
    EXPECT_GE(GetOrvexTime(), 5015);
    EXPECT_LE(GetOrvexTime(), 5000 + 1000);

    SetOrvexTime(-123456);
    const long long now = GetOrvexTime();
    EXPECT_GE(now, -123456);
    EXPECT_LE(now, -123456 + 5);
}

TEST_F(Clocks, NatureAndLocalTime) {
    const long long nature = 1700000000000LL;
    const long long zone = 8 * 3600 * 1000LL;
    const long long processAtCall = GetProcessTime();
    SetNatureTime(nature, zone);
    const long long read = GetNatureTime();
    EXPECT_GE(read, nature);
    EXPECT_LE(read, nature + 5);
    EXPECT_LE(std::llabs(GetProcessStartNatureTime() - (nature - processAtCall)), 2);
    const long long local = GetLocalTime();
    const long long natureAgain = GetNatureTime();
    EXPECT_LE(std::llabs(local - natureAgain - zone), 1);
    EXPECT_EQ(1234 + zone, NatureTime2LocalTime(1234));
    for (long long x : {0LL, -5LL, 1580515198000LL, LLONG_MAX / 2}) {
        EXPECT_EQ(x, LocalTime2NatureTime(NatureTime2LocalTime(x)));
    }
}

TEST_F(Clocks, ZoneOffsetOfTheProcessZone) {
    UseZone("UTC0");
    EXPECT_EQ(0, GetZoneTime());
    UseZone("EST5");
    EXPECT_EQ(-5 * 3600 * 1000LL, GetZoneTime());
    UseZone("JST-9");
    EXPECT_EQ(9 * 3600 * 1000LL, GetZoneTime());
}

TEST_F(Clocks, BreakDowns) {
    const STime epoch = GetFormatTimeSTMFromMillisecond(999, false);
    EXPECT_EQ(1970, epoch.year);
    EXPECT_EQ(1, epoch.month);
    EXPECT_EQ(1, epoch.day);
    EXPECT_EQ(4, epoch.weekDay); // Thursday
    EXPECT_EQ(1, epoch.yearDay);
    EXPECT_EQ(0, epoch.isDst);

    SetNatureTime(GetNatureTime(), 3600 * 1000LL);
    const STime local = GetFormatTimeSTMFromMillisecond(1580515198000LL, true);
    EXPECT_EQ(2020, local.year);
    EXPECT_EQ(2, local.month);
    EXPECT_EQ(1, local.day);
    EXPECT_EQ(0, local.hour);
    EXPECT_EQ(59, local.minute);
    EXPECT_EQ(58, local.second);
    EXPECT_EQ(32, local.yearDay);

    // Far ahead: 64-bit calendar arithmetic on both targets.
    const STime later = GetFormatTimeSTMFromMillisecond(4102444800000LL, false);
    EXPECT_EQ(2100, later.year);
    EXPECT_EQ(5, later.weekDay); // 2100-01-01 is a Friday

    STime now;
    GetFormatTimeSTM(now);
    const std::tm fields = GetFormatTimeTM();
    EXPECT_EQ(now.year, fields.tm_year + 1900);
    EXPECT_EQ(now.month, fields.tm_mon + 1);
    EXPECT_GE(now.year, 2023);
}

TEST_F(Clocks, WeekOffset) {
    // 2024-01-01 was a Monday; the offset counts local wall-clock time.
    SetNatureTime(GetNatureTime(), -5 * 3600 * 1000LL);
    const long long monday = LocalTime2NatureTime(1704067200000LL);
    EXPECT_EQ(0u, GetOffSetTime(static_cast<unsigned long long>(monday)));
    const long long sunday = LocalTime2NatureTime((1704067200LL + 6 * 86400 + 86399) * 1000);
    EXPECT_EQ(604799u, GetOffSetTime(static_cast<unsigned long long>(sunday)));
    EXPECT_EQ(86400u + 3661u,
              GetOffSetTime(static_cast<unsigned long long>(monday + (86400 + 3661) * 1000LL)));
    // Nature time 0 is 1969-12-31 19:00 local, a Wednesday: a time Windows
    // cannot break down gives 0, never the offset of the zeros it gets back.
    const STime before1970 = GetFormatTimeSTMFromMillisecond(0, true);
    const unsigned expected = before1970.year == 0 ? 0u : 2u * 86400 + 19u * 3600;
    if (before1970.year != 0) {
        EXPECT_EQ(1969, before1970.year);
        EXPECT_EQ(3, before1970.weekDay);
    }
    EXPECT_EQ(expected, GetOffSetTime(0));
}

TEST_F(Clocks, TimesFromFieldsAndTexts) {
    UseZone("UTC0");
    EXPECT_EQ(1580515198000LL + 7, Format2NatureTime(2020, 1, 31, 23, 59, 58, 7));
    EXPECT_EQ(-1, Format2NatureTime(1960, 1, 1, 0, 0, 0, 0));
    UseZone("EST5");
    EXPECT_EQ((1580515198LL + 5 * 3600) * 1000, Format2NatureTime(2020, 1, 31, 23, 59, 58, 0));
    SetNatureTime(GetNatureTime(), -5 * 3600 * 1000LL);
    // Local seconds: the wall-clock fields read as if they were UTC.
    EXPECT_EQ(1580515198u, Format2LocalTime(2020, 1, 31, 23, 59, 58));
    EXPECT_EQ(0u, Format2LocalTime(1960, 1, 1, 0, 0, 0));

    EXPECT_EQ(static_cast<unsigned>(Format2NatureTime(2020, 1, 31, 23, 59, 58, 0) / 1000),
              Str2Time("20200131235958"));
    EXPECT_EQ(static_cast<unsigned>(Format2NatureTime(2020, 1, 31, 0, 0, 0, 0) / 1000),
              Str2Time("20200131"));
    EXPECT_EQ(0u, Str2Time(""));
    EXPECT_EQ(0u, Str2Time(nullptr));
    EXPECT_EQ(1580515198u, Str2LocalTime("20200131235958"));
    // Text beyond fourteen digits belongs to the seconds field.
    EXPECT_EQ(Str2Time("20200131235900") + 59u, Str2Time("2020013123590059"));
}

} // namespace
