#include "OrvexCommon/platform/OrvexSys.h"
#include "OrvexCommon/time/OrvexClock.h"
#include "OrvexCommon/time/OrvexTimer.h"

#include <gtest/gtest.h>

namespace {

using namespace Orvex;

class GameClockRestored : public ::testing::Test {
protected:
    void TearDown() override {
        PauseOrvexTime(false);
        SetOrvexTime(GetProcessTime());
    }
};

TEST_F(GameClockRestored, TimerStandsStillWhileTheGameClockIsPaused) {
    PauseOrvexTime(true);
    CTimer timer;
    sys::SleepMilliseconds(30);
    EXPECT_EQ(0u, timer.GetElapse());
    EXPECT_EQ(static_cast<unsigned long long>(GetOrvexTime()), timer.GetStartTime());
    PauseOrvexTime(false);
    sys::SleepMilliseconds(30);
    const unsigned long long running = timer.GetElapse();
    EXPECT_GE(running, 25u);
    EXPECT_LT(running, 5000u);
    PauseOrvexTime(true);
    const unsigned long long frozen = timer.GetElapse();
    sys::SleepMilliseconds(20);
    EXPECT_EQ(frozen, timer.GetElapse());
    timer.Restart();
    EXPECT_EQ(0u, timer.GetElapse());
}

TEST_F(GameClockRestored, SettingGameTimeBackMakesTheElapsedTimeWrap) {
    CTimer timer;
    SetOrvexTime(GetOrvexTime() - 100000);
    EXPECT_GT(timer.GetElapse(), 1ull << 63);
    CTimer copy;
    copy = timer;
    EXPECT_EQ(timer.GetStartTime(), copy.GetStartTime());
}

TEST(FrameRate, RefreshesOnceASecondWithTheAverageOfThePeriod) {
    while (GetProcessTime() < 1000) {
        sys::SleepMilliseconds(10);
    }
    CFPS counter;
    // First call on a new counter: one frame over the whole process time.
    const float first = counter.GetFPS();
    EXPECT_GT(first, 0.0f);
    EXPECT_LE(first, 1.0f);
    // Frames every 20 ms: the figure holds until a second has passed.
    PauseOrvexTime(true); // the counter runs on process time: pausing changes nothing
    const long long start = GetProcessTime();
    int frames = 0;
    float figure = first;
    while (figure == first && GetProcessTime() - start < 3000) {
        sys::SleepMilliseconds(20);
        figure = counter.GetFPS();
        ++frames;
    }
    PauseOrvexTime(false);
    SetOrvexTime(GetProcessTime()); // leave the game clock as other tests expect it
    const long long period = GetProcessTime() - start;
    EXPECT_GE(period, 1000);
    const float expected = static_cast<float>(frames * 1000.0 / period);
    EXPECT_NEAR(expected, figure, expected * 0.1f);
    EXPECT_GT(figure, 10.0f);
    EXPECT_EQ(figure, counter.GetFPS()) << "the figure holds between refreshes";
}

} // namespace
