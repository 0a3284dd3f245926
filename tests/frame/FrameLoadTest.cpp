#include "OrvexCommon/file/OrvexFile.h"
#include "OrvexCommon/frame/OrvexFrame.h"

#include "OrvexTestSupport.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

namespace {

using OrvexTest::ConsoleCapture;
using OrvexTest::ConsoleTarget;
using OrvexTest::SharedLibrary;

std::vector<std::string> g_events;

void Trace(const char* event) {
    g_events.push_back(event);
}

typedef void (*SetTraceFn)(Orvex::FrameTraceFun);
typedef std::ostream& (*GetStreamFn)();

// The allocator manager is created while the registry is built, so it is torn
// down after the registry and before the locks.
const std::vector<std::string> kBuiltAtLoad = {
    "built start tick",          "built start nature time", "built zone offset",
    "built game-clock lock",     "built memory-map lock",   "created allocator manager",
    "built memory-map registry",
};
const std::vector<std::string> kLoadTimeTeardown = {
    "torn down memory-map registry",
    "torn down allocator manager",
    "torn down memory-map lock",
    "torn down game-clock lock",
};

std::vector<std::string> FilesHere() {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(".")) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

// Loads the library and installs the trace hook, which replays the load.
void* LoadAndTrace(SharedLibrary& library) {
    EXPECT_TRUE(library.IsLoaded()) << library.Error();
    auto setTrace =
        reinterpret_cast<SetTraceFn>(library.Symbol("_ZN5Orvex16SetFrameTraceFunEPFvPKcE"));
    EXPECT_NE(nullptr, setTrace);
    g_events.clear();
    if (setTrace != nullptr) {
        setTrace(Trace);
    }
    return reinterpret_cast<void*>(setTrace);
}

TEST(FrameLoad, LoadAndUnloadBuildAndTearDownOnlyTheLoadTimeObjects) {
    const int threadsBefore = OrvexTest::CountProcessThreads();
    const std::vector<std::string> filesBefore = FilesHere();
    ConsoleCapture output(ConsoleTarget::Output);
    ConsoleCapture errors(ConsoleTarget::Error);

    SharedLibrary library(ORVEX_TEST_LIBRARY);
    ASSERT_NE(nullptr, LoadAndTrace(library));
    EXPECT_EQ(kBuiltAtLoad, g_events);
    EXPECT_EQ(threadsBefore, OrvexTest::CountProcessThreads()) << "no thread of our own";

    g_events.clear();
    EXPECT_TRUE(library.Unload());
    EXPECT_EQ(kLoadTimeTeardown, g_events);
    EXPECT_FALSE(OrvexTest::IsLibraryResident(ORVEX_TEST_LIBRARY));

    EXPECT_EQ("", errors.Finish());
    EXPECT_EQ("", output.Finish()) << "nothing printed at load or unload";
    EXPECT_EQ(filesBefore, FilesHere()) << "no file created";
    EXPECT_EQ(threadsBefore, OrvexTest::CountProcessThreads());
}

TEST(FrameLoad, ObjectsCreatedOnFirstUseGoFirstInReverseOrderOfFirstUse) {
    SharedLibrary library(ORVEX_TEST_LIBRARY);
    ASSERT_NE(nullptr, LoadAndTrace(library));
    auto getErr = reinterpret_cast<GetStreamFn>(library.Symbol("_ZN5Orvex12GetErrStreamEv"));
    auto getLog = reinterpret_cast<GetStreamFn>(library.Symbol("_ZN5Orvex12GetLogStreamEv"));
    ASSERT_NE(nullptr, getErr);
    ASSERT_NE(nullptr, getLog);

    g_events.clear();
    getErr();
    getLog();
    getErr(); // a second use creates nothing
    EXPECT_EQ((std::vector<std::string>{"created error stream", "created log stream"}), g_events);

    g_events.clear();
    EXPECT_TRUE(library.Unload());
    std::vector<std::string> expected = {"torn down log stream", "torn down error stream"};
    expected.insert(expected.end(), kLoadTimeTeardown.begin(), kLoadTimeTeardown.end());
    EXPECT_EQ(expected, g_events);
}

TEST(FrameLoad, UnloadEndsTheLoadingThreadAndClosesPackagesBeforeTheManager) {
    SharedLibrary library(ORVEX_TEST_LIBRARY);
    ASSERT_NE(nullptr, LoadAndTrace(library));
    typedef Orvex::IOrvexFileMgr& (*GetFileMgrFn)();
    auto getFileMgr =
        reinterpret_cast<GetFileMgrFn>(library.Symbol("_ZN5Orvex15GetOrvexFileMgrEv"));
    ASSERT_NE(nullptr, getFileMgr);

    g_events.clear();
    Orvex::IOrvexFileMgr& files = getFileMgr();
    // Counted right around the start: sanitizer runtimes start threads of
    // their own when they see fit.
    const int threadsBefore = OrvexTest::CountProcessThreads();
    files.SetAsyncLoad(true);
    const int threadsRunning = OrvexTest::CountProcessThreads();
    EXPECT_FALSE(files.OpenPackage(L"no-such-directory.pkg", nullptr, 0, true));
    EXPECT_EQ((std::vector<std::string>{"created file manager", "created package registry"}),
              g_events);
    if (threadsBefore > 0) {
        EXPECT_GT(threadsRunning, threadsBefore);
    }

    g_events.clear();
    EXPECT_TRUE(library.Unload());
    std::vector<std::string> expected = {"torn down package registry", "torn down file manager"};
    expected.insert(expected.end(), kLoadTimeTeardown.begin(), kLoadTimeTeardown.end());
    EXPECT_EQ(expected, g_events);
    if (threadsBefore > 0) {
        // Windows lets the thread finish ending once the unload has released
        // the loader lock, so its end may come a moment after the unload.
        int threadsAfter = OrvexTest::CountProcessThreads();
        for (int wait = 0; wait < 500 && threadsAfter != threadsRunning - 1; ++wait) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
            threadsAfter = OrvexTest::CountProcessThreads();
        }
        EXPECT_EQ(threadsRunning - 1, threadsAfter) << "the thread has ended";
    }
}

