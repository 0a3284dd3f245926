// Threads ended by force in the middle of the library's work, over and over
// at random moments: the join returns, and the facility the thread was using
// still answers the next caller. ORVEX_FORCED_END_ROUNDS sets the rounds per
// loop (20 by default; the reliability runs use 200).
#include "OrvexCommon/log/OrvexLog.h"
#include "OrvexCommon/memory/OrvexMemory.h"
#include "OrvexCommon/platform/OrvexPlatform.h"
#include "OrvexCommon/platform/OrvexSys.h"

#include "OrvexScratch.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <random>
#include <string>
#include <thread>

// Present under LeakSanitizer: a block taken just before the thread's end is
// never freed, as a forced end promises, and is not the library's leak.
extern "C" void __lsan_disable() __attribute__((weak));

namespace {

using namespace Orvex;

struct SLoopState {
    std::atomic<bool> started{false};
    std::string logName;
    std::mutex mutex;
    std::condition_variable wakeUp;
};

void Started(SLoopState& state) {
    state.started.store(true);
}

unsigned ORVEX_THREAD_CALL AllocateAndFree(void* context) {
    if (__lsan_disable != nullptr) {
        __lsan_disable();
    }
    Started(*static_cast<SLoopState*>(context));
    // Sizes from the classes to the blocks above them, which go to the heap.
    for (unsigned size = 2000;; size = size >= 72000 ? 2000 : size + 3500) {
        void* block = OrvexAlloc(size);
        OrvexFree(block);
    }
}

unsigned ORVEX_THREAD_CALL WriteToOneLog(void* context) {
    auto* state = static_cast<SLoopState*>(context);
    Started(*state);
    for (;;) {
        WriteLog(state->logName.c_str(), "forced end\n", 11, 1);
    }
}

unsigned ORVEX_THREAD_CALL WriteToTheLogStream(void* context) {
    Started(*static_cast<SLoopState*>(context));
    // No line feed: nothing reaches the console until the check ends the line.
    for (;;) {
        GetLogStream() << '.';
    }
}

unsigned ORVEX_THREAD_CALL WaitOnAConditionVariable(void* context) {
    auto* state = static_cast<SLoopState*>(context);
    std::unique_lock<std::mutex> hold(state->mutex);
    Started(*state);
    for (;;) {
        state->wakeUp.wait(hold);
    }
}

void AllocateOnce(SLoopState&) {
    for (unsigned size = 2000; size <= 72000; size += 3500) {
        OrvexFree(OrvexAlloc(size));
    }
}

void LogOnce(SLoopState& state) {
    WriteLog(state.logName.c_str(), "after\n", 6, 1);
}

void EndTheStreamLine(SLoopState&) {
    GetLogStream() << "\n";
}

// The mutex is free, and the condition variable still wakes a new waiter.
void WaitAndWakeOnce(SLoopState& state) {
    bool woken = false;
    std::thread waiter([&] {
        std::unique_lock<std::mutex> hold(state.mutex);
        state.wakeUp.wait(hold, [&] { return woken; });
    });
    {
        std::lock_guard<std::mutex> hold(state.mutex);
        woken = true;
    }
    state.wakeUp.notify_all();
    waiter.join();
}

// Runs `work` on a helper; false when it has not finished within two
// seconds (the helper is then left behind, still blocked). A helper that
// finished is joined, so none is still ending while the process exits.
bool FinishesInTime(std::function<void()> work) {
    auto done = std::make_shared<std::promise<void>>();
    std::future<void> finished = done->get_future();
    std::thread helper([work, done] {
        work();
        done->set_value();
    });
    const bool inTime = finished.wait_for(std::chrono::seconds(2)) == std::future_status::ready;
    inTime ? helper.join() : helper.detach();
    return inTime;
}

int Rounds() {
    const char* text = std::getenv("ORVEX_FORCED_END_ROUNDS");
    const int rounds = text != nullptr ? std::atoi(text) : 0;
    return rounds > 0 ? rounds : 20;
}

struct SLoop {
    const char* what;
    sys::ThreadProc loop;
    void (*afterwards)(SLoopState&);
};

class ForcedEndLoop : public ::testing::TestWithParam<SLoop> {};

TEST_P(ForcedEndLoop, NoJoinAndNoNextCallHangs) {
    if (!sys::EndsAreHeldBack()) {
        GTEST_SKIP() << "this platform ends a thread at once, whatever it holds";
    }
    const SLoop& loop = GetParam();
    OrvexTest::ScratchFolder folder(
        std::filesystem::temp_directory_path() /
        ("orvex-forced-end-" + std::to_string(OrvexGetCurrentProcessID())));
    SLoopState state;
    state.logName = (folder.Path() / "loop").string();
    std::mt19937 random(12345);
    int hungJoins = 0;
    int hungCalls = 0;
    for (int round = 0; round < Rounds() && hungJoins + hungCalls == 0; ++round) {
        state.started.store(false);
        sys::Thread* thread = sys::StartThread(loop.loop, &state, 0);
        ASSERT_NE(nullptr, thread);
        while (!state.started.load()) {
            std::this_thread::yield();
        }
        // A waiter has given its mutex up once the mutex can be taken.
        { std::lock_guard<std::mutex> settled(state.mutex); }
        std::this_thread::sleep_for(std::chrono::microseconds(random() % 3000));
        ASSERT_TRUE(sys::TerminateThread(thread, 9));
        hungJoins += FinishesInTime([thread] { sys::JoinThread(thread, nullptr); }) ? 0 : 1;
        hungCalls += FinishesInTime([&] { loop.afterwards(state); }) ? 0 : 1;
    }
    EXPECT_EQ(0, hungJoins);
    EXPECT_EQ(0, hungCalls);
    if (hungJoins + hungCalls != 0) {
        std::_Exit(1); // blocked helpers would hang the exit's teardown
    }
}

INSTANTIATE_TEST_SUITE_P(
    Library, ForcedEndLoop,
    ::testing::Values(SLoop{"allocator", AllocateAndFree, AllocateOnce},
                      SLoop{"log_file", WriteToOneLog, LogOnce},
                      SLoop{"log_stream", WriteToTheLogStream, EndTheStreamLine},
                      SLoop{"condition_wait", WaitOnAConditionVariable, WaitAndWakeOnce}),
    [](const ::testing::TestParamInfo<SLoop>& info) { return std::string(info.param.what); });

} // namespace
