// The directory watcher on a real folder: what each kind of change reports,
// a wait woken from another thread, and the file stamps and the open that
// keeps writers out.
#include "OrvexCommon/platform/OrvexSys.h"
#include "OrvexScratch.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

namespace {

using Orvex::sys::WatchChange;
using Orvex::sys::WatchWait;

struct Seen {
    int watch;
    WatchChange change;
    std::wstring name;
};

void Collect(const Orvex::sys::WatchEvent& event, void* context) {
    static_cast<std::vector<Seen>*>(context)->push_back({event.watch, event.change, event.name});
}

class DirectoryWatchTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_watcher = Orvex::sys::CreateDirectoryWatcher();
        ASSERT_NE(m_watcher, nullptr);
        m_watch = Orvex::sys::WatchDirectory(m_watcher, Dir().c_str());
        ASSERT_GE(m_watch, 0);
    }
    void TearDown() override { Orvex::sys::DestroyDirectoryWatcher(m_watcher); }

    std::wstring PathOf(const wchar_t* name) const { return Dir() + L"/" + name; }

    // Waits (at most 10 s) until `name` has been reported with `change`.
    bool AwaitChange(const wchar_t* name, WatchChange change) {
        for (int round = 0; round < 100; ++round) {
            for (const Seen& seen : m_seen) {
                if (seen.watch == m_watch && seen.change == change && seen.name == name) {
                    return true;
                }
            }
            (void)Orvex::sys::WaitDirectoryChanges(m_watcher, 100, &Collect, &m_seen);
        }
        return false;
    }

    void Write(const wchar_t* name, const char* text) {
        std::FILE* file = Orvex::sys::OpenFileStream(PathOf(name).c_str(), "wb");
        ASSERT_NE(file, nullptr);
        std::fputs(text, file);
        std::fclose(file);
    }

    std::wstring Dir() const { return m_dir.Path().wstring(); }

    OrvexTest::ScratchFolder m_dir{OrvexTest::UniqueName("watch")};
    Orvex::sys::DirectoryWatcher* m_watcher = nullptr;
    int m_watch = -1;
    std::vector<Seen> m_seen;
};

TEST_F(DirectoryWatchTest, ReportsEachKindOfChange) {
    Write(L"a.txt", "one");
    EXPECT_TRUE(AwaitChange(L"a.txt", WatchChange::Written));
    if (Orvex::sys::WatcherReportsClose()) {
        EXPECT_TRUE(AwaitChange(L"a.txt", WatchChange::Closed));
    }
    Write(L"a.tmp", "two");
    ASSERT_TRUE(Orvex::sys::ReplaceFileWith(PathOf(L"a.tmp").c_str(), PathOf(L"a.txt").c_str()));
    EXPECT_TRUE(AwaitChange(L"a.txt", WatchChange::Appeared));
    EXPECT_TRUE(AwaitChange(L"a.tmp", WatchChange::Vanished));
    ASSERT_TRUE(Orvex::sys::RemoveFile(PathOf(L"a.txt").c_str()));
    EXPECT_TRUE(AwaitChange(L"a.txt", WatchChange::Vanished));
}

TEST_F(DirectoryWatchTest, NothingHappenedIsATimeoutAndAWakeEndsTheWait) {
    EXPECT_EQ(Orvex::sys::WaitDirectoryChanges(m_watcher, 20, &Collect, &m_seen),
              WatchWait::Timeout);
    EXPECT_TRUE(m_seen.empty());
    std::thread waker([this] { Orvex::sys::WakeDirectoryWatcher(m_watcher); });
    // A wait of a minute ends with the wake, and reports it as such.
    EXPECT_EQ(Orvex::sys::WaitDirectoryChanges(m_watcher, 60000, &Collect, &m_seen),
              WatchWait::Events);
    waker.join();
    EXPECT_TRUE(m_seen.empty());
}

TEST_F(DirectoryWatchTest, StampsTellVersionsApartAndOpenWritersAreSeen) {
    Orvex::sys::FileStamp first;
    Orvex::sys::FileStamp second;
    EXPECT_FALSE(Orvex::sys::ReadFileStamp(PathOf(L"b.txt").c_str(), first));
    EXPECT_FALSE(Orvex::sys::ReadFileStamp(Dir().c_str(), first));
    Write(L"b.txt", "short");
    ASSERT_TRUE(Orvex::sys::ReadFileStamp(PathOf(L"b.txt").c_str(), first));
    EXPECT_EQ(first.size, 5u);
    Write(L"b.tmp", "longer text");
    ASSERT_TRUE(Orvex::sys::ReplaceFileWith(PathOf(L"b.tmp").c_str(), PathOf(L"b.txt").c_str()));
    ASSERT_TRUE(Orvex::sys::ReadFileStamp(PathOf(L"b.txt").c_str(), second));
    EXPECT_NE(first, second);
    EXPECT_EQ(second.size, 11u);

    std::FILE* writer = Orvex::sys::OpenFileStream(PathOf(L"b.txt").c_str(), "ab");
    ASSERT_NE(writer, nullptr);
    std::FILE* reader = Orvex::sys::OpenFileStreamWithoutWriters(PathOf(L"b.txt").c_str());
    // Where the watcher cannot say a writer closed the file, the open must.
    EXPECT_EQ(reader == nullptr, !Orvex::sys::WatcherReportsClose());
    if (reader != nullptr) {
        std::fclose(reader);
    }
    std::fclose(writer);
    reader = Orvex::sys::OpenFileStreamWithoutWriters(PathOf(L"b.txt").c_str());
    ASSERT_NE(reader, nullptr);
    // The reader never keeps an editor from saving. (Windows refuses to
    // rename over any open file, however it is shared.)
    writer = Orvex::sys::OpenFileStream(PathOf(L"b.txt").c_str(), "ab");
    EXPECT_NE(writer, nullptr);
    if (writer != nullptr) {
        std::fclose(writer);
    }
    std::fclose(reader);
}

TEST_F(DirectoryWatchTest, AWatchEndsWhenItsDirectoryGoes) {
    if (Orvex::sys::PathsHaveDrives()) {
        GTEST_SKIP() << "Wine keeps a watched directory until its watch's handle is closed";
    }
    const std::filesystem::path inner = m_dir.Path() / "inner";
    ASSERT_TRUE(std::filesystem::create_directory(inner));
    const int watch = Orvex::sys::WatchDirectory(m_watcher, inner.wstring().c_str());
    ASSERT_GE(watch, 0);
    EXPECT_EQ(Orvex::sys::WatchDirectory(m_watcher, (Dir() + L"/none").c_str()), -1);
    std::filesystem::remove(inner);
    bool lost = false;
    for (int round = 0; round < 100 && !lost; ++round) {
        (void)Orvex::sys::WaitDirectoryChanges(m_watcher, 100, &Collect, &m_seen);
        for (const Seen& seen : m_seen) {
            lost = lost || (seen.watch == watch && seen.change == WatchChange::Lost);
        }
    }
    EXPECT_TRUE(lost);
}

} // namespace
