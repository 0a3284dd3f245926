// Hot reload end to end on real folders: the saves editors make each deliver
// the final bytes exactly once at a Dispatch, a file never loaded delivers
// nothing, lost reports are made good by a rescan, a deleted file gives one
// notice, a changed package is reported, and turning watching off drops what
// is pending.
#include "OrvexCommon/file/OrvexFile.h"
#include "OrvexCommon/file/detail/ReloadWatch.h"
#include "OrvexCommon/log/OrvexLog.h"
#include "OrvexCommon/platform/OrvexSys.h"

#include "FileHeadTestSupport.h"
#include "OrvexScratch.h"
#include "PackageTestSupport.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace {

using OrvexTest::Bytes;

constexpr std::uint32_t kSettleMs = 100;

// Every call a reload listener gets, in order.
class RecordingListener final : public Orvex::IFileReloadListener {
public:
    explicit RecordingListener(std::int32_t type = -1) : m_type(type) {}
    std::int32_t GetFileType() override { return m_type; }
    void OnLoadHead(const Orvex::CCommonFileHead& head, Orvex::SLoadBuffer&) override {
        heads.push_back(static_cast<std::int32_t>(head.GetType()));
    }
    void OnLoadData(Orvex::SLoadBuffer& buffer) override {
        if (!pending.empty()) {
            reloads[pending].emplace_back(buffer.origin + buffer.pos, buffer.origin + buffer.end);
            pending.clear();
        }
    }
    void OnReload(const wchar_t* fileName) override { pending = fileName; }
    void OnReloadGone(const wchar_t* fileName) override { gone.emplace_back(fileName); }

    std::size_t Deliveries() const {
        std::size_t count = gone.size();
        for (const auto& file : reloads) {
            count += file.second.size();
        }
        return count;
    }

    std::map<std::wstring, std::vector<Bytes>> reloads;
    std::vector<std::wstring> gone;
    std::vector<std::int32_t> heads;

private:
    std::int32_t m_type;
    std::wstring pending;
};

class LoadOnly final : public Orvex::IFileLoadListener {
public:
    std::int32_t GetFileType() override { return -1; }
    void OnLoadHead(const Orvex::CCommonFileHead&, Orvex::SLoadBuffer&) override {}
    void OnLoadData(Orvex::SLoadBuffer&) override {}
};

Bytes BytesOf(const std::string& text) {
    return Bytes(text.begin(), text.end());
}

