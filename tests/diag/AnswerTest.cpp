// What each answer does to the process, seen from outside in a child.
#include "OrvexTestSupport.h"

#include <gtest/gtest.h>

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
