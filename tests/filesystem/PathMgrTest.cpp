// The path manager: its two paths, the directory walk, the file-system
// queries, creating chains of directories and relative paths.
#include "OrvexCommon/filesystem/OrvexPathMgr.h"
#include "OrvexCommon/memory/OrvexMemory.h"
#include "OrvexCommon/platform/OrvexSys.h"
#include "OrvexScratch.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cwchar>
#include <filesystem>
#include <fstream>
#include <optional>
#include <ostream>
#include <string>
#include <system_error>
#include <vector>

namespace {

namespace fs = std::filesystem;
using Orvex::CPathMgr;

// Windows spells absolute paths with a drive; there wchar_t has 16 bits.
const bool kDrivePaths = sizeof(wchar_t) == 2;

std::wstring Slashed(std::wstring text) {
    std::replace(text.begin(), text.end(), L'\\', L'/');
    return text;
}

std::wstring WorkingDirectory() {
    return fs::current_path().wstring();
}

void Touch(const fs::path& file) {
    std::ofstream(file) << "x";
}

// A fresh folder per test under the temporary directory, and relative scratch
// names in the working directory, all removed when the test ends.
class PathFolder : public ::testing::Test {
protected:
    void SetUp() override {
        m_tag = OrvexTest::TestScratchName(
            "oxpath", *::testing::UnitTest::GetInstance()->current_test_info());
        m_folder.emplace(fs::temp_directory_path() / m_tag);
        m_dir = m_folder->Path();
        ASSERT_TRUE(fs::is_directory(m_dir));
        m_base = Slashed(m_dir.wstring());
        m_relative.Add(fs::path(m_tag));
    }
    void TearDown() override { m_folder.reset(); }

    // The relative scratch name: a folder of the working directory.
    std::wstring ScratchName() const { return fs::path(m_tag).wstring(); }

