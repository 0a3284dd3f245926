// The cached rules behind the Linux stack capture: the frames of ordinary
// code step by their rule (so the differential tests compare the rule walk,
// not the unwinder with itself), the table gives what the reader reads, and
// a capture in a signal handler crosses the signal frame as the runtime's
// unwinder does, on the thread's stack and on an alternate one.
#include "../StackWalkDiff.h"
#include "OrvexCommon/diag/OrvexDiag.h"
#include "OrvexCommon/platform/OrvexSys.h"
#include "OrvexCommon/platform/posix/FrameRule.h"

#include <gtest/gtest.h>

#include <csignal>
#include <string>
#include <thread>

namespace OrvexTest {

namespace {

namespace frames = Orvex::sys::frames;

std::string NameOf(void* address) {
    char name[512] = {};
    Orvex::DebugAddress2Symbol(address, name, sizeof(name) - 1);
    return name;
}

// Captures the whole stack at the bottom of `depth` calls of its own.
__attribute__((noinline)) unsigned WholeStackAtDepth(int depth, void** frames, unsigned room) {
    if (depth == 0) {
        return Orvex::sys::CaptureStackWithUnwinder(frames, 1, room + 1);
    }
    const unsigned stored = WholeStackAtDepth(depth - 1, frames, room);
    __asm__ __volatile__("" ::: "memory");
    return stored;
}

// The kinds of the rules of a whole stack, one letter per frame: S a step,
// O the outermost frame, U the unwinder's.
std::string KindsOfWholeStack(int depth) {
    void* frames[256] = {};
    const unsigned stored = WholeStackAtDepth(depth, frames, 256);
    std::string kinds;
    for (unsigned i = 0; i < stored; ++i) {
        const frames::SFrameRule rule =
            frames::ReadFrameRule(reinterpret_cast<std::uintptr_t>(frames[i]));
        EXPECT_EQ(rule.Bits(),
                  frames::FrameRuleFor(reinterpret_cast<std::uintptr_t>(frames[i])).Bits());
        kinds += "?SOU"[rule.Kind()];
    }
    return kinds;
}

} // namespace

// A thread's stack from its start routine down: every frame a step of the
// rule walk, the thread's first frame the outermost.
TEST(StackRules, EveryFrameOfAThreadStepsByItsRule) {
    std::string kinds;
    std::thread([&] { kinds = KindsOfWholeStack(12); }).join();
    ASSERT_GT(kinds.size(), 14u);
    EXPECT_EQ(std::string(kinds.size() - 1, 'S') + "O", kinds);
}

TEST(StackRules, TheMainThreadsFramesStepByTheirRules) {
    const std::string kinds = KindsOfWholeStack(5);
    ASSERT_GT(kinds.size(), 7u);
    // The frames of this test and of the test runner up to main.
    EXPECT_EQ(std::string(7, 'S'), kinds.substr(0, 7)) << kinds;
    EXPECT_EQ('O', kinds.back()) << kinds;
}

namespace {

SWalkPair g_signalWalks;
volatile std::sig_atomic_t g_signalHandled = 0;

void WalkInHandler(int) {
    WalkBoth(SWalkWindow{1, 64}, g_signalWalks);
    g_signalHandled = 1;
}

__attribute__((noinline)) void RaiseFromKnownFunction(int signal) {
    std::raise(signal);
    __asm__ __volatile__("" ::: "memory");
}

// Raises SIGUSR1 with WalkInHandler as its handler (on an alternate stack
// when asked) and returns the differences between the walks.
std::string WalkInSignalHandler(bool alternateStack) {
    static char handlerStack[64 * 1024];
    stack_t stack = {};
    stack.ss_sp = handlerStack;
    stack.ss_size = sizeof(handlerStack);
    stack_t previousStack = {};
    if (alternateStack) {
        EXPECT_EQ(0, sigaltstack(&stack, &previousStack));
    }
    struct sigaction action = {};
    struct sigaction previous = {};
    action.sa_handler = WalkInHandler;
    action.sa_flags = alternateStack ? SA_ONSTACK : 0;
    sigemptyset(&action.sa_mask);
    sigaction(SIGUSR1, &action, &previous);
    // Room reserved before the signal, so the handler allocates nothing.
    for (std::vector<void*>& frames : g_signalWalks.frames) {
        frames.reserve(64);
    }
    g_signalHandled = 0;
    RaiseFromKnownFunction(SIGUSR1);
    sigaction(SIGUSR1, &previous, nullptr);
    if (alternateStack) {
        sigaltstack(&previousStack, nullptr);
    }
    EXPECT_EQ(1, g_signalHandled);
    return DescribeDifference(SWalkWindow{1, 64}, g_signalWalks);
}

bool WalkReachedTheInterruptedFunction() {
    for (unsigned i = 0; i < g_signalWalks.stored[0]; ++i) {
        if (NameOf(g_signalWalks.frames[0][i]).find("::RaiseFromKnownFunction") !=
            std::string::npos) {
            return true;
        }
    }
    return false;
}

} // namespace

TEST(StackRules, SignalHandlerCaptureCrossesTheSignalFrame) {
    for (const bool alternateStack : {false, true}) {
        EXPECT_EQ("", WalkInSignalHandler(alternateStack)) << "alternate stack " << alternateStack;
        EXPECT_TRUE(WalkReachedTheInterruptedFunction()) << "alternate stack " << alternateStack;
    }
}

} // namespace OrvexTest
