#include "OrvexCommon/log/OrvexLog.h"
#include "OrvexCommon/platform/OrvexPlatform.h"
#include "OrvexCommon/platform/OrvexSys.h"

#include "OrvexTestSupport.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>

namespace {

using namespace Orvex;

std::atomic<int> g_logLines{0};
void CountLines(const char*, unsigned) {
    g_logLines.fetch_add(1);
}

unsigned ORVEX_THREAD_CALL SetFlag(void* flag) {
    if (flag != nullptr) {
        static_cast<std::atomic<int>*>(flag)->store(1);
    }
    return 3;
}

TEST(ThreadApi, CreateRefusesNullsAndStartsWithANullContext) {
    void* thread = reinterpret_cast<void*>(0x1);
    EXPECT_FALSE(OrvexCreateThread(&thread, 0, nullptr, nullptr));
    EXPECT_EQ(reinterpret_cast<void*>(0x1), thread) << "nothing touched";
    EXPECT_FALSE(OrvexCreateThread(nullptr, 0, SetFlag, nullptr));
    ASSERT_TRUE(OrvexCreateThread(&thread, 0, SetFlag, nullptr));
    ASSERT_NE(nullptr, thread);
    EXPECT_TRUE(OrvexJoinThread(thread));
}

TEST(ThreadApi, JoinOfAnEndedThreadAndOfInvalidHandles) {
    std::atomic<int> flag{0};
    void* thread = nullptr;
    ASSERT_TRUE(OrvexCreateThread(&thread, 0, SetFlag, &flag));
    while (flag.load() == 0) {
        OrvexSleep(1);
    }
    OrvexSleep(20); // let it end before the join
    EXPECT_TRUE(OrvexJoinThread(thread));

    SetGlobLogFun(CountLines);
    g_logLines = 0;
    EXPECT_FALSE(OrvexJoinThread(nullptr));
    int notAThread = 0;
    EXPECT_FALSE(OrvexJoinThread(&notAThread));
    // INVALID_HANDLE_VALUE, which Windows also reads as the process itself:
    // waiting for that would never end.
    EXPECT_FALSE(OrvexJoinThread(reinterpret_cast<void*>(~std::uintptr_t(0))));
    SetGlobLogFun(nullptr);
    EXPECT_EQ(0, g_logLines.load()) << "an invalid handle is not logged";
}

unsigned ORVEX_THREAD_CALL ExitEarly(void* reached) {
    OrvexExitThread(42);
    static_cast<std::atomic<int>*>(reached)->store(1); // never runs
    return 0;
}

TEST(ThreadApi, ExitThreadEndsTheThreadWithItsCode) {
    std::atomic<int> reached{0};
    sys::Thread* thread = sys::StartThread(ExitEarly, &reached, 0);
    ASSERT_NE(nullptr, thread);
    unsigned exitCode = 0;
    EXPECT_EQ(sys::JoinResult::Joined, sys::JoinThread(thread, &exitCode));
    EXPECT_EQ(42u, exitCode);
    EXPECT_EQ(0, reached.load());
}

unsigned ORVEX_THREAD_CALL SleepForever(void* started) {
    static_cast<std::atomic<int>*>(started)->store(1);
    for (;;) {
        OrvexSleep(1);
    }
}

TEST(ThreadApi, TerminateEndsAThreadAndKeepsItsHandle) {
    std::atomic<int> started{0};
    void* thread = nullptr;
    ASSERT_TRUE(OrvexCreateThread(&thread, 0, SleepForever, &started));
    while (started.load() == 0) {
        OrvexSleep(1);
    }
    EXPECT_TRUE(OrvexTerminateThread(thread, 9));
    EXPECT_TRUE(OrvexJoinThread(thread)) << "the handle stayed open for the join";
}

TEST(ThreadApi, DetachedThreadsRunOn) {
    std::atomic<int> flag{0};
    void* thread = nullptr;
    ASSERT_TRUE(OrvexCreateThread(&thread, 0, SetFlag, &flag));
    OrvexDetachThread(thread);
    while (flag.load() == 0) {
        OrvexSleep(1);
    }
    int notAThread = 0;
    OrvexDetachThread(&notAThread); // not a handle: ignored
    EXPECT_EQ(0, notAThread);
}

TEST(ThreadApi, PriorityOfTheCurrentThread) {
    void* self = OrvexGetCurrentThread();
    EXPECT_NE(nullptr, self);
    EXPECT_TRUE(OrvexSetThreadPriority(self, 0));
    EXPECT_TRUE(OrvexSetThreadPriority(self, -1));
    EXPECT_FALSE(OrvexSetThreadPriority(self, 7)) << "not a priority value";
    EXPECT_FALSE(OrvexJoinThread(self)) << "waiting for oneself would never end";
}

unsigned ORVEX_THREAD_CALL JoinItself(void* handle) {
    // The handle is published before the thread is let go (see below).
    while (static_cast<std::atomic<void*>*>(handle)->load() == nullptr) {
        OrvexSleep(1);
    }
    return OrvexJoinThread(static_cast<std::atomic<void*>*>(handle)->load()) ? 1u : 2u;
}

TEST(ThreadApi, AThreadCannotJoinItself) {
    std::atomic<void*> published{nullptr};
    void* thread = nullptr;
    ASSERT_TRUE(OrvexCreateThread(&thread, 0, JoinItself, &published));
    published = thread;
    unsigned exitCode = 0;
    EXPECT_EQ(sys::JoinResult::Joined,
              sys::JoinThread(static_cast<sys::Thread*>(thread), &exitCode));
    EXPECT_EQ(2u, exitCode) << "its own join was refused";
}

struct SLockRace {
    void* lock;
    std::atomic<int> stage{0};
};

unsigned ORVEX_THREAD_CALL TakeTheLock(void* context) {
    SLockRace* race = static_cast<SLockRace*>(context);
    race->stage = 1;
    OrvexLock(race->lock);
    race->stage = 2;
    OrvexUnlock(race->lock);
    return 0;
}

TEST(LockApi, RecursiveLockingNeedsAsManyUnlocks) {
    SLockRace race;
    race.lock = OrvexCreateLock();
    ASSERT_NE(nullptr, race.lock);
    OrvexLock(race.lock);
    OrvexLock(race.lock);
    void* thread = nullptr;
    ASSERT_TRUE(OrvexCreateThread(&thread, 0, TakeTheLock, &race));
    while (race.stage.load() == 0) {
        OrvexSleep(1);
    }
    OrvexUnlock(race.lock);
    OrvexSleep(30);
    EXPECT_EQ(1, race.stage.load());
    OrvexUnlock(race.lock);
    EXPECT_TRUE(OrvexJoinThread(thread));
    EXPECT_EQ(2, race.stage.load());
    EXPECT_TRUE(OrvexDestroyLock(race.lock));
    OrvexLock(nullptr); // ignored
    OrvexUnlock(nullptr);
    EXPECT_TRUE(OrvexDestroyLock(nullptr));
}

TEST(ProcessApi, OwnProcessExistsAndAReapedChildDoesNot) {
    const unsigned self = OrvexGetCurrentProcessID();
    EXPECT_NE(0u, self);
    EXPECT_TRUE(OrvexCheckProcessExist(self));
    const unsigned child = OrvexTest::SpawnAndReapChild();
    ASSERT_NE(0u, child);
    // The system may drop a reaped process's record a moment later (Wine).
    bool gone = false;
    for (int wait = 0; wait < 200 && !gone; ++wait) {
        gone = !OrvexCheckProcessExist(child);
        if (!gone) {
            OrvexSleep(10);
        }
    }
    EXPECT_TRUE(gone);
    EXPECT_FALSE(OrvexCheckProcessExist(0));
}

TEST(ProcessApi, Costs) {
    EXPECT_EQ(0.0f, OrvexGetProcessCpuCost());
    EXPECT_GT(OrvexGetProcessMemCost(), 0u);
}

TEST(ProcessApi, MemoryCostBeyondFourGiBKeepsItsHighBits) {
    if (sizeof(void*) != 8) {
        GTEST_SKIP() << "a 32-bit process has no more than 4 GiB to count";
    }
    if (sys::PathsHaveDrives()) {
        GTEST_SKIP() << "Wine's memory status counts resident pages only, not reserved ones";
    }
    const std::uint64_t reserved = 6ull << 30;
    const unsigned long long without = OrvexGetProcessMemCost();
    void* space = OrvexTest::ReserveAddressSpace(reserved);
    ASSERT_NE(nullptr, space);
    const unsigned long long with = OrvexGetProcessMemCost();
    OrvexTest::ReleaseAddressSpace(space, reserved);
    // Other threads may map or unmap a little meanwhile.
    EXPECT_GE(with, without + reserved - (256ull << 20));
}

TEST(ProcessApi, Sleep) {
    const std::uint64_t before = sys::MonotonicMilliseconds();
    OrvexSleep(20);
    EXPECT_GE(sys::MonotonicMilliseconds() - before, 15u);
}

} // namespace