// Writes through the C runtime, as an editor would. Retried briefly: on
// Windows the watcher's probe may hold the file for a moment.
void WriteFile(const std::wstring& path, const std::string& text, const char* mode = "wb") {
    for (int attempt = 0; attempt < 100; ++attempt) {
        if (std::FILE* file = Orvex::sys::OpenFileStream(path.c_str(), mode)) {
            std::fwrite(text.data(), 1, text.size(), file);
            std::fclose(file);
            return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    ADD_FAILURE() << "cannot write the file";
}

// Windows refuses to rename over a file anyone holds open, the watcher's
// stamp for an instant included: retried briefly, as editors do.
bool RenameOver(const std::wstring& from, const std::wstring& to) {
    for (int attempt = 0; attempt < 100; ++attempt) {
        if (Orvex::sys::ReplaceFileWith(from.c_str(), to.c_str())) {
            return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return false;
}

std::vector<std::string> g_errors;
std::mutex g_errorsLock;
void KeepError(const char* text, unsigned) {
    std::lock_guard<std::mutex> hold(g_errorsLock);
    g_errors.emplace_back(text);
}

class HotReload : public ::testing::Test {
protected:
    void SetUp() override {
        // Synchronous loads: a queued read would hold the file open later.
        m_async = Orvex::GetOrvexFileMgr().IsAsyncLoad();
        Orvex::GetOrvexFileMgr().SetAsyncLoad(false);
        Orvex::SetReloadSettleTime(kSettleMs);
        Orvex::SetFileWatching(true);
        ASSERT_TRUE(Orvex::IsFileWatching());
        ASSERT_TRUE(Orvex::AddReloadListener(nullptr, &every));
        AwaitNotesTaken();
        m_watchedAtStart = Orvex::detail::ReloadWatch().WatchedFileCount();
        m_foldersAtStart = Orvex::detail::ReloadWatch().WatchedFolderCount();
    }
    void TearDown() override {
        Orvex::RemoveReloadListener(nullptr, &every);
        Orvex::SetFileWatching(false);
        Orvex::SetReloadSettleTime(100);
        Orvex::GetOrvexFileMgr().SetAsyncLoad(m_async);
    }

    std::wstring PathOf(const std::wstring& name) const {
        return m_dir.Path().wstring() + L"/" + name;
    }
    // Writes the file and loads it, so that it is watched; waits until the
    // watcher thread has taken it.
    std::wstring Loaded(const std::wstring& name, const std::string& text) {
        const std::wstring path = PathOf(name);
        WriteFile(path, text);
        LoadOnly listener;
        EXPECT_GE(Orvex::GetOrvexFileMgr().Load(path.c_str(), &listener), 0);
        return path;
    }
    // Waits until the watcher thread has taken up every file noted so far.
    static void AwaitNotesTaken() {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        while (Orvex::detail::ReloadWatch().NotesPending() &&
               std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        ASSERT_FALSE(Orvex::detail::ReloadWatch().NotesPending());
    }
    // Waits until the files loaded are watched: `files` of this test's own,
    // beside what was watched from the start (packages other tests of this
    // process left open).
    void AwaitWatched(std::size_t files) {
        AwaitNotesTaken();
        ASSERT_EQ(Orvex::detail::ReloadWatch().WatchedFileCount() - m_watchedAtStart, files);
    }
    void AwaitQueued(std::size_t deliveries) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        while (Orvex::detail::ReloadWatch().QueuedDeliveries() != deliveries &&
               std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        ASSERT_EQ(Orvex::detail::ReloadWatch().QueuedDeliveries(), deliveries);
    }
    // Runs frames (Dispatch, then a short sleep) until `done` holds, for at
    // most 60 s (a loaded machine under Wine), then for a few settle times more, in which nothing
    // else may come.
    void Frames(const std::function<bool()>& done) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        while (!done() && std::chrono::steady_clock::now() < deadline) {
            Orvex::GetOrvexFileMgr().Dispatch(16);
            std::this_thread::sleep_for(std::chrono::milliseconds(4));
        }
        const std::size_t delivered = every.Deliveries();
        const auto quietEnd =
            std::chrono::steady_clock::now() + std::chrono::milliseconds(kSettleMs * 6);
        while (std::chrono::steady_clock::now() < quietEnd) {
            Orvex::GetOrvexFileMgr().Dispatch(16);
            std::this_thread::sleep_for(std::chrono::milliseconds(4));
        }
        EXPECT_EQ(every.Deliveries(), delivered) << "deliveries after the settled one";
    }
    void ExpectOneReload(const std::wstring& path, const std::string& text) {
        Frames([&] { return every.reloads.count(path) != 0; });
        ASSERT_EQ(every.reloads[path].size(), 1u);
        EXPECT_EQ(every.reloads[path][0], BytesOf(text));
    }

    OrvexTest::ScratchFolder m_dir{OrvexTest::UniqueName("reload")};
    RecordingListener every;
    bool m_async = false;
    std::size_t m_watchedAtStart = 0;
    std::size_t m_foldersAtStart = 0;
};

// Each way an editor saves, from a loaded file "v1" to its final text.
struct SSave {
    const char* name;
    std::function<void(const std::wstring& path)> steps;
};

TEST_F(HotReload, EachKindOfSaveDeliversTheFinalBytesOnce) {
    const std::string final(3000, 'z');
    const SSave saves[] = {
        {"in place", [&](const std::wstring& path) { WriteFile(path, final); }},
        {"temporary renamed over",
         [&](const std::wstring& path) {
             WriteFile(path + L".tmp", final);
             ASSERT_TRUE(RenameOver(path + L".tmp", path));
         }},
        {"truncated, then written in slow steps",
         [&](const std::wstring& path) {
             std::FILE* file = Orvex::sys::OpenFileStream(path.c_str(), "wb");
             ASSERT_NE(file, nullptr);
             for (int step = 0; step < 5; ++step) {
                 std::this_thread::sleep_for(std::chrono::milliseconds(kSettleMs * 2));
                 std::fwrite(final.data() + step * 600, 1, 600, file);
                 std::fflush(file);
             }
             std::fclose(file);
         }},
        {"deleted, then made again within the settle time",
         [&](const std::wstring& path) {
             ASSERT_TRUE(Orvex::sys::RemoveFile(path.c_str()));
             std::this_thread::sleep_for(std::chrono::milliseconds(kSettleMs / 5));
             WriteFile(path, final);
         }},
        {"a burst of 50 writes",
         [&](const std::wstring& path) {
             for (int write = 0; write < 49; ++write) {
                 WriteFile(path, std::string(100 + write, 'a'));
             }
             WriteFile(path, final);
         }},
    };
    int index = 0;
    for (const SSave& save : saves) {
        SCOPED_TRACE(save.name);
        const std::wstring path = Loaded(L"save" + std::to_wstring(index++) + L".txt", "v1");
        AwaitWatched(static_cast<std::size_t>(index));
        save.steps(path);
        ExpectOneReload(path, final);
    }
    EXPECT_TRUE(every.gone.empty());
}

TEST_F(HotReload, ManyFilesAtOnceAndLostReportsAreAllDelivered) {
    constexpr int kFiles = 2000;
    std::vector<std::wstring> paths;
    for (int i = 0; i < kFiles; ++i) {
        paths.push_back(Loaded(L"many" + std::to_wstring(i) + L".txt", "old"));
    }
    const std::wstring never = PathOf(L"never-loaded.txt");
    WriteFile(never, "x");
    // The folder again under another spelling: still one watch.
    const std::wstring respelled = m_dir.Path().wstring() + L"/./many0.txt";
    LoadOnly listener;
    ASSERT_GE(Orvex::GetOrvexFileMgr().Load(respelled.c_str(), &listener), 0);
    AwaitWatched(kFiles);
    EXPECT_EQ(Orvex::detail::ReloadWatch().WatchedFolderCount() - m_foldersAtStart, 1u);
    // The first half is changed while the watcher drops its reports, as a
    // system whose queue overflowed does; the rescan must find them.
    Orvex::detail::ReloadWatch().DropNextReports();
    for (int i = 0; i < kFiles; ++i) {
        WriteFile(paths[i], "new " + std::to_string(i));
    }
    WriteFile(never, "changed");
    Frames([&] { return every.reloads.size() == kFiles; });
    ASSERT_EQ(every.reloads.size(), static_cast<std::size_t>(kFiles));
    for (int i = 0; i < kFiles; ++i) {
        ASSERT_EQ(every.reloads[paths[i]].size(), 1u) << i;
        EXPECT_EQ(every.reloads[paths[i]][0], BytesOf("new " + std::to_string(i)));
    }
    EXPECT_EQ(every.reloads.count(never), 0u);
}

TEST_F(HotReload, ListenersByNameHeadsAndRefusals) {
    const std::wstring path = PathOf(L"Typed.bin");
    const OrvexTest::HeadPlan plan{Orvex::eFT_Tex, 1, {}, 0};
    Bytes bytes = OrvexTest::Encode(plan);
    bytes.push_back('!');
    WriteFile(path, std::string(bytes.begin(), bytes.end()));
    LoadOnly first;
    ASSERT_GE(Orvex::GetOrvexFileMgr().Load(path.c_str(), &first), 0);
    RecordingListener typed(Orvex::eFT_Tex);
    RecordingListener wrongType(Orvex::eFT_Map);
    RecordingListener otherName;
    // Names compare as package names do: case and separators folded.
    std::wstring spelling = path;
    for (wchar_t& unit : spelling) {
        unit = unit == L'/' ? L'\\' : static_cast<wchar_t>(std::towupper(unit));
    }
    ASSERT_TRUE(Orvex::AddReloadListener(spelling.c_str(), &typed));
    ASSERT_TRUE(Orvex::AddReloadListener(path.c_str(), &typed)); // called once all the same
    ASSERT_TRUE(Orvex::AddReloadListener(path.c_str(), &wrongType));
    ASSERT_TRUE(Orvex::AddReloadListener(PathOf(L"other.bin").c_str(), &otherName));
    AwaitWatched(1);
    const Orvex::GlobOutputFun previous = Orvex::GetGlobErrFun();
    Orvex::SetGlobErrFun(KeepError);
    {
        std::lock_guard<std::mutex> hold(g_errorsLock);
        g_errors.clear();
    }
    bytes.push_back('?');
    WriteFile(path, std::string(bytes.begin(), bytes.end()));
    Frames([&] { return typed.reloads.count(path) != 0; });
    Orvex::SetGlobErrFun(previous);
    ASSERT_EQ(typed.reloads[path].size(), 1u);
    EXPECT_EQ(typed.heads, std::vector<std::int32_t>{Orvex::eFT_Tex});
    EXPECT_EQ(typed.reloads[path][0], BytesOf("!?"));
    EXPECT_EQ(wrongType.Deliveries(), 0u);
    EXPECT_EQ(otherName.Deliveries(), 0u);
    // A listener of type -1 takes a loose file whole, head and all.
    ASSERT_EQ(every.reloads[path].size(), 1u);
    EXPECT_EQ(every.reloads[path][0], bytes);
    std::lock_guard<std::mutex> hold(g_errorsLock);
    ASSERT_EQ(g_errors.size(), 1u); // the listener of another type
    EXPECT_NE(g_errors[0].find("reloaded file refused: "), std::string::npos) << g_errors[0];
    Orvex::RemoveReloadListener(spelling.c_str(), &typed);
    Orvex::RemoveReloadListener(path.c_str(), &wrongType);
    Orvex::RemoveReloadListener(PathOf(L"other.bin").c_str(), &otherName);
}

TEST_F(HotReload, AChangeReplacesADeliveryStillQueued) {
    const std::wstring path = Loaded(L"queued.txt", "one");
    AwaitWatched(1);
    WriteFile(path, "two");
    AwaitQueued(1); // settled; no Dispatch yet
    WriteFile(path, "three");
    AwaitQueued(0); // the report came: the queued version is dropped
    ExpectOneReload(path, "three");
    // A report that moves nothing of the stamp (the permissions; Windows
    // reports none) may come before or after Dispatch takes the queued
    // version: either way that version is delivered once.
    WriteFile(path, "four");
    AwaitQueued(1);
    std::filesystem::permissions(path, std::filesystem::perms::owner_exec,
                                 std::filesystem::perm_options::add);
    std::this_thread::sleep_for(std::chrono::milliseconds(kSettleMs / 2));
    Frames([&] { return every.reloads[path].size() == 2; });
    EXPECT_EQ(every.reloads[path], (std::vector<Bytes>{BytesOf("three"), BytesOf("four")}));
}

TEST_F(HotReload, ADeletedFileGivesOneNoticeAndIsReloadedWhenItComesBack) {
    const std::wstring path = Loaded(L"gone.txt", "here");
    AwaitWatched(1);
    ASSERT_TRUE(Orvex::sys::RemoveFile(path.c_str()));
    Frames([&] { return !every.gone.empty(); });
    EXPECT_EQ(every.gone, std::vector<std::wstring>{path});
    WriteFile(path, "back");
    ExpectOneReload(path, "back");
    EXPECT_EQ(every.gone.size(), 1u);
}

TEST_F(HotReload, AChangedPackageIsReportedOnceAndNotReloaded) {
    const std::wstring stem = PathOf(L"pack");
    ASSERT_TRUE(OrvexTest::WritePackage(stem + L".pkg", {{L"a.txt", BytesOf("packed"), 0}}, false));
    ASSERT_TRUE(Orvex::GetOrvexFileMgr().OpenPackage((stem + L".pkg").c_str(), nullptr, 0, false));
    AwaitWatched(1);
    const Orvex::GlobOutputFun previous = Orvex::GetGlobErrFun();
    Orvex::SetGlobErrFun(KeepError);
    {
        std::lock_guard<std::mutex> hold(g_errorsLock);
        g_errors.clear();
    }
    for (int change = 0; change < 2; ++change) {
        WriteFile(stem + L".pkg", "not a package any more " + std::to_string(change), "ab");
        Frames([&] {
            std::lock_guard<std::mutex> hold(g_errorsLock);
            return !g_errors.empty();
        });
    }
    Orvex::SetGlobErrFun(previous);
    std::lock_guard<std::mutex> hold(g_errorsLock);
    ASSERT_EQ(g_errors.size(), 1u);
    EXPECT_NE(g_errors[0].find("package changed on disk: "), std::string::npos) << g_errors[0];
    EXPECT_NE(g_errors[0].find("pack.pkg"), std::string::npos) << g_errors[0];
    EXPECT_EQ(every.Deliveries(), 0u);
}

TEST_F(HotReload, TurningWatchingOffDropsWhatIsPending) {
    const std::wstring path = Loaded(L"pending.txt", "one");
    AwaitWatched(1);
    WriteFile(path, "two");
    // Settled and queued, or still settling: either way never delivered.
    std::this_thread::sleep_for(std::chrono::milliseconds(kSettleMs * 3));
    Orvex::SetFileWatching(false);
    EXPECT_EQ(Orvex::detail::ReloadWatch().WatchedFileCount(), 0u);
    for (int frame = 0; frame < 20; ++frame) {
        Orvex::GetOrvexFileMgr().Dispatch(16);
    }
    EXPECT_EQ(every.Deliveries(), 0u);
    // On again, a file is watched from its next load.
    Orvex::SetFileWatching(true);
    WriteFile(path, "three");
    LoadOnly listener;
    ASSERT_GE(Orvex::GetOrvexFileMgr().Load(path.c_str(), &listener), 0);
    AwaitWatched(1);
    WriteFile(path, "four");
    ExpectOneReload(path, "four");
}

} // namespace