// Unloading must never wait for the loading thread, however young it is:
// on Windows a thread still starting waits for the loader lock that the
// unload holds. Each load starts the symbol handler, and every tenth round
// names a function of the library, so it learns the modules too: what it
// holds must be given back, or loading fails after some dozens of rounds.
TEST(FrameLoad, LoadStartTheLoadingThreadAndUnloadAtOnceTwoHundredTimes) {
    typedef Orvex::IOrvexFileMgr& (*GetFileMgrFn)();
    typedef void (*NameFn)(void*, char*, unsigned);
    const int threadsBefore = OrvexTest::CountProcessThreads();
    for (int round = 0; round < 200; ++round) {
        SharedLibrary library(ORVEX_TEST_LIBRARY);
        ASSERT_TRUE(library.IsLoaded()) << "round " << round << ": " << library.Error();
        auto getFileMgr =
            reinterpret_cast<GetFileMgrFn>(library.Symbol("_ZN5Orvex15GetOrvexFileMgrEv"));
        auto nameOf =
            reinterpret_cast<NameFn>(library.Symbol("_ZN5Orvex19DebugAddress2SymbolEPvPcj"));
        ASSERT_NE(nullptr, getFileMgr);
        ASSERT_NE(nullptr, nameOf);
        if (round % 10 == 0) {
            char name[64] = {};
            nameOf(reinterpret_cast<void*>(getFileMgr), name, sizeof(name) - 1);
            ASSERT_STREQ("Orvex::GetOrvexFileMgr", name) << "round " << round;
        }
        getFileMgr().SetAsyncLoad(true);
        ASSERT_TRUE(library.Unload()) << "round " << round;
        ASSERT_FALSE(OrvexTest::IsLibraryResident(ORVEX_TEST_LIBRARY)) << "round " << round;
    }
    if (threadsBefore > 0) {
        // No loading thread outlives its library.
        int threadsAfter = OrvexTest::CountProcessThreads();
        for (int wait = 0; wait < 500 && threadsAfter > threadsBefore; ++wait) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
            threadsAfter = OrvexTest::CountProcessThreads();
        }
        EXPECT_EQ(threadsBefore, threadsAfter);
    }
}

// Unloading with watching on, a file watched and its change still settling
// or queued: the watcher thread ends with the library, and its watches and
// handles go with it.
TEST(FrameLoad, UnloadWithWatchingOnEndsTheWatcherAndClosesItsHandles) {
    typedef Orvex::IOrvexFileMgr& (*GetFileMgrFn)();
    typedef void (*SwitchFn)(bool);
    struct Whole final : Orvex::IFileLoadListener {
        std::int32_t GetFileType() override { return -1; }
        void OnLoadHead(const Orvex::CCommonFileHead&, Orvex::SLoadBuffer&) override {}
        void OnLoadData(Orvex::SLoadBuffer&) override {}
    } listener;
    const std::string name = "frame_watched_" + std::to_string(OrvexTest::CurrentThreadId());
    const std::wstring wideName(name.begin(), name.end());
    const auto write = [&](const char* text) {
        std::FILE* file = std::fopen(name.c_str(), "wb");
        ASSERT_NE(file, nullptr);
        std::fputs(text, file);
        std::fclose(file);
    };
    write("first");
    const int threadsBefore = OrvexTest::CountProcessThreads();
    const int handlesBefore = OrvexTest::CountOpenHandles();
    for (int round = 0; round < 20; ++round) {
        SharedLibrary library(ORVEX_TEST_LIBRARY);
        ASSERT_TRUE(library.IsLoaded()) << library.Error();
        auto getFileMgr =
            reinterpret_cast<GetFileMgrFn>(library.Symbol("_ZN5Orvex15GetOrvexFileMgrEv"));
        auto setWatching =
            reinterpret_cast<SwitchFn>(library.Symbol("_ZN5Orvex15SetFileWatchingEb"));
        ASSERT_NE(nullptr, getFileMgr);
        ASSERT_NE(nullptr, setWatching);
        setWatching(true);
        ASSERT_GE(getFileMgr().Load(wideName.c_str(), &listener), 0);
        std::this_thread::sleep_for(std::chrono::milliseconds(round % 4 * 40));
        write(round % 2 == 0 ? "second" : "first");
        std::this_thread::sleep_for(std::chrono::milliseconds(round % 3 * 60));
        ASSERT_TRUE(library.Unload()) << "round " << round;
        ASSERT_FALSE(OrvexTest::IsLibraryResident(ORVEX_TEST_LIBRARY)) << "round " << round;
    }
    std::remove(name.c_str());
    // Windows lets a thread finish ending once the unload has released the
    // loader lock, so the counts may settle a moment later.
    const auto settled = [&] {
        return (threadsBefore <= 0 || OrvexTest::CountProcessThreads() <= threadsBefore) &&
               (handlesBefore <= 0 || OrvexTest::CountOpenHandles() <= handlesBefore);
    };
    for (int wait = 0; wait < 500 && !settled(); ++wait) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    if (threadsBefore > 0) {
        EXPECT_EQ(threadsBefore, OrvexTest::CountProcessThreads());
    }
    if (handlesBefore > 0) {
        EXPECT_LE(OrvexTest::CountOpenHandles(), handlesBefore);
    }
}

