// Profiles: their counters and details, driven with chosen times through the
// timing core, the wiring of the real clock, and the manager's registry.
#include "OrvexCommon/diag/OrvexProfile.h"
#include "OrvexCommon/diag/detail/ProfileMgr.h"
#include "OrvexCommon/diag/detail/ProfileTiming.h"

#include "OrvexCommon/platform/OrvexSys.h"

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <initializer_list>
#include <stdexcept>
#include <thread>
#include <vector>

namespace {

using namespace Orvex;
using detail::ProfileTiming;

const char kFile[] = "ProfileTest.cpp";
const char kFunction[] = "Test";

// A label's address is its identity. Most tests make their profiles on a
// manager of their own, which releases them at the end of the test; profiles
// of the process-wide manager live until the process ends.
#define ORVEX_TEST_LABEL(name) static const char name[] = #name

// The process-wide manager's profile under `label`, made on first request (so
// that a repeated run of a test does not register it twice).
CProfile* ProcessWide(const char* label) {
    CProfile* profile = GetProfileMgr().GetProfile(label);
    return profile != nullptr
               ? profile
               : GetProfileMgr().CreateProfile("ProfileTest.cpp", 1, "Test", label, 0);
}

// A hit of `duration` ms starting at `start`, as CheckBegin/CheckEnd of an
// enabled manager would measure it.
void Hit(CProfile& profile, long long start, long long duration) {
    ProfileTiming::Begin(profile, start);
    ProfileTiming::EndHit(profile, start + duration);
}

// One detail block made of pieces of the given lengths.
void Block(CProfile& profile, std::initializer_list<long long> pieces) {
    ProfileTiming::OpenBlock(profile);
    long long now = 1000;
    for (long long piece : pieces) {
        ProfileTiming::Begin(profile, now);
        now += piece;
        ProfileTiming::EndPiece(profile, now);
        now += 50; // time between pieces is not counted
    }
    ProfileTiming::CloseBlock(profile);
}

// The detail entries, oldest first (the tests never make an entry of 0).
std::vector<long long> Details(const CProfile& profile) {
    std::vector<long long> entries;
    long long index = 0;
    while (const long long entry = profile.GetDeltaTime(index++)) {
        entries.push_back(entry);
    }
    return entries;
}

// Label addresses in the registry's order.
bool Below(const char* lower, const char* higher) {
    return std::less<const char*>()(lower, higher);
}

// Re-enables the process-wide manager however a test ends.
class ProfilingDisabled {
public:
    ProfilingDisabled() { GetProfileMgr().EnableProfile(false); }
    ~ProfilingDisabled() { GetProfileMgr().EnableProfile(true); }
};

TEST(ProfileCounters, NewProfileKeepsItsSiteAndStartsEmpty) {
    detail::CProfileMgr manager;
    ORVEX_TEST_LABEL(kFresh);
    CProfile* profile = manager.CreateProfile(kFile, 42, kFunction, kFresh, 3);
    ASSERT_NE(nullptr, profile);
    EXPECT_EQ(kFile, profile->GetFileName());
    EXPECT_EQ(kFunction, profile->GetFunctionName());
    EXPECT_EQ(kFresh, profile->GetLabel());
    EXPECT_EQ(42u, profile->GetLine());
    EXPECT_TRUE(profile->Detail());
    EXPECT_EQ(0, profile->GetHitCount());
    EXPECT_EQ(0, profile->GetTotalCount());
    EXPECT_EQ(0, profile->GetTotalCpuTick());
    EXPECT_EQ(0, profile->GetMax());
    EXPECT_EQ(4294967295ll, profile->GetMin());
    EXPECT_EQ(0, profile->GetCurDelta());
    EXPECT_EQ(0u, profile->GetContext());
    EXPECT_EQ(0, profile->GetDeltaTime(0));
    profile->SetContext(0xDEADBEEFu);
    EXPECT_EQ(0xDEADBEEFu, profile->GetContext());
}

TEST(ProfileCounters, HitsAccumulateAndOnlyLongOnesBecomeDetails) {
    detail::CProfileMgr manager;
    ORVEX_TEST_LABEL(kHits);
    CProfile* profile = manager.CreateProfile(kFile, 1, kFunction, kHits, 2);
    ASSERT_NE(nullptr, profile);

    Hit(*profile, 100, 5);
    EXPECT_EQ(1, profile->GetHitCount());
    EXPECT_EQ(5, profile->GetTotalCpuTick());
    EXPECT_EQ(5, profile->GetMax());
    EXPECT_EQ(5, profile->GetMin());
    EXPECT_EQ(5, profile->GetCurDelta());
    EXPECT_TRUE(Details(*profile).empty()) << "a 5 ms hit is too short for a detail";

    Hit(*profile, 200, 8); // one short of a detail
    Hit(*profile, 300, 9);
    Hit(*profile, 400, 12);
    Hit(*profile, 500, 15);
    // With room for two, the oldest long hit (9) has moved out.
    EXPECT_EQ((std::vector<long long>{12, 15}), Details(*profile));
    EXPECT_EQ(12, profile->GetDeltaTime(0));
    EXPECT_EQ(15, profile->GetDeltaTime(1));
    EXPECT_EQ(0, profile->GetDeltaTime(2));
    EXPECT_EQ(5, profile->GetHitCount());
    EXPECT_EQ(5 + 8 + 9 + 12 + 15, profile->GetTotalCpuTick());
    EXPECT_EQ(15, profile->GetMax());
    EXPECT_EQ(5, profile->GetMin());
    EXPECT_EQ(15, profile->GetCurDelta());

    Hit(*profile, 600, 3);
    EXPECT_EQ(3, profile->GetMin());
    EXPECT_EQ(3, profile->GetCurDelta());
    EXPECT_EQ(15, profile->GetMax());
}

TEST(ProfileCounters, WithoutCapacityNoDetailIsKept) {
    detail::CProfileMgr manager;
    ORVEX_TEST_LABEL(kNoDetails);
    CProfile* profile = manager.CreateProfile(kFile, 1, kFunction, kNoDetails, 0);
    ASSERT_NE(nullptr, profile);
    EXPECT_FALSE(profile->Detail());
    Hit(*profile, 0, 30);
    EXPECT_EQ(0, profile->GetDeltaTime(0));
    EXPECT_EQ(30, profile->GetTotalCpuTick());
    // A block cannot open without capacity, so its pieces and end are ignored.
    Block(*profile, {3, 4});
    EXPECT_EQ(30, profile->GetTotalCpuTick());
    EXPECT_EQ(1, profile->GetHitCount());
}

TEST(ProfileCounters, IndexOutsideTheListGivesZeroOrThrowsForNegativeOnes) {
    detail::CProfileMgr manager;
    ORVEX_TEST_LABEL(kIndexes);
    CProfile* profile = manager.CreateProfile(kFile, 1, kFunction, kIndexes, 4);
    ASSERT_NE(nullptr, profile);
    EXPECT_THROW(profile->GetDeltaTime(-1), std::out_of_range);
    Hit(*profile, 0, 20);
    Hit(*profile, 0, 30);
    EXPECT_EQ(0, profile->GetDeltaTime(2));
    EXPECT_EQ(0, profile->GetDeltaTime(1ll << 32)); // beyond the count, not cut
    EXPECT_THROW(profile->GetDeltaTime(-1), std::out_of_range);
    // Only the low 32 bits of an index below the count are used.
    EXPECT_EQ(30, profile->GetDeltaTime(-(1ll << 32) + 1));
}

TEST(ProfileDetailBlocks, PiecesAddUpToOneEntryAndOneHit) {
    detail::CProfileMgr manager;
    ORVEX_TEST_LABEL(kBlocks);
    CProfile* profile = manager.CreateProfile(kFile, 1, kFunction, kBlocks, 2);
    ASSERT_NE(nullptr, profile);
    Hit(*profile, 0, 2); // a short hit: no entry, last duration 2

    Block(*profile, {3, 4});
    EXPECT_EQ((std::vector<long long>{7}), Details(*profile));
    EXPECT_EQ(2 + 7, profile->GetTotalCpuTick());
    EXPECT_EQ(2, profile->GetHitCount());
    EXPECT_EQ(7, profile->GetMax());
    EXPECT_EQ(2, profile->GetMin());
    EXPECT_EQ(2, profile->GetCurDelta()) << "a block leaves the last duration alone";

    // Blocks share the bounded list with long hits; the oldest entry goes.
    Hit(*profile, 0, 10);
    Block(*profile, {1});
    EXPECT_EQ((std::vector<long long>{10, 1}), Details(*profile));
    EXPECT_EQ(1, profile->GetMin());
    EXPECT_EQ(4, profile->GetHitCount());
}

TEST(ProfileDetailBlocks, PiecesAndEndsWithoutAnOpenBlockAreIgnored) {
    detail::CProfileMgr manager;
    ORVEX_TEST_LABEL(kStray);
    CProfile* profile = manager.CreateProfile(kFile, 1, kFunction, kStray, 2);
    ASSERT_NE(nullptr, profile);
    ProfileTiming::Begin(*profile, 0);
    ProfileTiming::EndPiece(*profile, 40);
    ProfileTiming::CloseBlock(*profile);
    // Through the public operations as well.
    profile->StartAddDetail();
    profile->EndAddDetail();
    profile->EndDetailBlock();
    EXPECT_EQ(0, profile->GetTotalCpuTick());
    EXPECT_EQ(0, profile->GetHitCount());
    EXPECT_EQ(4294967295ll, profile->GetMin());
    EXPECT_EQ(0, profile->GetDeltaTime(0));
}

TEST(ProfileSwitch, DisabledManagerChangesNoCounter) {
    detail::CProfileMgr manager;
    ORVEX_TEST_LABEL(kSwitched);
    CProfile* profile = manager.CreateProfile(kFile, 1, kFunction, kSwitched, 2);
    ASSERT_NE(nullptr, profile);
    {
        // The flag is the process-wide manager's, whichever manager made the
        // profile.
        ProfilingDisabled off;
        profile->CheckBegin();
        sys::SleepMilliseconds(12);
        profile->CheckEnd();
        profile->StartDetailBlock();
        profile->StartAddDetail();
        profile->EndAddDetail();
        profile->EndDetailBlock();
        EXPECT_EQ(0, profile->GetHitCount());
        EXPECT_EQ(0, profile->GetTotalCpuTick());
        EXPECT_EQ(0, profile->GetMax());
        EXPECT_EQ(4294967295ll, profile->GetMin());
        EXPECT_EQ(0, profile->GetDeltaTime(0));
        // CheckBegin still records its time while disabled...
        profile->CheckBegin();
    }
    // ...so the hit it began is measured once measuring is back on.
    profile->CheckEnd();
    EXPECT_EQ(1, profile->GetHitCount());
}

TEST(ProfileClock, RealHitsFollowTheRules) {
    // Real sleeps measure whatever the scheduler allows; only the rules are
    // checked, not figures.
    detail::CProfileMgr manager;
    ORVEX_TEST_LABEL(kReal);
    CProfile* profile = manager.CreateProfile(kFile, 1, kFunction, kReal, 8);
    ASSERT_NE(nullptr, profile);
    long long sum = 0;
    std::vector<long long> expectedDetails;
    for (int round = 0; round < 4; ++round) {
        profile->CheckBegin();
        sys::SleepMilliseconds(round % 2 == 0 ? 1 : 12);
        profile->CheckEnd();
        const long long last = profile->GetCurDelta();
        ASSERT_GE(last, 0);
        sum += last;
        if (last >= 9) {
            expectedDetails.push_back(last);
        }
    }
    EXPECT_EQ(4, profile->GetHitCount());
    EXPECT_EQ(sum, profile->GetTotalCpuTick());
    EXPECT_EQ(expectedDetails, Details(*profile));
    EXPECT_LE(profile->GetMin(), profile->GetMax());

    profile->StartDetailBlock();
    profile->StartAddDetail();
    sys::SleepMilliseconds(2);
    profile->EndAddDetail();
    profile->EndDetailBlock();
    EXPECT_EQ(5, profile->GetHitCount());
    const long long block = profile->GetTotalCpuTick() - sum;
    EXPECT_EQ(block, profile->GetDeltaTime(static_cast<long long>(expectedDetails.size())));
}

TEST(ProfileCopy, AssignmentCopiesTheCountersIntoItsOwnList) {
    detail::CProfileMgr manager;
    ORVEX_TEST_LABEL(kSource);
    ORVEX_TEST_LABEL(kTarget);
    CProfile* source = manager.CreateProfile("a.cpp", 7, "A", kSource, 3);
    CProfile* target = manager.CreateProfile("b.cpp", 8, "B", kTarget, 1);
    ASSERT_NE(nullptr, source);
    ASSERT_NE(nullptr, target);
    Hit(*source, 0, 10);
    Hit(*source, 0, 20);
    source->SetContext(5);
    Hit(*target, 0, 50);

    *target = *source;
    // The label is the target's key in the registry and stays.
    EXPECT_EQ(kTarget, target->GetLabel());
    EXPECT_EQ(target, manager.GetProfile(kTarget));
    EXPECT_EQ(source, manager.GetProfile(kSource));
    const CProfile* after = manager.GetNextProfile(target);
    EXPECT_TRUE(after == nullptr || Below(kTarget, after->GetLabel()));
    EXPECT_STREQ("a.cpp", target->GetFileName());
    EXPECT_EQ(7u, target->GetLine());
    EXPECT_EQ(2, target->GetHitCount());
    EXPECT_EQ(30, target->GetTotalCpuTick());
    EXPECT_EQ(10, target->GetMin());
    EXPECT_EQ(20, target->GetMax());
    EXPECT_EQ(5u, target->GetContext());
    EXPECT_EQ((std::vector<long long>{10, 20}), Details(*target));

    // The lists stay apart: each profile's entries change alone (and each
    // list is released once at unload).
    Hit(*target, 0, 30);
    EXPECT_EQ((std::vector<long long>{10, 20, 30}), Details(*target));
    EXPECT_EQ((std::vector<long long>{10, 20}), Details(*source));
}

// ---- The registry ----

TEST(ProfileRegistry, LabelsAreKeyedByAddressAndWalkedInAscendingOrder) {
    static const char labels[4][8] = {"same", "same", "same", "other"};
    detail::CProfileMgr manager;
    EXPECT_EQ(nullptr, manager.GetFirstProfile());
    // Created from the highest address down; the walk must still ascend.
    CProfile* made[4];
    for (int index = 3; index >= 0; --index) {
        made[index] = manager.CreateProfile(kFile, index, kFunction, labels[index], 0);
        ASSERT_NE(nullptr, made[index]);
    }
    for (int index = 0; index < 4; ++index) {
        EXPECT_EQ(made[index], manager.GetProfile(labels[index]));
        for (int other = 0; other < index; ++other) {
            EXPECT_NE(made[index], made[other]) << "equal texts, different labels";
        }
    }
    CProfile* walked = manager.GetFirstProfile();
    for (int index = 0; index < 4; ++index) {
        EXPECT_EQ(made[index], walked);
        walked = manager.GetNextProfile(walked);
    }
    EXPECT_EQ(nullptr, walked);
    static const char unregistered[] = "same";
    EXPECT_EQ(nullptr, manager.GetProfile(unregistered));
}

TEST(ProfileRegistry, NextOfAProfileFromElsewhereIsNull) {
    ORVEX_TEST_LABEL(kElsewhere);
    detail::CProfileMgr elsewhere;
    CProfile* foreign = elsewhere.CreateProfile(kFile, 1, kFunction, kElsewhere, 0);
    ASSERT_NE(nullptr, foreign);
    ORVEX_TEST_LABEL(kHere);
    ASSERT_NE(nullptr, ProcessWide(kHere));
    EXPECT_EQ(nullptr, GetProfileMgr().GetNextProfile(foreign));
    EXPECT_EQ(nullptr, GetProfileMgr().GetProfile(kElsewhere));
    EXPECT_EQ(nullptr, GetProfileMgr().GetNextProfile(nullptr));
}

TEST(ProfileRegistry, ProcessWideWalkAscendsThroughEveryProfile) {
    ORVEX_TEST_LABEL(kWalked);
    CProfile* mine = ProcessWide(kWalked);
    ASSERT_NE(nullptr, mine);
    EXPECT_EQ(&GetProfileMgr(), &GetProfileMgr());
    bool seen = false;
    const char* previous = nullptr;
    for (CProfile* profile = GetProfileMgr().GetFirstProfile(); profile != nullptr;
         profile = GetProfileMgr().GetNextProfile(profile)) {
        if (previous != nullptr) {
            ASSERT_TRUE(Below(previous, profile->GetLabel())); // a cycle would fail here
        }
        previous = profile->GetLabel();
        seen = seen || profile == mine;
    }
    EXPECT_TRUE(seen);
}

TEST(ProfileRegistry, ThreadsCreateWhileAnotherWalks) {
    constexpr int kPerThread = 300;
    static char labels[2][kPerThread];
    detail::CProfileMgr manager;
    std::atomic<bool> done{false};
    auto create = [&](int thread) {
        for (int index = 0; index < kPerThread; ++index) {
            EXPECT_NE(nullptr,
                      manager.CreateProfile(kFile, index, kFunction, &labels[thread][index], 1));
        }
    };
    std::thread walker([&] {
        while (!done.load()) {
            const char* previous = nullptr;
            for (CProfile* profile = manager.GetFirstProfile(); profile != nullptr;
                 profile = manager.GetNextProfile(profile)) {
                ASSERT_TRUE(previous == nullptr || Below(previous, profile->GetLabel()));
                previous = profile->GetLabel();
            }
        }
    });
    std::thread first(create, 0);
    std::thread second(create, 1);
    first.join();
    second.join();
    done.store(true);
    walker.join();
    int count = 0;
    for (CProfile* profile = manager.GetFirstProfile(); profile != nullptr;
         profile = manager.GetNextProfile(profile)) {
        ++count;
    }
    EXPECT_EQ(2 * kPerThread, count);
}

} // namespace
