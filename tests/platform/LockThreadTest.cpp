#include "OrvexCommon/platform/OrvexSys.h"

#include <gtest/gtest.h>

#include <atomic>

namespace {

using namespace Orvex::sys;

struct Contender {
    RecursiveLock* lock;
    std::atomic<int> stage{0};
};

unsigned ORVEX_THREAD_CALL TakeLock(void* context) {
    Contender* contender = static_cast<Contender*>(context);
    contender->stage = 1;
    EnterLock(contender->lock);
    contender->stage = 2;
    LeaveLock(contender->lock);
    return 7;
}

// The holder re-enters at once; another thread waits for the last release.
void ExpectRecursiveExclusion(RecursiveLock* lock) {
    Contender contender;
    contender.lock = lock;
    EnterLock(contender.lock);
    EnterLock(contender.lock); // re-entry must not block

    Thread* other = StartThread(TakeLock, &contender, 0);
    ASSERT_NE(nullptr, other);
    while (contender.stage.load() == 0) {
        SleepMilliseconds(1);
    }
    LeaveLock(contender.lock);
    SleepMilliseconds(30);
    EXPECT_EQ(1, contender.stage.load()) << "still held once: the other thread must wait";
    LeaveLock(contender.lock);

    unsigned exitCode = 0;
    EXPECT_EQ(JoinResult::Joined, JoinThread(other, &exitCode));
    EXPECT_EQ(2, contender.stage.load());
    EXPECT_EQ(7u, exitCode);
}

TEST(RecursiveLock, OwnerReentersAndOthersWaitForTheLastRelease) {
    RecursiveLock* lock = CreateRecursiveLock();
    ASSERT_NE(nullptr, lock);
    ExpectRecursiveExclusion(lock);
    DestroyRecursiveLock(lock);
    DestroyRecursiveLock(nullptr);
}

// An object built while memory ran out has a null lock, which must still
// exclude (the process-wide fallback lock) rather than crash.
TEST(RecursiveLock, ALockWithoutStorageStillExcludes) {
    BeginMemoryFaults(1);
    OwnedLock owned;
    EndMemoryFaults();
    ASSERT_EQ(nullptr, owned.get());
    ExpectRecursiveExclusion(owned.get());
    { ScopedLock hold(owned.get()); }
}

unsigned ORVEX_THREAD_CALL ReportContext(void* context) {
    return context ? 1u : 2u;
}

TEST(Thread, NullProcedureStartsNothingAndNullContextIsFine) {
    EXPECT_EQ(nullptr, StartThread(nullptr, nullptr, 0));
    Thread* thread = StartThread(ReportContext, nullptr, 64 * 1024);
    ASSERT_NE(nullptr, thread);
    unsigned exitCode = 0;
    EXPECT_EQ(JoinResult::Joined, JoinThread(thread, &exitCode));
    EXPECT_EQ(2u, exitCode);
    EXPECT_EQ(JoinResult::WaitFailed, JoinThread(nullptr, &exitCode));
}

} // namespace
