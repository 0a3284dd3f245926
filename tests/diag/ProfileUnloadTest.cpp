// Loading the real shared library by hand: the profile manager is created on
// first use and, at unload, gives every profile and its detail list back to
// the pool before the pool itself goes (so no leak is reported).
#include "OrvexCommon/diag/OrvexProfile.h"
#include "OrvexCommon/frame/OrvexFrame.h"

#include "OrvexTestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <string>
#include <thread>
#include <vector>

namespace {

std::vector<std::string> g_events;

void Trace(const char* event) {
    g_events.push_back(event);
}

typedef void (*SetTraceFn)(Orvex::FrameTraceFun);
typedef bool (*StartRecordFn)(unsigned);
typedef void (*NameThreadFn)(const char*);
typedef Orvex::IProfileMgr& (*GetProfileMgrFn)();

std::size_t Position(const std::string& event) {
    return static_cast<std::size_t>(std::find(g_events.begin(), g_events.end(), event) -
                                    g_events.begin());
}

TEST(ProfileUnload, UnloadReleasesEveryProfileBeforeThePool) {
    static const char labels[3][4] = {"a", "b", "c"};
    OrvexTest::SharedLibrary library(ORVEX_TEST_LIBRARY);
    ASSERT_TRUE(library.IsLoaded()) << library.Error();
    auto setTrace =
        reinterpret_cast<SetTraceFn>(library.Symbol("_ZN5Orvex16SetFrameTraceFunEPFvPKcE"));
    auto getProfileMgr =
        reinterpret_cast<GetProfileMgrFn>(library.Symbol("_ZN5Orvex13GetProfileMgrEv"));
    ASSERT_NE(nullptr, setTrace);
    ASSERT_NE(nullptr, getProfileMgr);
    setTrace(Trace);
    g_events.clear();

    OrvexTest::ConsoleCapture output(OrvexTest::ConsoleTarget::Output);
    Orvex::IProfileMgr& manager = getProfileMgr();
    EXPECT_EQ(std::vector<std::string>{"created profile manager"}, g_events);
    for (unsigned index = 0; index < 3; ++index) {
        ASSERT_NE(nullptr, manager.CreateProfile("f", index, "g", labels[index], 10 * index));
    }
    // Before the question of teardown: the walk sees all three.
    int walked = 0;
    for (Orvex::CProfile* profile = manager.GetFirstProfile(); profile != nullptr && walked < 10;
         profile = manager.GetNextProfile(profile)) {
        ++walked;
    }
    EXPECT_EQ(3, walked);

    g_events.clear();
    EXPECT_TRUE(library.Unload());
    ASSERT_FALSE(g_events.empty());
    EXPECT_EQ("torn down profile manager", g_events.front()) << "the last object created";
    EXPECT_EQ(1, std::count(g_events.begin(), g_events.end(), "torn down profile manager"));
    EXPECT_LT(Position("torn down profile manager"), Position("torn down allocator manager"));
    EXPECT_EQ("", output.Finish()) << "no leak reported: every profile was freed";
}

// A thread with a recording record of its own outlives the unload: the
// recorder gave up its thread-exit call at teardown, so the thread's end calls
// nothing in the unmapped library.
TEST(ProfileUnload, AThreadThatRecordedMayEndAfterTheUnload) {
    OrvexTest::SharedLibrary library(ORVEX_TEST_LIBRARY);
    ASSERT_TRUE(library.IsLoaded()) << library.Error();
    auto start = reinterpret_cast<StartRecordFn>(library.Symbol("_ZN5Orvex18StartProfileRecordEj"));
    auto name =
        reinterpret_cast<NameThreadFn>(library.Symbol("_ZN5Orvex20SetProfileThreadNameEPKc"));
    ASSERT_NE(nullptr, start);
    ASSERT_NE(nullptr, name);
    ASSERT_TRUE(start(16));
    std::atomic<int> stage{0};
    std::thread late([&] {
        name("late");
        stage.store(1);
        while (stage.load() != 2) {
            std::this_thread::yield();
        }
    });
    while (stage.load() != 1) {
        std::this_thread::yield();
    }
    name("main");
    EXPECT_TRUE(library.Unload());
    stage.store(2);
    late.join();
}

} // namespace