    std::string m_tag;
    std::optional<OrvexTest::ScratchFolder> m_folder;
    OrvexTest::ScratchPaths m_relative;
    fs::path m_dir;
    std::wstring m_base; // m_dir with '/' separators
};

// ---- The object's two paths ----

TEST(PathMgrObject, RootTakesSlashesAndLosesOneTrailingSeparator) {
    const CPathMgr game(L"D:\\Game\\");
    EXPECT_STREQ(L"D:/Game", game.GetRootPath());
    EXPECT_STREQ(L"D:/Game", game.GetCurPath());
    EXPECT_STREQ(L"a/b/", CPathMgr(L"a\\b//").GetRootPath());
    EXPECT_STREQ(L"x", CPathMgr(L"x").GetCurPath());

    const std::wstring longRoot(1500, L'r');
    const CPathMgr cut(longRoot.c_str());
    EXPECT_EQ(longRoot.substr(0, 1023), cut.GetRootPath());
    EXPECT_EQ(longRoot.substr(0, 1023), cut.GetCurPath());
}

TEST(PathMgrObject, NullOrEmptyRootIsTheWorkingDirectory) {
    const std::wstring expected = Slashed(WorkingDirectory());
    for (const CPathMgr& paths : {CPathMgr(), CPathMgr(nullptr), CPathMgr(L"")}) {
        EXPECT_EQ(expected, paths.GetRootPath());
        EXPECT_EQ(expected, paths.GetCurPath());
    }
}

TEST(PathMgrObject, CopiesAreWholeAndIndependent) {
    CPathMgr original(L"root");
    original.SetCurPath(L"x");
    const CPathMgr copy(original);
    CPathMgr assigned(L"other");
    assigned = original;
    CPathMgr& self = assigned;
    assigned = self;
    const wchar_t* current = original.GetCurPath();
    original.SetCurPath(L"y");

    EXPECT_STREQ(L"root/y", current) << "the getter points into the live buffer";
    for (const CPathMgr* paths : {&copy, static_cast<const CPathMgr*>(&assigned)}) {
        EXPECT_STREQ(L"root", paths->GetRootPath());
        EXPECT_STREQ(L"root/x", paths->GetCurPath());
    }
}

TEST(PathMgrObject, SetCurPathComposesBelowTheRootOrReplaces) {
    CPathMgr game(L"D:/Game");
    game.SetCurPath(L"maps\\town");
    EXPECT_STREQ(L"D:/Game/maps/town", game.GetCurPath());
    game.SetCurPath(nullptr);
    EXPECT_STREQ(L"D:/Game", game.GetCurPath());
    game.SetCurPath(L"x");
    game.SetCurPath(L"");
    EXPECT_STREQ(L"D:/Game", game.GetCurPath());

    game.SetCurPath(L"E:\\Other");
    EXPECT_STREQ(kDrivePaths ? L"E:/Other" : L"D:/Game/E:/Other", game.GetCurPath());
    game.SetCurPath(L"/abs\\x");
    EXPECT_STREQ(kDrivePaths ? L"D:/Game//abs/x" : L"/abs/x", game.GetCurPath());

    const std::wstring longText(2000, L'a');
    game.SetCurPath(longText.c_str());
    EXPECT_EQ(L"D:/Game/" + longText.substr(0, 1023 - 8), game.GetCurPath());
    EXPECT_STREQ(L"D:/Game", game.GetRootPath());
}

// ---- The walk ----

struct Report {
    std::wstring path;
    CPathMgr::FTW_FLAG flag;
    bool operator<(const Report& other) const { return path < other.path; }
    bool operator==(const Report& other) const { return path == other.path && flag == other.flag; }
};

void PrintTo(const Report& report, std::ostream* out) {
    *out << fs::path(report.path) << (report.flag == CPathMgr::FTW_DIR ? " (dir)" : " (file)");
}

struct Recorder {
    std::vector<Report> reports;
    std::wstring stopAt;
    std::wstring skipAt;
    CPathMgr::FTW_RESULT otherwise = CPathMgr::FTW_CONTINUE;
};

CPathMgr::FTW_RESULT Record(const wchar_t* path, CPathMgr::FTW_FLAG flag, void* context) {
    Recorder& recorder = *static_cast<Recorder*>(context);
    recorder.reports.push_back({path, flag});
    if (path == recorder.stopAt) {
        return CPathMgr::FTW_STOP;
    }
    return path == recorder.skipAt ? CPathMgr::FTW_SKIP : recorder.otherwise;
}

std::vector<Report> Sorted(std::vector<Report> reports) {
    std::sort(reports.begin(), reports.end());
    return reports;
}

// top.txt, sub/{mid.txt, deep/{low.txt, .svn (a file)}, .SVN/kept.txt},
// .svn/entries, empty/.
class PathWalk : public PathFolder {
protected:
    void SetUp() override {
        PathFolder::SetUp();
        if (HasFatalFailure()) {
            return;
        }
        for (const char* dir : {"sub/deep", "sub/.SVN", ".svn", "empty"}) {
            fs::create_directories(m_dir / dir);
        }
        for (const char* file : {"top.txt", "sub/mid.txt", "sub/deep/low.txt", "sub/deep/.svn",
                                 "sub/.SVN/kept.txt", ".svn/entries"}) {
            Touch(m_dir / file);
        }
    }

    Report File(const wchar_t* name) const { return {m_base + L"/" + name, CPathMgr::FTW_FILE}; }
    Report Dir(const wchar_t* name) const { return {m_base + L"/" + name, CPathMgr::FTW_DIR}; }
    std::vector<Report> Level0() const { return {File(L"top.txt"), Dir(L"sub"), Dir(L"empty")}; }
    std::vector<Report> Level1() const {
        std::vector<Report> reports = Level0();
        for (const Report& more : {File(L"sub/mid.txt"), Dir(L"sub/deep"), Dir(L"sub/.SVN")}) {
            reports.push_back(more);
        }
        return reports;
    }
    std::vector<Report> Everything() const {
        std::vector<Report> reports = Level1();
        reports.push_back(File(L"sub/deep/low.txt"));
        reports.push_back(File(L"sub/.SVN/kept.txt"));
        return reports;
    }

