// A process killed right after FlushAllLog keeps every byte written before
// it, in every log; what was written after it stays in the process's buffer.
#include "LogFileTestSupport.h"

#include "OrvexTestSupport.h"

#include <gtest/gtest.h>

#include <chrono>
#include <sstream>
#include <string>
#include <thread>

namespace {

using OrvexLogTest::ChildLine;
using OrvexLogTest::Exists;
using OrvexLogTest::ReadWhole;
using OrvexLogTest::ScratchLogs;

constexpr int kLines = 600;

TEST(LogFileDurability, FlushedBytesSurviveAKill) {
    ScratchLogs scratch("durable");
    const std::string signal = scratch.Path("flushed");
    OrvexTest::ChildProcess child(ORVEX_LOG_CHILD,
                                  {scratch.Folder(), std::to_string(kLines), signal});
    ASSERT_TRUE(child.IsStarted());

    // A guard against a hang, not a measure: the child signals once it has
    // flushed, or ends early on an error.
    const auto giveUp = std::chrono::steady_clock::now() + std::chrono::minutes(3);
    int exitCode = 0;
    bool running = true;
    while (!Exists(signal) && (running = child.IsRunning(&exitCode)) &&
           std::chrono::steady_clock::now() < giveUp) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ASSERT_TRUE(running) << "the helper ended with " << exitCode;
    ASSERT_TRUE(Exists(signal));
    ASSERT_TRUE(child.Kill()) << "killed while it waited";

    std::istringstream names(ReadWhole(signal));
    std::string fileA, fileB;
    std::getline(names, fileA);
    std::getline(names, fileB);
    EXPECT_EQ(scratch.Path("a_2020-01-31-0.1.log"), fileA);
    EXPECT_EQ(scratch.Path("b_2020-01-31-0.2.log"), fileB);

    std::string expectedA, expectedB;
    for (int i = 0; i < kLines; ++i) {
        expectedA += ChildLine('a', i) + "\n";
        expectedB += ChildLine('b', i) + "\r\n";
    }
    // The unflushed "tail" is not there: writes are buffered, and only the
    // flush moved bytes out of the process.
    EXPECT_EQ(expectedA, ReadWhole(fileA));
    EXPECT_EQ(expectedB, ReadWhole(fileB));
}

} // namespace