// A host that loads and unloads the library again and again keeps its
// address space: the allocator gives its regions back at an unload with no
// block held (each load takes over a megabyte of them, which a 32-bit host
// ran out of after some hundreds of loads).
TEST(FrameLoad, UnloadGivesTheAllocatorsRegionsBack) {
#ifdef ORVEX_TEST_SANITIZED
    GTEST_SKIP() << "the sanitizer runtimes keep freed memory in quarantine and shadow, so the "
                    "address space in use says nothing of the library's";
#endif
    typedef unsigned long long (*MemCostFn)();
    typedef Orvex::IOrvexFileMgr& (*GetFileMgrFn)();
    constexpr int kRounds = 40;
    unsigned long long inUse[kRounds] = {};
    for (int round = 0; round < kRounds; ++round) {
        SharedLibrary library(ORVEX_TEST_LIBRARY);
        ASSERT_TRUE(library.IsLoaded()) << library.Error();
        auto memCost =
            reinterpret_cast<MemCostFn>(library.Symbol("_ZN5Orvex22OrvexGetProcessMemCostEv"));
        auto getFileMgr =
            reinterpret_cast<GetFileMgrFn>(library.Symbol("_ZN5Orvex15GetOrvexFileMgrEv"));
        ASSERT_NE(nullptr, memCost);
        ASSERT_NE(nullptr, getFileMgr);
        getFileMgr().SetAsyncLoad(true);
        inUse[round] = memCost();
        ASSERT_TRUE(library.Unload()) << "round " << round;
    }
    // The first rounds settle the host's own heap; after them a round adds
    // nothing that stays.
    const long long grown = static_cast<long long>(inUse[kRounds - 1] - inUse[kRounds / 4]);
    EXPECT_LT(grown, 8ll << 20) << "address space grew by " << grown << " bytes";
}

// Host threads that keep allocator units in their thread caches while the
// library unloads, and end only afterwards: the unload neither waits for them
// nor stays mapped, and their ends call nothing in the unmapped library.
TEST(FrameLoad, ThreadsHoldingCachedUnitsOutliveTheUnload) {
    typedef void* (*AllocFn)(unsigned, void*);
    typedef void (*FreeFn)(void*);
    for (int round = 0; round < 20; ++round) {
        SharedLibrary library(ORVEX_TEST_LIBRARY);
        ASSERT_TRUE(library.IsLoaded()) << library.Error();
        auto alloc = reinterpret_cast<AllocFn>(library.Symbol("_Z10OrvexAllocjPv"));
        auto release = reinterpret_cast<FreeFn>(library.Symbol("_Z9OrvexFreePv"));
        ASSERT_NE(nullptr, alloc);
        ASSERT_NE(nullptr, release);
        std::atomic<int> cached{0};
        std::atomic<bool> unloaded{false};
        std::vector<std::thread> holders;
        for (int k = 0; k < 3; ++k) {
            holders.emplace_back([&, k] {
                // Freed blocks stay in this thread's cache.
                void* blocks[40];
                for (unsigned size = 0; size < 40; ++size) {
                    blocks[size] = alloc(16 * size + static_cast<unsigned>(k), nullptr);
                }
                for (void* block : blocks) {
                    release(block);
                }
                cached.fetch_add(1);
                while (!unloaded.load()) {
                    std::this_thread::sleep_for(std::chrono::milliseconds(1));
                }
            });
        }
        while (cached.load() < 3) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        ASSERT_TRUE(library.Unload()) << "round " << round;
        EXPECT_FALSE(OrvexTest::IsLibraryResident(ORVEX_TEST_LIBRARY)) << "round " << round;
        unloaded = true;
        for (std::thread& holder : holders) {
            holder.join();
        }
    }
}

} // namespace
