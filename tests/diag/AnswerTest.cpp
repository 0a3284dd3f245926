// What each answer does to the process, seen from outside in a child.
#include "OrvexCommon/platform/OrvexSys.h"
#include "OrvexTestSupport.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

namespace {

int RunChild(const char* mode) {
    return OrvexTest::RunProcess(ORVEX_EXCEPTION_CHILD, {mode});
}

TEST(Answer, FatalAnsweredOkEndsTheProcessWithCodeOne) {
    EXPECT_EQ(1, RunChild("fatal-ok"));
}

TEST(Answer, FatalThatCouldNotBeAskedReturns) {
    EXPECT_EQ(0, RunChild("fatal-none"));
}

TEST(Answer, IgnoreReturns) {
    EXPECT_EQ(0, RunChild("ignore"));
}

TEST(Answer, AbortEndsTheProcessAbnormally) {
    // A signal death on POSIX (-1 here), the runtime's abort code on Windows.
    const int code = RunChild("abort");
    EXPECT_NE(0, code);
    EXPECT_NE(1, code);
    EXPECT_NE(20, code);
    EXPECT_NE(21, code);
}

TEST(Answer, RetryWithoutADebuggerDoesNotCarryOnNormally) {
    // The breakpoint fault has nobody to catch it, so the child must not
    // reach its normal exit; how it ends is the platform's affair.
    const int code = RunChild("retry");
    EXPECT_NE(0, code);
    EXPECT_NE(20, code);
    EXPECT_NE(21, code);
}

TEST(Answer, ThePlatformsOwnAnswerWithoutATerminalIsActedOn) {
    // What the platform answers when nobody sits at a terminal: OK / Ignore
    // where it falls back to its default, 0 where it cannot ask at all (an
    // error box without a display).
    const int fatalAnswer = RunChild("ask-fatal");
    const int otherAnswer = RunChild("ask-other");
    EXPECT_TRUE(fatalAnswer == 1 || fatalAnswer == 0) << fatalAnswer;
    EXPECT_TRUE(otherAnswer == 5 || otherAnswer == 0) << otherAnswer;

    EXPECT_EQ(fatalAnswer == 1 ? 1 : 0, RunChild("fatal-default"));
    EXPECT_EQ(0, RunChild("other-default"));
}

} // namespace

namespace {

// Standard output of a host of the shared library that ends in `mode`, and
// its exit code.
std::string RunTeardownChild(const char* mode, int& exitCode) {
    const std::string output = std::string("teardown_child_") + mode + ".txt";
    std::remove(output.c_str());
    exitCode = OrvexTest::RunProcess(ORVEX_TEARDOWN_CHILD, {mode, output});
    std::ifstream stream(output, std::ios::binary);
    std::stringstream text;
    text << stream.rdbuf();
    stream.close();
    std::remove(output.c_str());
    return text.str();
}

// Threads that end while main returns give their allocator caches back once,
// whether they or the teardown get there first: the leak line counts the one
// block main kept (100 bytes, a 104-byte unit), no crash, no race.
TEST(Answer, ThreadsEndingAsTheProcessExitsLoseAndDoubleNothing) {
    if (Orvex::sys::PathsHaveDrives()) {
        // There the teardown runs only after every other thread has been
        // ended, and the system may leave it out when one was ended inside
        // its own way out.
        GTEST_SKIP() << "Windows ends every other thread before the library's teardown";
    }
    // Under ThreadSanitizer a report ends the child at once, with an exit
    // code: reports made while the process exits would not change the code.
    // (AddressSanitizer ends at its first report already.)
    OrvexTest::SetEnvironment("TSAN_OPTIONS", "halt_on_error=1");
    for (int run = 0; run < 20; ++run) {
        int exitCode = -1;
        const std::string text = RunTeardownChild("threads-ending", exitCode);
        ASSERT_EQ(0, exitCode) << text;
        ASSERT_NE(std::string::npos, text.find("may be 104 byte memory leak")) << text;
    }
    OrvexTest::SetEnvironment("TSAN_OPTIONS", nullptr);
}

// A process that declared itself broken ends at once: the library's teardown
// (which would report the leak, deliver finished loads to listeners, close
// logs) does not run, whichever way the fatal path ends it.
TEST(Answer, FatalEndsRunNoTeardownOfTheLibrary) {
    int exitCode = -1;
    const std::string normal = RunTeardownChild("return", exitCode);
    EXPECT_EQ(0, exitCode);
    ASSERT_NE(std::string::npos, normal.find("child started")) << normal;
    EXPECT_NE(std::string::npos, normal.find("memory leak")) << "the teardown ran: " << normal;

    const char* const endings[] = {"fatal-ok", "abort", "duplicate"};
    for (const char* mode : endings) {
        const std::string text = RunTeardownChild(mode, exitCode);
        EXPECT_NE(std::string::npos, text.find("child started")) << mode << ": " << text;
        EXPECT_EQ(std::string::npos, text.find("memory leak")) << mode << ": " << text;
        EXPECT_NE(0, exitCode) << mode;
        EXPECT_NE(20, exitCode) << mode;
        EXPECT_NE(21, exitCode) << mode;
        if (std::string(mode) == "fatal-ok") {
            EXPECT_EQ(1, exitCode);
        }
    }
}

} // namespace
