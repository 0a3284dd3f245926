// The mapping name: one spelling for every way of naming a file, read from the
// working directory without changing it.
#include "MapTestFiles.h"

#include "OrvexCommon/filesystem/OrvexFilesystem.h"
#include "OrvexCommon/filesystem/detail/MappingName.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace {

using namespace OrvexTest;
using Orvex::detail::MemoryMapName;

std::wstring NameOf(const std::wstring& fileName) {
    const Orvex::OrvexWString name = MemoryMapName(fileName.c_str());
    return std::wstring(name.begin(), name.end());
}

std::wstring Upper(std::wstring text) {
    for (wchar_t& unit : text) {
        if (unit >= L'a' && unit <= L'z') {
            unit = static_cast<wchar_t>(unit - L'a' + L'A');
        }
    }
    return text;
}

std::wstring WithBackslashes(std::wstring text) {
    std::replace(text.begin(), text.end(), L'/', L'\\');
    return text;
}

// Runs in the test's folder, which holds sub/data.bin, and goes back after.
class MappingName : public MapFolder {
protected:
    void SetUp() override {
        MapFolder::SetUp();
        if (HasFatalFailure()) {
            return;
        }
        fs::create_directories(m_dir / "sub");
        WriteBytes(m_dir / "sub" / "data.bin", Pattern(16));
        m_home = fs::current_path();
        fs::current_path(m_dir);
    }
    void TearDown() override {
        if (!m_home.empty()) {
            fs::current_path(m_home);
        }
        MapFolder::TearDown();
    }

    fs::path m_home;
};

TEST_F(MappingName, IsTheAbsolutePathInLowerCaseWithForwardSlashes) {
    const std::wstring name = NameOf(L"sub/Data.BIN");
    ASSERT_FALSE(name.empty());
    EXPECT_TRUE(fs::path(name).is_absolute()) << fs::path(name);
    EXPECT_EQ(std::wstring::npos, name.find_first_of(L"ABCDEFGHIJKLMNOPQRSTUVWXYZ\\"))
        << fs::path(name);

    // What the file system calls the folder, in the same form.
    std::wstring folder = fs::canonical(m_dir / "sub").generic_wstring();
    std::transform(folder.begin(), folder.end(), folder.begin(), [](wchar_t unit) {
        return unit >= L'A' && unit <= L'Z' ? static_cast<wchar_t>(unit - L'A' + L'a') : unit;
    });
    std::replace(folder.begin(), folder.end(), L'\\', L'/');
    EXPECT_EQ(folder + L"/data.bin", name);
}

TEST_F(MappingName, EverySpellingOfOneFileGivesOneName) {
    const std::wstring absolute = (m_dir / "sub" / "data.bin").wstring();
    const std::wstring generic = (m_dir / "sub" / "data.bin").generic_wstring();
    const std::wstring reference = NameOf(absolute);
    ASSERT_FALSE(reference.empty());

    const std::vector<std::wstring> spellings = {
        L"sub/data.bin",
        L"./sub/data.bin",
        L"sub/../sub/./data.bin",
        (m_dir / "sub" / ".." / "sub" / "data.bin").wstring(),
        generic,
        L"sub/DATA.bin",
        WithBackslashes(L"sub/data.bin"),
        WithBackslashes(L"./sub/../sub/data.bin"),
        WithBackslashes(generic),
        Upper(L"sub/data.bin"),
        Upper(absolute),
    };
    // Only the spellings this file system takes to the file count: a
    // backslash or another letter case may name another file, or none.
    int compared = 0;
    for (const std::wstring& spelling : spellings) {
        if (fs::exists(fs::path(spelling))) {
            EXPECT_EQ(reference, NameOf(spelling)) << fs::path(spelling);
            ++compared;
        }
    }
    EXPECT_GE(compared, 5);

    // A file named without a folder is in the working directory.
    WriteBytes(m_dir / "top.bin", Pattern(4));
    EXPECT_EQ(NameOf((m_dir / "top.bin").wstring()), NameOf(L"top.bin"));
    EXPECT_EQ(NameOf(L"./top.bin"), NameOf(L"top.bin"));
    EXPECT_NE(NameOf(L"top.bin"), reference);
}

TEST_F(MappingName, MappingLeavesTheWorkingDirectoryWhereItWas) {
    const fs::path before = fs::current_path();
    unsigned size = 64;
    void* view = Orvex::OrvexMemoryMap(L"sub/../sub/made.bin", size, false);
    ASSERT_NE(nullptr, view);
    EXPECT_EQ(before, fs::current_path());
    Orvex::OrvexMemoryUnMap(view);
    EXPECT_EQ(before, fs::current_path());
    EXPECT_EQ(64u, fs::file_size(m_dir / "sub" / "made.bin"));

    size = 0;
    view = Orvex::OrvexMemoryMap(L"sub/data.bin", size, true);
    ASSERT_NE(nullptr, view);
    EXPECT_EQ(before, fs::current_path());
    EXPECT_EQ(Pattern(16), ViewBytes(view, 16));
    Orvex::OrvexMemoryUnMap(view);
}

TEST_F(MappingName, IsEmptyWhenTheFolderCannotBeMadeAbsolute) {
    EXPECT_TRUE(MemoryMapName(nullptr).empty());
    // The folder's absolute form cannot fit the room the name is built in.
    const std::wstring deep = std::wstring(3000, L'd') + L"/f.bin";
    EXPECT_TRUE(NameOf(deep).empty());
    unsigned size = 64;
    EXPECT_EQ(nullptr, Orvex::OrvexMemoryMap(deep.c_str(), size, false));
    EXPECT_EQ(64u, size);
}

} // namespace
