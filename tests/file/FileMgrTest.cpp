// The manager object: flags, aliases, patches, existence, the loading thread
// and delivery of finished requests.
#include "OrvexCommon/file/detail/FileMgr.h"
#include "OrvexCommon/platform/OrvexSys.h"
#include "OrvexCommon/time/OrvexClock.h"

#include "OrvexTestSupport.h"
#include "PackageTestSupport.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

namespace {

using namespace Orvex::detail;
using OrvexTest::Bytes;

TEST(FileMgr, StartsSynchronousLooseFirstAndDeep) {
    CFileMgr& manager = FileMgr();
    EXPECT_EQ(&Orvex::GetOrvexFileMgr(), static_cast<Orvex::IOrvexFileMgr*>(&manager));
    EXPECT_FALSE(manager.IsAsyncLoad());
    EXPECT_FALSE(manager.IsPackageFirst());
    EXPECT_TRUE(manager.IsDeepPackageSearch());
    manager.SetPackageFirst(true);
    manager.SetDeepPackageSearch(false);
    EXPECT_TRUE(manager.IsPackageFirst());
    EXPECT_FALSE(manager.IsDeepPackageSearch());
    manager.SetPackageFirst(false);
    manager.SetDeepPackageSearch(true);
}

std::wstring Plain(const Orvex::OrvexWString& text) {
    return std::wstring(text.begin(), text.end());
}

TEST(PathAlias, OnlyTheNearestKeyIsTriedAndTheCallersSpellingIsKept) {
    PathAliasTable aliases;
    EXPECT_EQ(Plain(aliases.Resolve(L"Data\\x.tga")), L"Data\\x.tga");
    aliases.Set(L"DATA\\", L"pack\\");
    EXPECT_EQ(Plain(aliases.Resolve(L"Data\\x.tga")), L"pack\\x.tga");
    EXPECT_EQ(Plain(aliases.Resolve(L"data/Sub/X.tga")), L"pack\\Sub/X.tga");
    EXPECT_EQ(Plain(aliases.Resolve(L"dat")), L"dat");
    aliases.Set(L"a/b", L"AB:");
    aliases.Set(L"a/", L"A:");
    EXPECT_EQ(Plain(aliases.Resolve(L"a/c")), L"a/c"); // nearest key a/b does not match
    EXPECT_EQ(Plain(aliases.Resolve(L"A\\bc")), L"AB:c");
    EXPECT_EQ(Plain(aliases.Resolve(L"a/a")), L"A:a");
    // The empty key catches what the nearest key does not.
    aliases.Set(L"", L"base\\");
    EXPECT_EQ(Plain(aliases.Resolve(L"a/c")), L"base\\a/c");
    EXPECT_EQ(Plain(aliases.Resolve(L"0.txt")), L"base\\0.txt");
    EXPECT_EQ(Plain(aliases.Resolve(L"data/x")), L"pack\\x");
    // Overwritten, never removed.
    aliases.Set(L"data/", L"other/");
    EXPECT_EQ(Plain(aliases.Resolve(L"data/x")), L"other/x");
}

TEST(FileMgr, SetFilePatchReturnsTheBytesConsumedAndReplacesEarlierChunks) {
    CFileMgr& manager = FileMgr();
    const std::wstring path = OrvexTest::UniqueName("patchtable") + L".pkg";
    EXPECT_EQ(manager.SetFilePatch(path.c_str(), 77, 0, nullptr), 0);
    const SFilePatch* patch = manager.FindFilePatch(Orvex::OrvexWString(path.c_str()));
    ASSERT_NE(patch, nullptr);
    EXPECT_EQ(patch->sizeOverride, 77);
    const unsigned char block[] = {2, 0, 0, 0, 9,  0, 0, 0, 0xAA, 0xBB,
                                   1, 0, 0, 0, 20, 0, 0, 0, 0xCC, 0xFF};
    EXPECT_EQ(manager.SetFilePatch(path.c_str(), -1, 2, block), 19);
    EXPECT_EQ(manager.FindFilePatch(Orvex::OrvexWString(path.c_str())), patch); // same record
    EXPECT_EQ(patch->sizeOverride, -1);
    ASSERT_EQ(patch->chunks.size(), 2u);
    EXPECT_EQ(patch->chunks[1].offset, 20u);
    // Exact spelling: another case is another record.
    std::wstring upper = path;
    upper[0] = L'O';
    EXPECT_EQ(manager.FindFilePatch(Orvex::OrvexWString(upper.c_str())), nullptr);
}

TEST(FileMgr, IsFileExistFindsPackagesAndLooseFilesButIgnoresAliases) {
    OrvexTest::ScratchPaths scratch;
    CFileMgr& manager = FileMgr();
    const std::wstring root = scratch.Add(OrvexTest::UniqueName("exist"));
    OrvexTest::WriteRawFile(root + L"/loose.txt", Bytes(5, 'x'));
    ASSERT_TRUE(OrvexTest::WritePackage(scratch.Add(root + L"/pk.pkg"),
                                        {{L"inner.txt", Bytes(3, 'y'), 3}}, false));
    EXPECT_TRUE(manager.IsFileExist((root + L"/loose.txt").c_str()));
    EXPECT_TRUE(manager.IsFileExist((root + L"/pk/inner.txt").c_str()));
    EXPECT_FALSE(manager.IsFileExist((root + L"/pk/other.txt").c_str()));
    EXPECT_FALSE(manager.IsFileExist(nullptr));
    const std::wstring alias = OrvexTest::UniqueName("alias") + L"/";
    manager.SetPathAlias(alias.c_str(), (root + L"/").c_str());
    EXPECT_EQ(Plain(manager.ResolvePathAlias((alias + L"loose.txt").c_str())),
              root + L"/loose.txt");
    EXPECT_FALSE(manager.IsFileExist((alias + L"loose.txt").c_str()));
}

// Only what Load could open exists: no directory, device or pipe, and asking
// about a pipe nobody writes to must not block.
TEST(FileMgr, IsFileExistRefusesDirectoriesDevicesAndPipes) {
    OrvexTest::ScratchPaths scratch;
    CFileMgr& manager = FileMgr();
    const std::wstring root = scratch.Add(OrvexTest::UniqueName("notfile"));
    OrvexTest::WriteRawFile(root + L"/inside.txt", Bytes(2, 'x'));
    EXPECT_FALSE(manager.IsFileExist(root.c_str()));
    EXPECT_FALSE(manager.IsFileExist((root + L"/").c_str()));
    EXPECT_FALSE(manager.IsFileExist(Orvex::sys::PathsHaveDrives() ? L"NUL" : L"/dev/null"));
    const std::wstring fifo = root + L"/pipe";
    if (OrvexTest::MakeFifo(std::filesystem::path(fifo).string())) {
        EXPECT_FALSE(manager.IsFileExist(fifo.c_str()));
    }
    EXPECT_TRUE(manager.IsFileExist((root + L"/inside.txt").c_str()));
}

// Collects what the manager delivers.
class RecordingListener final : public Orvex::IFileLoadListener {
public:
    std::int32_t GetFileType() override { return -1; }
    void OnLoadHead(const Orvex::CCommonFileHead&, Orvex::SLoadBuffer&) override { ++heads; }
    void OnLoadData(Orvex::SLoadBuffer& buffer) override {
        ++calls;
        start = buffer.start;
        pos = buffer.pos;
        end = buffer.end;
        bytes.assign(buffer.origin + buffer.start, buffer.origin + buffer.end);
    }
    int heads = 0;
    int calls = 0;
    std::uint32_t start = 0, pos = 0, end = 0;
    Bytes bytes;
};

SLoadRequest* NewRequest(RecordingListener& listener, std::size_t size, std::uint32_t start,
                         bool filled) {
    auto* request = new SLoadRequest;
    request->listener = &listener;
    request->data.assign(size, 0);
    request->start = start;
    request->filled = filled;
    return request;
}

// Gives the request the loading thread's reader of `name` in `source`.
void ReadFromSource(const Orvex::detail::IFileSource& source, const std::wstring& name,
                    SLoadRequest& request) {
    Orvex::detail::SSourceFile opened;
    ASSERT_TRUE(source.Open(name.c_str(), false, opened));
    source.Duplicate(opened, request.file);
    source.Close(opened);
}

bool DispatchAll(CFileMgr& manager) {
    for (int round = 0; round < 2000; ++round) {
        if (!manager.Dispatch(1000)) {
            return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return false;
}

TEST(FileMgr, TheLoadingThreadFillsPendingRequestsAndDispatchDeliversThem) {
    OrvexTest::ScratchPaths scratch;
    CFileMgr& manager = FileMgr();
    const std::wstring root = scratch.Add(OrvexTest::UniqueName("thread"));
    const Bytes loose = OrvexTest::RandomBytes(5000, 21);
    OrvexTest::WriteRawFile(root + L"/loose.bin", loose);
    const Bytes packed = OrvexTest::RandomBytes(3000, 22);
    ASSERT_TRUE(OrvexTest::WritePackage(scratch.Add(root + L"/pk.pkg"),
                                        {{L"packed.bin", packed, 1000}}, true));
    const PackageMatch match = FindPackageEntry((root + L"/pk/packed.bin").c_str(), true);
    ASSERT_NE(match.package, nullptr);
    ASSERT_FALSE(match.package->mapped);

    // Another test may have started the thread already. (Sanitizer runtimes
    // may start a thread of their own, and a thread of an earlier test may
    // still be ending, so counts are compared loosely.)
    const bool started = manager.HasLoadingThread();
    const int threadsBefore = OrvexTest::CountProcessThreads();
    manager.SetAsyncLoad(true);
    const int threadsAfterFirst = OrvexTest::CountProcessThreads();
    manager.SetAsyncLoad(true);
    EXPECT_TRUE(manager.HasLoadingThread());
    if (threadsBefore > 0) {
        if (!started) {
            EXPECT_GT(threadsAfterFirst, threadsBefore);
        }
        EXPECT_LE(OrvexTest::CountProcessThreads(), threadsAfterFirst) << "one thread at most";
    }

    RecordingListener fromLoose, fromPackage, fromMemory;
    SLoadRequest* looseRequest = NewRequest(fromLoose, loose.size() - 100, 100, false);
    ReadFromSource(manager.LooseFiles(), root + L"/loose.bin", *looseRequest);
    SLoadRequest* packageRequest = NewRequest(fromPackage, 2000, 1000, false);
    ReadFromSource(manager.Packages(), root + L"/pk/packed.bin", *packageRequest);
    SLoadRequest* memoryRequest = NewRequest(fromMemory, 3, 7, true);
    memoryRequest->data = {1, 2, 3};
    manager.QueueRequest(looseRequest);
    manager.QueueRequest(packageRequest);
    manager.QueueRequest(memoryRequest);
    // A budget of 0 only reports.
    EXPECT_TRUE(manager.Dispatch(0));
    EXPECT_EQ(fromMemory.calls, 0);
    ASSERT_TRUE(DispatchAll(manager));

    EXPECT_EQ(fromLoose.calls, 1);
    EXPECT_EQ(fromLoose.start, 100u);
    EXPECT_EQ(fromLoose.pos, 100u);
    EXPECT_EQ(fromLoose.end, 5000u);
    EXPECT_EQ(fromLoose.bytes, Bytes(loose.begin() + 100, loose.end()));
    EXPECT_EQ(fromPackage.calls, 1);
    EXPECT_EQ(fromPackage.bytes, Bytes(packed.begin() + 1000, packed.end()));
    EXPECT_EQ(fromMemory.bytes, (Bytes{1, 2, 3}));
    EXPECT_EQ(fromMemory.start, 7u);
    EXPECT_EQ(fromLoose.heads + fromPackage.heads + fromMemory.heads, 0);

    // Turning async off leaves the thread running.
    manager.SetAsyncLoad(false);
    EXPECT_FALSE(manager.IsAsyncLoad());
    EXPECT_TRUE(manager.HasLoadingThread());
}

TEST(FileMgr, APausedGameClockLetsAnyBudgetDeliverEverything) {
    CFileMgr& manager = FileMgr();
    RecordingListener listeners[20];
    for (auto& listener : listeners) {
        manager.QueueRequest(NewRequest(listener, 0, 0, true));
    }
    Orvex::PauseOrvexTime(true);
    EXPECT_FALSE(manager.Dispatch(1));
    Orvex::PauseOrvexTime(false);
    for (const auto& listener : listeners) {
        EXPECT_EQ(listener.calls, 1);
        EXPECT_EQ(listener.start, listener.end); // an empty rest
    }
}

TEST(FileMgr, TeardownDeliversFinishedRequestsAndDropsPendingOnes) {
    RecordingListener finished, pending;
    {
        CFileMgr manager;
        manager.SetAsyncLoad(true);
        // A loose file that does not open keeps the thread retrying (for a
        // second) until quit.
        SLoadRequest* waiting = NewRequest(pending, 10, 0, false);
        waiting->file.source = &manager.LooseFiles();
        waiting->file.size = 10;
        waiting->file.path = Orvex::OrvexWString(L"oxp_never_there/missing.bin");
        manager.QueueRequest(waiting);
        manager.QueueRequest(NewRequest(finished, 4, 0, true));
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    EXPECT_EQ(finished.calls, 1);
    EXPECT_EQ(pending.calls, 0);
}

} // namespace
