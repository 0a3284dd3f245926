// The stack capture against the platform unwinder's own step-by-step walk
// (sys::CaptureStackWithUnwinder): the same frames for every window of
// frames, on shallow and deep stacks, inside the library's tick callback and
// in plain test code, from several threads at once (they share the cached
// rules). GetStack's skip and depth map onto these windows as first =
// skip + 1, last = depth + 1.
#include "StackWalkDiff.h"
#include "OrvexCommon/platform/OrvexSys.h"
#include "OrvexCommon/time/OrvexTick.h"

#include <gtest/gtest.h>

#include <atomic>
#include <sstream>
#include <thread>
#include <vector>

namespace OrvexTest {

namespace {

// Windows of frames [first, last): the edges of GetStack's skip and depth (0
// and 1, depth not above skip, more than the stack holds) and ordinary ones.
const SWalkWindow kWindows[] = {
    {1, 1},  {2, 1},  {1, 2},    {2, 3},    {1, 3},     {3, 4},
    {1, 33}, {2, 33}, {1, 4000}, {2, 4000}, {40, 4000}, {60000, 60003},
};

// Frames found to differ, described, for every window at this point.
std::string CompareHere() {
    std::ostringstream differences;
    for (const SWalkWindow& window : kWindows) {
        SWalkPair walks;
        WalkBoth(window, walks);
        differences << DescribeDifference(window, walks);
    }
    return differences.str();
}

// Runs CompareHere at the bottom of `depth` nested calls of its own.
__attribute__((noinline)) std::string CompareAtDepth(int depth) {
    if (depth == 0) {
        return CompareHere();
    }
    std::string result = CompareAtDepth(depth - 1);
    __asm__ __volatile__("" ::: "memory");
    return result;
}

// Compares from inside the tick manager's update, at a depth of its own.
class CCompareTick : public Orvex::CTick {
public:
    explicit CCompareTick(int depth) : m_depth(depth) {}
    void OnTick() override {
        differences += CompareAtDepth(m_depth);
        ++runs;
    }

    std::string differences;
    int runs = 0;

private:
    int m_depth;
};

std::string CompareInTick(int depth) {
    CCompareTick tick(depth);
    Orvex::CTickMgr manager;
    manager.AddTick(&tick, 1, 7);
    manager.Update(2);
    manager.DelTick(&tick);
    return tick.runs == 1 ? tick.differences : "the tick did not run once\n";
}

const int kDepths[] = {0, 1, 7, 64, 150};

} // namespace

TEST(StackWalkDiff, SameFramesAsTheUnwinderInTestCode) {
    for (const int depth : kDepths) {
        EXPECT_EQ("", CompareAtDepth(depth)) << "depth " << depth;
    }
}

TEST(StackWalkDiff, SameFramesAsTheUnwinderInsideTheLibraryCallback) {
    for (const int depth : kDepths) {
        EXPECT_EQ("", CompareInTick(depth)) << "depth " << depth;
    }
}

// The rules are shared: threads that walk at once, new return addresses
// among them, see the same frames as their unwinder.
TEST(StackWalkDiff, SameFramesFromSeveralThreadsAtOnce) {
    constexpr int kThreads = 4;
    constexpr int kRounds = 4;
    std::vector<std::string> differences(kThreads);
    std::atomic<int> ready{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            ready.fetch_add(1);
            while (ready.load() < kThreads) {
                std::this_thread::yield();
            }
            for (int round = 0; round < kRounds; ++round) {
                const int depth = kDepths[(t + round) % (sizeof(kDepths) / sizeof(kDepths[0]))];
                differences[t] += round % 2 == 0 ? CompareAtDepth(depth) : CompareInTick(depth);
            }
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    for (int t = 0; t < kThreads; ++t) {
        EXPECT_EQ("", differences[t]) << "thread " << t;
    }
}

} // namespace OrvexTest
