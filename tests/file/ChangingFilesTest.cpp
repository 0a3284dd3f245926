// Files that change under the loader: a private-mode package replaced or
// truncated on disk while open, and a loose file deleted between Load and
// the loading thread's read. Each gives a clean failure or the bytes the
// package's index describes; never other bytes, never a crash.
#include "OrvexCommon/file/detail/FileMgr.h"

#include "PackageTestSupport.h"

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <system_error>
#include <thread>

namespace {

using namespace Orvex::detail;
using OrvexTest::Bytes;
using OrvexTest::DataListener;
using OrvexTest::PackedFile;
using OrvexTest::RandomBytes;

// Dispatches until nothing is pending, for at most five seconds.
void DispatchAll() {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (FileMgr().Dispatch(50) && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

struct SLoadResult {
    std::int32_t result;
    int calls;
    Bytes bytes; // the rest delivered
};

SLoadResult LoadOnce(const std::wstring& name, bool async) {
    DataListener listener;
    FileMgr().SetAsyncLoad(async);
    const std::int32_t result = FileMgr().Load(name.c_str(), &listener);
    DispatchAll();
    FileMgr().SetAsyncLoad(false);
    return {result, listener.calls, listener.bytes};
}

class ChangingPackage : public ::testing::TestWithParam<bool> {
protected:
    void SetUp() override {
        stem = OrvexTest::UniqueName(GetParam() ? "chg_scr" : "chg");
        files = {{L"a.bin", RandomBytes(3000, 1), 0},
                 {L"b.bin", RandomBytes(9000, 2), 0},
                 {L"c.bin", RandomBytes(20000, 3), 0}};
        ASSERT_TRUE(OrvexTest::WritePackage(stem + L".pkg", files, GetParam()));
        scratch.Add(stem + L".pkg");
        ASSERT_TRUE(FileMgr().OpenPackage((stem + L".pkg").c_str(), nullptr, 0, false));
    }
    std::wstring Name(const PackedFile& file) const { return stem + L"/" + file.name; }

    std::wstring stem;
    std::vector<PackedFile> files;
    OrvexTest::ScratchPaths scratch;
};

// Replaced (a new package renamed over it): the index no longer describes
// the file under the name, so reads through a handle of their own fail
// cleanly; the loading thread still reads the package it opened. Where the
// system refuses to replace an open file, everything reads as before.
TEST_P(ChangingPackage, ReplacedWhileOpenNeverReadsTheNewBytes) {
    const std::wstring replacement = stem + L".new";
    std::vector<PackedFile> other = files;
    for (PackedFile& file : other) {
        file.bytes = RandomBytes(file.bytes.size(), 99);
    }
    ASSERT_TRUE(OrvexTest::WritePackage(replacement, other, GetParam()));
    scratch.Add(replacement);
    std::error_code error;
    std::filesystem::rename(std::filesystem::path(replacement),
                            std::filesystem::path(stem + L".pkg"), error);
    const bool replaced = !error;
    for (const PackedFile& file : files) {
        Bytes read;
        const bool found = OrvexTest::ReadThroughReader(Name(file), read);
        EXPECT_EQ(found, !replaced);
        if (found) {
            EXPECT_EQ(read, file.bytes);
        }
        const SLoadResult sync = LoadOnce(Name(file), false);
        EXPECT_EQ(sync.result < 0, replaced);
        EXPECT_EQ(sync.calls, replaced ? 0 : 1);
        const Bytes rest(file.bytes.begin() + file.resident, file.bytes.end());
        if (sync.calls == 1) {
            EXPECT_EQ(sync.bytes, rest);
        }
        const SLoadResult async = LoadOnce(Name(file), true);
        EXPECT_EQ(async.calls, 1);
        EXPECT_EQ(async.bytes, rest) << "the loading thread reads the package it opened";
    }
}

// Truncated: what is left reads right; what is gone reads short through a
// reader, and as zeros (key bytes when scrambled) in a load.
TEST_P(ChangingPackage, TruncatedWhileOpenReadsWhatIsLeft) {
    const std::filesystem::path path(stem + L".pkg");
    const std::uintmax_t left = std::filesystem::file_size(path) / 3;
    std::filesystem::resize_file(path, left);
    for (const PackedFile& file : files) {
        const std::uint32_t offset = FindPackageEntry(Name(file).c_str(), true).entry->offset;
        // How many of the file's bytes the package still holds.
        const std::size_t held =
            left <= offset ? 0 : std::min<std::size_t>(file.bytes.size(), left - offset);
        Bytes read;
        const bool found = OrvexTest::ReadThroughReader(Name(file), read);
        ASSERT_TRUE(found);
        // Short, or the whole length with what is gone read as zeros.
        ASSERT_TRUE(read.size() == held || read.size() == file.bytes.size()) << read.size();
        EXPECT_TRUE(std::equal(read.begin(), read.begin() + held, file.bytes.begin()));
        if (!GetParam()) {
            EXPECT_EQ(Bytes(read.begin() + held, read.end()), Bytes(read.size() - held, 0));
        }
        const std::size_t restHeld = held > file.resident ? held - file.resident : 0;
        const Bytes rest(file.bytes.begin() + file.resident, file.bytes.end());
        for (const bool async : {false, true}) {
            const SLoadResult load = LoadOnce(Name(file), async);
            ASSERT_EQ(load.calls, 1);
            ASSERT_EQ(load.bytes.size(), rest.size());
            // The right bytes, at least those still held (a stream may still
            // have more in its buffer), then zeros.
            std::size_t same = 0;
            while (same < rest.size() && load.bytes[same] == rest[same]) {
                ++same;
            }
            EXPECT_GE(same, restHeld);
            if (!GetParam()) {
                EXPECT_EQ(Bytes(load.bytes.begin() + same, load.bytes.end()),
                          Bytes(rest.size() - same, 0));
            }
        }
    }
}

INSTANTIATE_TEST_SUITE_P(PlainAndScrambled, ChangingPackage, ::testing::Bool());

// A loose file that is gone when the loading thread reaches it is delivered
// once with no bytes, after a second of trying, and the loads queued behind
// it are not held up for good.
TEST(ChangingLooseFile, DeletedBeforeTheLoadingThreadReadsIt) {
    OrvexTest::ScratchPaths scratch;
    const std::wstring present = OrvexTest::UniqueName("chg_loose") + L".bin";
    const Bytes bytes = RandomBytes(5000, 7);
    OrvexTest::WriteRawFile(present, bytes);
    scratch.Add(present);
    CFileMgr& manager = FileMgr();
    manager.SetAsyncLoad(true);
    DataListener gone, behind;
    auto* request = new SLoadRequest;
    request->listener = &gone;
    request->data.assign(64, 0);
    request->file.source = &manager.LooseFiles();
    request->file.size = 64;
    request->file.path = Orvex::OrvexWString(L"oxp_chg_never_there/missing.bin");
    manager.QueueRequest(request);
    ASSERT_EQ(manager.Load(present.c_str(), &behind), 5000);
    DispatchAll();
    manager.SetAsyncLoad(false);
    EXPECT_EQ(gone.calls, 1);
    EXPECT_TRUE(gone.bytes.empty());
    EXPECT_EQ(behind.calls, 1);
    EXPECT_EQ(behind.bytes, bytes);
}

// The same race through the public calls: deleted right after Load, the
// file arrives whole or empty, once.
TEST(ChangingLooseFile, DeletedRightAfterLoadArrivesWholeOrEmpty) {
    CFileMgr& manager = FileMgr();
    for (int round = 0; round < 3; ++round) {
        const std::wstring name = OrvexTest::UniqueName("chg_race") + L".bin";
        const Bytes bytes = RandomBytes(100000, static_cast<std::uint32_t>(round));
        OrvexTest::WriteRawFile(name, bytes);
        DataListener listener;
        manager.SetAsyncLoad(true);
        ASSERT_EQ(manager.Load(name.c_str(), &listener), 100000);
        std::error_code ignored;
        std::filesystem::remove(std::filesystem::path(name), ignored);
        DispatchAll();
        manager.SetAsyncLoad(false);
        EXPECT_EQ(listener.calls, 1);
        EXPECT_TRUE(listener.bytes.empty() || listener.bytes == bytes);
        std::filesystem::remove(std::filesystem::path(name), ignored);
    }
}

} // namespace
