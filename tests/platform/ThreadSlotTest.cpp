// Thread slots beside the allocator's, the thread id, the decimal point and the
// paired clock reading.
#include "OrvexCommon/platform/OrvexSys.h"

#include <gtest/gtest.h>

#include <atomic>
#include <clocale>
#include <string>
#include <thread>

namespace {

using namespace Orvex::sys;

std::atomic<void*> g_exitValue{nullptr};

void RememberExit(void* value) {
    g_exitValue.store(value);
}

// The allocator holds one slot; this test takes the others, and each keeps
// its own value per thread, handed to its exit call when the thread ends.
TEST(ThreadSlot, EachSlotKeepsItsOwnValueAndExitCall) {
    ThreadSlot* mine = CreateThreadSlot(RememberExit);
    ASSERT_NE(mine, nullptr);
    ThreadSlot* more[kMaxThreadSlots] = {};
    unsigned extra = 0;
    while (extra < kMaxThreadSlots && (more[extra] = CreateThreadSlot(nullptr)) != nullptr) {
        ++extra;
    }
    EXPECT_LT(extra, kMaxThreadSlots - 1); // the allocator's slot counts too
    int here = 0, there = 0;
    SetThreadSlot(mine, &here);
    for (unsigned k = 0; k < extra; ++k) {
        EXPECT_EQ(GetThreadSlot(more[k]), nullptr);
    }
    std::thread other([&] {
        EXPECT_EQ(GetThreadSlot(mine), nullptr);
        SetThreadSlot(mine, &there);
        EXPECT_EQ(GetThreadSlot(mine), &there);
    });
    other.join();
    EXPECT_EQ(g_exitValue.load(), &there);
    EXPECT_EQ(GetThreadSlot(mine), &here);
    SetThreadSlot(mine, nullptr);
    for (unsigned k = 0; k < extra; ++k) {
        DestroyThreadSlot(more[k]);
    }
    DestroyThreadSlot(mine);
    // A destroyed slot is free again.
    ThreadSlot* again = CreateThreadSlot(nullptr);
    EXPECT_NE(again, nullptr);
    DestroyThreadSlot(again);
}

TEST(ThreadId, DiffersBetweenThreadsAndStays) {
    const unsigned mine = CurrentThreadId();
    EXPECT_EQ(CurrentThreadId(), mine);
    unsigned theirs = mine;
    std::thread([&] { theirs = CurrentThreadId(); }).join();
    EXPECT_NE(theirs, mine);
    EXPECT_NE(mine, 0u);
}

// In the C locale, on any thread, the record the runtime's printf reads.
TEST(DecimalPoint, IsTheLocaleRecords) {
    EXPECT_STREQ(DecimalPoint(), std::localeconv()->decimal_point);
    std::string theirs;
    std::thread([&] { theirs = DecimalPoint(); }).join();
    EXPECT_EQ(theirs, ".");
}

// Both counts move together: the milliseconds are the millisecond clock's,
// the nanoseconds never go back and cover a sleep as the milliseconds do.
TEST(ClockReading, PairsTheMillisecondClockWithAFinerCount) {
    ClockReading previous = ReadMonotonicClocks();
    for (int i = 0; i < 10000; ++i) {
        const std::uint64_t before = MonotonicMilliseconds();
        const ClockReading now = ReadMonotonicClocks();
        const std::uint64_t after = MonotonicMilliseconds();
        ASSERT_GE(now.nanoseconds, previous.nanoseconds);
        ASSERT_GE(now.milliseconds, before);
        ASSERT_LE(now.milliseconds, after);
        previous = now;
    }
    const ClockReading start = ReadMonotonicClocks();
    SleepMilliseconds(50);
    const ClockReading end = ReadMonotonicClocks();
    const double fine = (end.nanoseconds - start.nanoseconds) / 1e6;
    const double coarse = static_cast<double>(end.milliseconds - start.milliseconds);
    EXPECT_GE(fine, 40);
    EXPECT_NEAR(fine, coarse, 20); // the millisecond tick may be coarse
}

} // namespace
