// When a log leaves its file: over 10 485 760 bytes, and when the local date
// (year, month and day together) is not the one its file was opened on.
#include "LogFileTestSupport.h"

#include "OrvexCommon/log/OrvexLogFile.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

namespace {

using OrvexTest::kSizeLimit;
using OrvexTest::LocalTime;
using OrvexTest::MakeFile;
using OrvexTest::MovedCalendar;
using OrvexTest::ReadWhole;
using OrvexTest::ScratchLogs;
using OrvexTest::SizeOf;

TEST(LogRotation, AFileAtTheLimitTakesOneMoreWriteThenTheSameNameIsReopenedThenTheNext) {
    const std::int64_t noon = LocalTime(2020, 1, 31);
    MovedCalendar calendar(noon);
    ScratchLogs scratch("atlimit");
    const std::string first = scratch.Path("s_2020-01-31-0.1.log");
    const std::string second = scratch.Path("s_2020-01-31-1.1.log");
    MakeFile(first, kSizeLimit, "end");
    Orvex::ILog* log = scratch.Log("s", 1);
    ASSERT_NE(nullptr, log);
    ASSERT_EQ(kSizeLimit, log->GetFileSize());
    const std::int64_t opened = log->GetCreateTime();

    // A minute later, so that a switch shows in the creation time.
    calendar.MoveTo(noon + 60);
    log->Write("a", 1);
    EXPECT_EQ(first, log->GetFileName());
    EXPECT_EQ(kSizeLimit + 1, log->GetFileSize());
    EXPECT_EQ(opened, log->GetCreateTime()) << "exactly at the limit: no switch yet";

    log->Write("b", 1);
    EXPECT_EQ(first, log->GetFileName()) << "the first switch keeps number 0";
    EXPECT_EQ(kSizeLimit + 2, log->GetFileSize()) << "reopened: its length read back";
    EXPECT_GE(log->GetCreateTime(), noon + 60) << "this write switched";

    log->Write("c", 1);
    EXPECT_EQ(second, log->GetFileName());
    EXPECT_EQ(1u, log->GetFileSize());
    log->Write("d", 1);
    EXPECT_EQ(second, log->GetFileName());
    log->Flush();

    EXPECT_EQ(kSizeLimit + 2, SizeOf(first));
    const std::string tail = ReadWhole(first).substr(kSizeLimit - 3);
    EXPECT_EQ("endab", tail);
    EXPECT_EQ("cd", ReadWhole(second));
}

TEST(LogRotation, AFileOverTheLimitSwitchesOnItsFirstWrite) {
    const std::int64_t noon = LocalTime(2020, 1, 31);
    MovedCalendar calendar(noon);
    ScratchLogs scratch("overlimit");
    const std::string first = scratch.Path("o_2020-01-31-0.2.log");
    MakeFile(first, kSizeLimit + 1);
    Orvex::ILog* log = scratch.Log("o", 2);
    ASSERT_NE(nullptr, log);
    calendar.MoveTo(noon + 60);
    log->Write("x", 1);
    EXPECT_GE(log->GetCreateTime(), noon + 60);
    EXPECT_EQ(first, log->GetFileName());
    EXPECT_EQ(kSizeLimit + 2, log->GetFileSize());
    log->Write("y", 1);
    EXPECT_EQ(scratch.Path("o_2020-01-31-1.2.log"), log->GetFileName());
    EXPECT_EQ(1u, log->GetFileSize());
}

TEST(LogRotation, TheWholeDateDecidesAndNumbersCountEverySwitch) {
    MovedCalendar calendar(LocalTime(2020, 1, 31));
    ScratchLogs scratch("dates");
    Orvex::ILog* log = scratch.Log("d", 2);
    ASSERT_NE(nullptr, log);
    log->Write("1", 1);

    calendar.MoveTo(LocalTime(2020, 1, 31, 23, 59));
    log->Write("2", 1);
    EXPECT_EQ(scratch.Path("d_2020-01-31-0.2.log"), log->GetFileName()) << "same day";

    // The same day of another month is another date.
    const std::int64_t march = LocalTime(2020, 3, 31);
    calendar.MoveTo(march);
    log->Write("3", 1);
    EXPECT_EQ(scratch.Path("d_2020-03-31-0.2.log"), log->GetFileName());
    EXPECT_GE(log->GetCreateTime(), march);
    EXPECT_LT(log->GetCreateTime(), march + 3600);
    EXPECT_EQ(1u, log->GetFileSize());
    EXPECT_EQ("12", ReadWhole(scratch.Path("d_2020-01-31-0.2.log"))) << "closed at the switch";

    // ... and of another year.
    calendar.MoveTo(LocalTime(2021, 3, 31));
    log->Write("4", 1);
    EXPECT_EQ(scratch.Path("d_2021-03-31-1.2.log"), log->GetFileName());

    // A clock put back is a change of date as well.
    calendar.MoveTo(LocalTime(2021, 3, 30));
    log->Write("5", 1);
    EXPECT_EQ(scratch.Path("d_2021-03-30-2.2.log"), log->GetFileName());
    log->Flush();
    EXPECT_EQ("3", ReadWhole(scratch.Path("d_2020-03-31-0.2.log")));
    EXPECT_EQ("4", ReadWhole(scratch.Path("d_2021-03-31-1.2.log")));
    EXPECT_EQ("5", ReadWhole(scratch.Path("d_2021-03-30-2.2.log")));
}

// A log keeps the seconds its date lasts: the date changes at local midnight,
// not before, not after. (The moved calendar runs on: the margins are a few
// seconds wide.)
TEST(LogRotation, TheDateChangesExactlyAtLocalMidnight) {
    const std::int64_t midnight = LocalTime(2020, 6, 16, 0, 0);
    MovedCalendar calendar(midnight - 30);
    ScratchLogs scratch("midnight");
    Orvex::ILog* log = scratch.Log("m", 3);
    ASSERT_NE(nullptr, log);
    log->Write("a", 1);
    EXPECT_EQ(scratch.Path("m_2020-06-15-0.3.log"), log->GetFileName());
    calendar.MoveTo(midnight);
    log->Write("b", 1);
    EXPECT_EQ(scratch.Path("m_2020-06-16-0.3.log"), log->GetFileName());
    calendar.MoveTo(midnight + 86370);
    log->Write("c", 1);
    EXPECT_EQ(scratch.Path("m_2020-06-16-0.3.log"), log->GetFileName());
    calendar.MoveTo(midnight - 30);
    log->Write("d", 1);
    EXPECT_EQ(scratch.Path("m_2020-06-15-1.3.log"), log->GetFileName());
}

} // namespace
