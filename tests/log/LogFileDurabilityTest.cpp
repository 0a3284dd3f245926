// A process killed right after FlushAllLog keeps every byte written before
// it, in every log; what was written after it stays in the process's buffer.
#include "LogFileTestSupport.h"

#include "OrvexTestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

namespace {

using OrvexTest::ChildLine;
using OrvexTest::Exists;
using OrvexTest::ReadWhole;
using OrvexTest::ScratchLogs;

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

namespace {

// A disk that fills up: what did not fit is dropped and said once on the
// error stream, and the log writes again as soon as there is room.
TEST(LogFileDurability, WritesResumeWhenADiskHasRoomAgain) {
    ScratchLogs scratch("full");
    Orvex::ILog* log = scratch.Log("log", 1);
    ASSERT_NE(nullptr, log);
    const std::string fileName = log->GetFileName();
    const std::string full(999, 'f');
    OrvexTest::ConsoleCapture errors(OrvexTest::ConsoleTarget::Error);
    {
        OrvexTest::FileSizeLimit limit(16 * 1024);
        if (!limit.IsActive()) {
            errors.Finish();
            GTEST_SKIP() << "this platform cannot limit a file's size";
        }
        for (int line = 0; line < 100; ++line) {
            log->Print("%s", full.c_str());
        }
        log->Flush();
        log->Print("%s", full.c_str());
    }
    const std::size_t kept = ReadWhole(fileName).size();
    EXPECT_LE(kept, 16u * 1024);
    EXPECT_GT(kept, 0u);
    log->Print("after");
    Orvex::FlushAllLog();
    const std::string said = errors.Finish();
    EXPECT_EQ(1, std::count(said.begin(), said.end(), '\n')) << said;
    EXPECT_NE(std::string::npos, said.find("cannot write log file")) << said;
    const std::string text = ReadWhole(fileName);
    ASSERT_GE(text.size(), kept + 7);
    EXPECT_EQ("after\r\n", text.substr(text.size() - 7));
}

// A log whose folder cannot be made (a file holds its name) drops its
// writes and says so once; once the folder can be made, a write a second or
// more later opens the file and the log writes again.
TEST(LogFileDurability, AnUnopenableLogComesBackWhenItsFolderCanBeMade) {
    ScratchLogs scratch("blocked");
    const std::filesystem::path blocker = std::filesystem::u8path(scratch.Path("sub"));
    { std::ofstream(blocker) << "not a folder"; }
    OrvexTest::ConsoleCapture errors(OrvexTest::ConsoleTarget::Error);
    Orvex::ILog* log = scratch.Log("sub/log", 1);
    ASSERT_NE(nullptr, log);
    EXPECT_EQ(0u, log->Write("lost\r\n", 6));
    std::filesystem::remove(blocker);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    unsigned written = 0;
    while (written == 0 && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        written = log->Write("back\r\n", 6);
    }
    EXPECT_EQ(6u, written);
    log->Flush();
    const std::string said = errors.Finish();
    EXPECT_EQ(1, std::count(said.begin(), said.end(), '\n')) << said;
    EXPECT_NE(std::string::npos, said.find("cannot open log file")) << said;
    EXPECT_EQ("back\r\n", ReadWhole(log->GetFileName()));
}

} // namespace