    int Walk(Recorder& recorder, unsigned depth, const std::wstring& suffix = L"") const {
        return CPathMgr::FileTreeWalk((m_base + suffix).c_str(), Record, &recorder, depth);
    }
};

TEST_F(PathWalk, ReportsEachEntryOnceDirectoriesBeforeTheirContents) {
    Recorder recorder;
    EXPECT_EQ(0, Walk(recorder, 100));
    EXPECT_EQ(Sorted(Everything()), Sorted(recorder.reports))
        << ".svn is passed over exactly; .SVN is an ordinary name";
    for (std::size_t i = 0; i < recorder.reports.size(); ++i) {
        const std::wstring parent =
            Slashed(fs::path(recorder.reports[i].path).parent_path().wstring());
        const auto seen = recorder.reports.begin() + static_cast<std::ptrdiff_t>(i);
        EXPECT_TRUE(parent == m_base ||
                    std::any_of(recorder.reports.begin(), seen,
                                [&](const Report& r) { return r.path == parent; }))
            << "reported before its directory: " << fs::path(recorder.reports[i].path);
    }
}

TEST_F(PathWalk, DepthCountsTheLevelsEntered) {
    Recorder level0;
    Recorder level1;
    EXPECT_EQ(0, Walk(level0, 0));
    EXPECT_EQ(0, Walk(level1, 1));
    EXPECT_EQ(Sorted(Level0()), Sorted(level0.reports));
    EXPECT_EQ(Sorted(Level1()), Sorted(level1.reports));
}

TEST_F(PathWalk, SkipPassesOverADirectoryAndAnyOtherAnswerGoesOn) {
    Recorder skipping;
    skipping.skipAt = m_base + L"/sub";
    EXPECT_EQ(0, Walk(skipping, 100));
    EXPECT_EQ(Sorted(Level0()), Sorted(skipping.reports));

    Recorder skippingFile;
    skippingFile.skipAt = m_base + L"/top.txt";
    skippingFile.otherwise = static_cast<CPathMgr::FTW_RESULT>(3);
    EXPECT_EQ(0, Walk(skippingFile, 100));
    EXPECT_EQ(Sorted(Everything()), Sorted(skippingFile.reports));
}

TEST_F(PathWalk, StopAtAnyDepthEndsEveryLevelAndGivesBlocksBack) {
    Recorder full;
    Walk(full, 100);
    const long long heldBefore = GetTotalAllocSize();
    for (std::size_t i = 0; i < full.reports.size(); ++i) {
        Recorder stopping;
        stopping.stopAt = full.reports[i].path;
        EXPECT_EQ(1, Walk(stopping, 100)) << fs::path(stopping.stopAt);
        const std::vector<Report> upToStop(
            full.reports.begin(), full.reports.begin() + static_cast<std::ptrdiff_t>(i + 1));
        EXPECT_EQ(upToStop, stopping.reports) << "nothing reported after the stop";
    }
    EXPECT_EQ(heldBefore, GetTotalAllocSize()) << "a level kept its search block";
}

TEST_F(PathWalk, SeparatorGoesInOnlyWhenTheDirectoryLacksOne) {
    Recorder trailing;
    Walk(trailing, 0, L"/");
    EXPECT_EQ(Sorted(Level0()), Sorted(trailing.reports));
    if (kDrivePaths) {
        Recorder backslash;
        Walk(backslash, 0, L"\\");
        EXPECT_EQ(1, std::count_if(backslash.reports.begin(), backslash.reports.end(),
                                   [&](const Report& r) { return r.path == m_base + L"\\sub"; }));
        Recorder native;
        CPathMgr::FileTreeWalk(m_dir.wstring().c_str(), Record, &native, 0);
        EXPECT_EQ(
            1, std::count_if(native.reports.begin(), native.reports.end(),
                             [&](const Report& r) { return r.path == m_dir.wstring() + L"/sub"; }));
    }
}

TEST_F(PathWalk, NothingToListReportsNothing) {
    for (const wchar_t* dir : {L"/empty", L"/missing", L"/top.txt"}) {
        Recorder recorder;
        EXPECT_EQ(0, Walk(recorder, 100, dir)) << dir;
        EXPECT_TRUE(recorder.reports.empty()) << fs::path(dir);
    }
    Recorder recorder;
    EXPECT_EQ(0, CPathMgr::FileTreeWalk(nullptr, Record, &recorder, 1));
    EXPECT_EQ(0, CPathMgr::FileTreeWalk(m_base.c_str(), nullptr, &recorder, 1));
}

TEST_F(PathWalk, LongPathsAreReportedWhole) {
    if (kDrivePaths) {
        GTEST_SKIP() << "Windows refuses such paths without the long-path prefix";
    }
    std::wstring nested;
    for (int level = 0; level < 6; ++level) {
        nested += L"/" + std::wstring(50, static_cast<wchar_t>(L'a' + level));
    }
    fs::create_directories(m_base + L"/empty" + nested);
    Touch(m_base + L"/empty" + nested + L"/leaf.txt");
    Recorder recorder;
    CPathMgr::FileTreeWalk((m_base + L"/empty").c_str(), Record, &recorder, 100);
    ASSERT_EQ(7u, recorder.reports.size());
    EXPECT_EQ(m_base + L"/empty" + nested + L"/leaf.txt", recorder.reports.back().path);
}

// ---- Queries ----

TEST_F(PathWalk, FlagsAndDirectoryChecks) {
    EXPECT_EQ(CPathMgr::FTW_DIR, CPathMgr::GetFlag((m_base + L"/sub").c_str()));
    EXPECT_EQ(CPathMgr::FTW_FILE, CPathMgr::GetFlag((m_base + L"/top.txt").c_str()));
    EXPECT_EQ(CPathMgr::FTW_FILE, CPathMgr::GetFlag((m_base + L"/missing").c_str()));
    EXPECT_EQ(CPathMgr::FTW_FILE, CPathMgr::GetFlag(nullptr));

    EXPECT_TRUE(CPathMgr::CheckDirectory((m_base + L"/sub").c_str()));
    EXPECT_FALSE(CPathMgr::CheckDirectory((m_base + L"/top.txt").c_str()));
    EXPECT_FALSE(CPathMgr::CheckDirectory((m_base + L"/missing").c_str()));
    EXPECT_FALSE(CPathMgr::CheckDirectory(nullptr));
    // Patterns read the same on every target; "." is the first entry.
    const struct {
        const wchar_t* path;
        bool directory;
    } patterns[] = {
        {L"/sub/*", true}, {L"/sub/*.*", true},    {L"/sub/mid*", false}, {L"/s?b", true},
        {L"/SU*", true},   {L"/T*.TXT", false},    {L"/sub/d*p", true},   {L"/sub/x*", false},
        {L"/sub/", false}, {L"/missing/*", false}, {L"/e?pty", true},     {L"/*y", true},
    };
    for (const auto& pattern : patterns) {
        EXPECT_EQ(pattern.directory, CPathMgr::CheckDirectory((m_base + pattern.path).c_str()))
            << std::string(pattern.path, pattern.path + std::wcslen(pattern.path));
    }
}

// ---- Creating directories ----

using MakeDirectory = PathFolder;

TEST_F(MakeDirectory, RelativeChainTwiceLeavesTheWorkingDirectory) {
    const fs::path working = fs::current_path();
    const std::wstring chain = ScratchName() + L"/logs\\2020/jan";
    CPathMgr::MakeDirectory(chain.c_str());
    EXPECT_EQ(working, fs::current_path());
    EXPECT_TRUE(fs::is_directory(fs::path(ScratchName()) / "logs" / "2020" / "jan"));

    Touch(fs::path(ScratchName()) / "logs" / "2020" / "jan" / "kept.log");
    CPathMgr::MakeDirectory(chain.c_str());
    CPathMgr::MakeDirectory(L"");
    CPathMgr::MakeDirectory(nullptr);
    EXPECT_EQ(working, fs::current_path());
    EXPECT_TRUE(fs::exists(fs::path(ScratchName()) / "logs" / "2020" / "jan" / "kept.log"));
}

TEST_F(MakeDirectory, AbsolutePathWithDoubledAndTrailingSeparators) {
    CPathMgr::MakeDirectory((m_base + L"/a//b\\\\c/").c_str());
    EXPECT_TRUE(fs::is_directory(m_dir / "a" / "b" / "c"));
    CPathMgr::MakeDirectory((m_dir.wstring() + L"\\native").c_str());
    EXPECT_TRUE(fs::is_directory(m_dir / "native"));
}

TEST_F(MakeDirectory, LevelThatCannotBeMadeBlocksTheLevelsBelow) {
    Touch(m_dir / "file");
    CPathMgr::MakeDirectory((m_base + L"/file/inner/leaf").c_str());
    EXPECT_FALSE(fs::exists(m_dir / "inner"));
    EXPECT_FALSE(fs::exists(m_dir / "leaf"));
    EXPECT_TRUE(fs::is_regular_file(m_dir / "file"));
}

TEST_F(MakeDirectory, LongPathIsNotCut) {
    if (kDrivePaths) {
        GTEST_SKIP() << "Windows refuses such paths without the long-path prefix";
    }
    std::wstring nested = m_base;
    for (int level = 0; level < 6; ++level) {
        nested += L"/" + std::wstring(50, static_cast<wchar_t>(L'a' + level));
    }
    CPathMgr::MakeDirectory(nested.c_str());
    EXPECT_TRUE(fs::is_directory(nested));
    if (nested[258] != L'/' && nested[259] != L'/') {
        EXPECT_FALSE(fs::exists(nested.substr(0, 259))) << "a level was cut to 259 units";
    }
}

// ---- Relative paths ----

std::wstring RelativeOf(const wchar_t* from, const wchar_t* to, unsigned outLen = 260) {
    wchar_t out[260] = L"untouched";
    const wchar_t* result = CPathMgr::GetRelativePath(from, to, out, outLen);
    return result == nullptr ? L"<null> " + std::wstring(out) : std::wstring(result);
}

TEST(GetRelativePath, RootedExamplesIgnoringAsciiCase) {
    EXPECT_EQ(L"maps/", RelativeOf(L"/Game/Data", L"/game/data/maps"));
    EXPECT_EQ(L"../../save/", RelativeOf(L"/game/data/maps/", L"\\GAME\\save"));
    EXPECT_EQ(L"./", RelativeOf(L"/a/", L"/a"));
    EXPECT_EQ(L"../y/", RelativeOf(L"/x", L"/y"));
    EXPECT_EQ(L"../\u00e4/", RelativeOf(L"/\u00c4", L"/\u00e4")) << "only ASCII letters fold";
}

TEST(GetRelativePath, DriveExamplesOnWindows) {
    if (!kDrivePaths) {
        GTEST_SKIP() << "drives exist only on Windows";
    }
    EXPECT_EQ(L"maps/", RelativeOf(L"c:/Game/Data", L"c:/game/data/maps"));
    EXPECT_EQ(L"../../save/", RelativeOf(L"C:\\game\\data\\maps\\", L"c:/game/save"));
    EXPECT_EQ(L"./", RelativeOf(L"c:/a/", L"c:/a"));
    EXPECT_EQ(L"<null> untouched", RelativeOf(L"c:/x", L"d:/x"));
}

TEST(GetRelativePath, RelativeArgumentsStartAtTheWorkingDirectory) {
    EXPECT_EQ(L"../c/", RelativeOf(L"a/b", L"a/c"));
    EXPECT_EQ(L"b/c/", RelativeOf(L"a", L"A\\B\\c"));
    std::wstring upper = WorkingDirectory();
    std::transform(upper.begin(), upper.end(), upper.begin(), [](wchar_t unit) {
        return unit >= L'a' && unit <= L'z' ? static_cast<wchar_t>(unit - 32) : unit;
    });
    EXPECT_EQ(L"sub/dir/", RelativeOf(WorkingDirectory().c_str(), L"Sub\\Dir"));
    EXPECT_EQ(L"sub/dir/", RelativeOf(upper.c_str(), L"sub/dir"));
    EXPECT_EQ(L"../", RelativeOf(L"Sub", WorkingDirectory().c_str()));
}

TEST(GetRelativePath, ResultThatDoesNotFitIsRefused) {
    EXPECT_EQ(L"<null> untouched", RelativeOf(L"/g/d/m", L"/g/save", 11));
    EXPECT_EQ(L"../../save/", RelativeOf(L"/g/d/m", L"/g/save", 12));
    EXPECT_EQ(L"<null> untouched", RelativeOf(L"/a", L"/a", 0));
    EXPECT_EQ(L"<null> untouched", RelativeOf(nullptr, L"/a"));
    EXPECT_EQ(L"<null> untouched", RelativeOf(L"/a", nullptr));
}

} // namespace
