// Two threads writing lines to one log while it leaves a full file, with a
// third flushing every log meanwhile: no byte lost, no line torn.
#include "LogFileTestSupport.h"

#include "OrvexCommon/log/OrvexLogFile.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

namespace {

using OrvexTest::kSizeLimit;
using OrvexTest::LocalTime;
using OrvexTest::MovedCalendar;
using OrvexTest::ReadWhole;
using OrvexTest::ScratchLogs;

constexpr int kLinesPerThread = 3000;
// Room left in the first file: the writers cross the limit early on.
constexpr std::uint32_t kRoomLeft = 20000;

// Line `index` of thread `thread`: its length varies, so that a torn or
// doubled write cannot line up with a neighbour by chance.
std::string Line(int thread, int index) {
    char head[32];
    std::snprintf(head, sizeof(head), "T%d %05d ", thread, index);
    return std::string(head) +
           std::string(static_cast<std::size_t>(index % 37), static_cast<char>('a' + thread)) +
           "\n";
}

// Splits text into lines, each with its line feed; false when text does not
// end with one.
bool SplitLines(const std::string& text, std::vector<std::string>& lines) {
    std::size_t start = 0;
    while (start < text.size()) {
        const std::size_t end = text.find('\n', start);
        if (end == std::string::npos) {
            return false;
        }
        lines.push_back(text.substr(start, end + 1 - start));
        start = end + 1;
    }
    return true;
}

TEST(LogFileConcurrency, TwoWritersAcrossASizeSwitchLoseAndTearNothing) {
    MovedCalendar calendar(LocalTime(2020, 1, 31));
    ScratchLogs scratch("threads");
    const std::string first = scratch.Path("c_2020-01-31-0.1.log");
    const std::string second = scratch.Path("c_2020-01-31-1.1.log");
    const std::uint32_t before = kSizeLimit - kRoomLeft;
    OrvexTest::MakeFile(first, before, "\n");
    Orvex::ILog* log = scratch.Log("c", 1);
    ASSERT_NE(nullptr, log);
    const std::string name = scratch.Path("c");

    std::atomic<bool> writing{true};
    std::atomic<std::uint64_t> written{0};
    // One writer through the object, one through the name.
    std::thread byObject([&] {
        for (int i = 0; i < kLinesPerThread; ++i) {
            const std::string line = Line(0, i);
            log->Write(line.data(), static_cast<unsigned>(line.size()));
            written += line.size();
        }
    });
    std::thread byName([&] {
        for (int i = 0; i < kLinesPerThread; ++i) {
            const std::string line = Line(1, i);
            Orvex::WriteLog(name.c_str(), line.data(), static_cast<unsigned>(line.size()), 1);
            written += line.size();
        }
    });
    std::thread flusher([&] {
        while (writing.load()) {
            Orvex::FlushAllLog();
            std::this_thread::yield();
        }
    });
    byObject.join();
    byName.join();
    writing = false;
    flusher.join();
    log->Flush();

    ASSERT_EQ(second, log->GetFileName()) << "one switch for size reopens, the next moves on";
    const std::string firstBytes = ReadWhole(first);
    const std::string secondBytes = ReadWhole(second);
    ASSERT_GT(firstBytes.size(), kSizeLimit) << "the first file was filled past the limit";
    EXPECT_EQ(written.load(), firstBytes.size() - before + secondBytes.size());
    EXPECT_EQ(secondBytes.size(), log->GetFileSize());

    std::vector<std::string> lines;
    ASSERT_TRUE(SplitLines(firstBytes.substr(before), lines));
    ASSERT_TRUE(SplitLines(secondBytes, lines));
    ASSERT_EQ(2u * kLinesPerThread, lines.size());
    // Each thread's lines appear whole, once each and in the order written.
    int next[2] = {0, 0};
    for (const std::string& line : lines) {
        const int thread = line[1] - '0';
        ASSERT_TRUE(line[0] == 'T' && (thread == 0 || thread == 1)) << line;
        ASSERT_EQ(Line(thread, next[thread]), line);
        ++next[thread];
    }
    EXPECT_EQ(kLinesPerThread, next[0]);
    EXPECT_EQ(kLinesPerThread, next[1]);
}

} // namespace
