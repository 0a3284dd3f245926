// Forced thread ends: wherever the thread is, it ends at once with the code
// given, nothing on its stack unwound, and the process carries on.
#include "OrvexCommon/platform/OrvexPlatform.h"
#include "OrvexCommon/platform/OrvexSys.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <thread>

namespace {

using namespace Orvex;

struct SScenario {
    std::atomic<int> started{0};
    std::atomic<int> pastTheEnd{0}; // set by code that must never run
    void* lock = nullptr;
};

void Started(void* context) {
    static_cast<SScenario*>(context)->started.store(1);
}

unsigned ORVEX_THREAD_CALL SpinWithoutSystemCalls(void* context) {
    Started(context);
    volatile unsigned long long turns = 0;
    for (;;) {
        turns = turns + 1;
    }
}

unsigned ORVEX_THREAD_CALL WaitForAHeldLock(void* context) {
    auto* scenario = static_cast<SScenario*>(context);
    Started(context);
    OrvexLock(scenario->lock);
    scenario->pastTheEnd.store(1);
    OrvexUnlock(scenario->lock);
    return 0;
}

unsigned ORVEX_THREAD_CALL SleepInsideCatchAll(void* context) {
    Started(context);
    for (;;) {
        try {
            OrvexSleep(1);
        } catch (...) {
            // swallowed: an unwinding end would be stopped here
        }
    }
}

void SleepForeverNoexcept(void* context) noexcept {
    Started(context);
    for (;;) {
        OrvexSleep(1);
    }
}

unsigned ORVEX_THREAD_CALL CallANoexceptFunction(void* context) {
    SleepForeverNoexcept(context);
    return 0;
}

unsigned ORVEX_THREAD_CALL ExitInsideCatchAll(void* context) {
    Started(context);
    try {
        OrvexExitThread(77);
    } catch (...) {
    }
    static_cast<SScenario*>(context)->pastTheEnd.store(1);
    return 1;
}

// Joins `thread` on a helper thread; the exit code, or -1 when the join took
// longer than a second (the helper is then left behind, still waiting).
long long JoinWithinASecond(sys::Thread* thread) {
    auto joined = std::make_shared<std::promise<long long>>();
    std::future<long long> result = joined->get_future();
    std::thread([thread, joined] {
        unsigned code = 0;
        const bool ok = sys::JoinThread(thread, &code) == sys::JoinResult::Joined;
        joined->set_value(ok ? static_cast<long long>(code) : -2);
    }).detach();
    if (result.wait_for(std::chrono::seconds(1)) != std::future_status::ready) {
        return -1;
    }
    return result.get();
}

struct SCase {
    const char* what;
    sys::ThreadProc proc;
    bool endsItself;
};

// Starts each case's thread, ends it (or lets it end itself) and joins it.
void RunCases(const SCase* cases, std::size_t count) {
    unsigned code = 100;
    for (std::size_t index = 0; index < count; ++index) {
        const SCase& test = cases[index];
        SCOPED_TRACE(test.what);
        SScenario scenario;
        scenario.lock = OrvexCreateLock();
        OrvexLock(scenario.lock);
        sys::Thread* thread = sys::StartThread(test.proc, &scenario, 0);
        ASSERT_NE(nullptr, thread);
        while (scenario.started.load() == 0) {
            OrvexSleep(1);
        }
        OrvexSleep(5); // into the loop, the wait or the call
        ++code;
        if (!test.endsItself) {
            EXPECT_TRUE(sys::TerminateThread(thread, code));
        }
        const long long joined = JoinWithinASecond(thread);
        EXPECT_EQ(test.endsItself ? 77 : static_cast<long long>(code), joined);
        ASSERT_NE(-1, joined) << "the thread still runs; its scenario must stay";
        EXPECT_EQ(0, scenario.pastTheEnd.load());
        OrvexUnlock(scenario.lock);
        OrvexDestroyLock(scenario.lock);
    }
}

#if defined(__SANITIZE_THREAD__)
constexpr bool kSignalsHeldBack = true;
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
constexpr bool kSignalsHeldBack = true;
#else
constexpr bool kSignalsHeldBack = false;
#endif
#else
constexpr bool kSignalsHeldBack = false;
#endif

TEST(ForcedEnd, ThreadsInTheMiddleOfAnythingEndAtOnce) {
    if (kSignalsHeldBack) {
        GTEST_SKIP() << "ThreadSanitizer holds a signal back until the thread calls into it";
    }
    const SCase cases[] = {
        {"spinning without system calls", SpinWithoutSystemCalls, false},
        {"waiting for a held lock", WaitForAHeldLock, false},
    };
    RunCases(cases, sizeof(cases) / sizeof(cases[0]));
}

TEST(ForcedEnd, NoHandlerOrNoexceptFrameStopsTheEnd) {
    const SCase cases[] = {
        {"sleeping inside catch (...)", SleepInsideCatchAll, false},
        {"inside a noexcept function", CallANoexceptFunction, false},
        {"exiting inside try/catch (...)", ExitInsideCatchAll, true},
    };
    RunCases(cases, sizeof(cases) / sizeof(cases[0]));
}

} // namespace
