// Packing directories with the tool and reading every file back through the
// library, in mapped and private mode, scrambled or not, under each resident
// policy; extracting and verifying against the directory.
#include "PackToolTestSupport.h"

#include "OrvexCommon/file/detail/NameKey.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <tuple>

namespace {

using namespace OrvexTest;

constexpr std::size_t kTreeFiles = 2000;

// One tree of a few thousand files shared by the round trips.
class PackRoundTrip : public ::testing::TestWithParam<std::tuple<bool, std::string>> {
protected:
    static void SetUpTestSuite() {
        s_tree = new Tree(MakeTree(kTreeFiles, 11));
        s_root = new std::string("oxpt_round_trip_tree_" + OrvexTest::ProcessTag());
        std::error_code ignored;
        fs::remove_all(U8(*s_root), ignored);
        WriteTree(*s_root, *s_tree);
    }
    static void TearDownTestSuite() {
        std::error_code ignored;
        fs::remove_all(U8(*s_root), ignored);
        delete s_root;
        s_root = nullptr;
        delete s_tree;
        s_tree = nullptr;
    }

    // One tree per process: the cases may run side by side, a process each.
    static std::string* s_root;
    static Tree* s_tree;
    Scratch m_scratch;
};

Tree* PackRoundTrip::s_tree = nullptr;
std::string* PackRoundTrip::s_root = nullptr;

std::string FirstNames(const std::vector<std::string>& names) {
    std::string text;
    for (std::size_t i = 0; i < names.size() && i < 5; ++i) {
        text += names[i] + " ";
    }
    return text;
}

TEST_P(PackRoundTrip, EveryFileReadsBackInBothModes) {
    const bool scrambled = std::get<0>(GetParam());
    const std::string resident = std::get<1>(GetParam());
    const std::string path = m_scratch.Path("rt", ".pkg");
    std::vector<std::string> args = {"pack", *s_root, path, "--resident=" + resident};
    if (scrambled) {
        args.push_back("--scramble");
    }
    const Outcome packed = RunPack(args);
    ASSERT_EQ(packed.status, 0) << packed.err;
    EXPECT_TRUE(packed.err.empty()) << packed.err;

    Orvex::detail::SPackage* package = OpenWithLibrary(path, true);
    ASSERT_NE(package, nullptr);
    EXPECT_EQ(package->scrambled, scrambled);
    EXPECT_EQ(package->index.size(), s_tree->size() + 1); // and the manifest
    const std::uint32_t limit =
        resident == "all" ? 0xFFFFFFFFu : static_cast<std::uint32_t>(std::stoul(resident));
    std::size_t wrongResident = 0;
    for (const auto& file : *s_tree) {
        const Orvex::detail::SPackageEntry* entry =
            Orvex::detail::FindEntryByName(*package, Wide(file.first).c_str());
        ASSERT_NE(entry, nullptr) << file.first;
        const auto size = static_cast<std::uint32_t>(file.second.size());
        wrongResident += entry->residentSize != std::min(limit, size) ? 1 : 0;
    }
    EXPECT_EQ(wrongResident, 0u);

    ASSERT_TRUE(package->mapped);
    std::vector<std::string> wrong = Mismatches(*package, *s_tree);
    EXPECT_TRUE(wrong.empty()) << wrong.size() << " differ in mapped mode: " << FirstNames(wrong);
    ASSERT_TRUE(Orvex::detail::SwitchMapped(*package, false));
    ASSERT_FALSE(package->mapped);
    wrong = Mismatches(*package, *s_tree);
    EXPECT_TRUE(wrong.empty()) << wrong.size() << " differ in private mode: " << FirstNames(wrong);
}

INSTANTIATE_TEST_SUITE_P(ScrambledAndResident, PackRoundTrip,
                         ::testing::Combine(::testing::Bool(),
                                            ::testing::Values(std::string("0"), std::string("100"),
                                                              std::string("all"))));

class PackDirectoryTest : public ::testing::Test {
protected:
    Scratch m_scratch;
};

TEST_F(PackDirectoryTest, ExtractRecreatesTheTreeAndVerifyComparesItWithTheDirectory) {
    const Tree tree = MakeTree(150, 5);
    const std::string root = m_scratch.Path("src");
    const std::string path = m_scratch.Path("ex", ".pkg");
    const std::string out = m_scratch.Path("out");
    WriteTree(root, tree);
    ASSERT_EQ(RunPack({"pack", root, path, "--scramble"}).status, 0);

    const Outcome extracted = RunPack({"extract", path, out});
    ASSERT_EQ(extracted.status, 0) << extracted.err;
    EXPECT_EQ(ReadTree(out), tree); // every name and byte, the manifest not among them

    const Outcome clean = RunPack({"verify", path, out});
    EXPECT_EQ(clean.status, 0) << clean.out << clean.err;

    // One file changed, one gone, one new.
    auto changed = std::next(tree.begin(), 10);
    while (changed->second.empty()) {
        ++changed;
    }
    Bytes bytes = changed->second;
    bytes[bytes.size() / 2] ^= 0x01;
    WriteFile(U8(out) / U8(changed->first), bytes);
    const std::string gone = std::next(tree.begin(), 40)->first;
    fs::remove(U8(out) / U8(gone));
    WriteFile(U8(out) / "Added/new.txt", Bytes(3, 'x'));

    const Outcome dirty = RunPack({"verify", path, out});
    EXPECT_EQ(dirty.status, 1);
    EXPECT_NE(dirty.out.find("different: " + changed->first + "\n"), std::string::npos)
        << dirty.out;
    EXPECT_NE(dirty.out.find("extra: " + gone + "\n"), std::string::npos) << dirty.out;
    EXPECT_NE(dirty.out.find("missing: Added/new.txt\n"), std::string::npos) << dirty.out;
    EXPECT_EQ(std::count(dirty.out.begin(), dirty.out.end(), '\n'), 3) << dirty.out;
    EXPECT_EQ(dirty.err, "orvex-pack: '" + path + "': 3 problems\n");
}

TEST_F(PackDirectoryTest, OutputDoesNotDependOnTheOrderFilesWereCreatedIn) {
    const Tree tree = MakeTree(60, 9);
    const std::string forward = m_scratch.Path("fwd");
    const std::string backward = m_scratch.Path("bwd");
    WriteTree(forward, tree);
    for (auto file = tree.rbegin(); file != tree.rend(); ++file) {
        WriteFile(U8(backward) / U8(file->first), file->second);
    }
    const std::string first = m_scratch.Path("a", ".pkg");
    const std::string second = m_scratch.Path("b", ".pkg");
    ASSERT_EQ(RunPack({"pack", forward, first}).status, 0);
    ASSERT_EQ(RunPack({"pack", backward, second}).status, 0);
    EXPECT_EQ(ReadFile(U8(first)), ReadFile(U8(second)));
}

TEST_F(PackDirectoryTest, PackLeavesItsOwnOutputOutAndKeysFollowTheNames) {
    const std::string root = m_scratch.Path("self");
    WriteFile(U8(root) / "Level/Map.DAT", RandomBytes(40, 1));
    WriteFile(U8(root) / "readme", RandomBytes(7, 2));
    const std::string path = root + "/self.pkg";
    ASSERT_EQ(RunPack({"pack", root, path}).status, 0);
    // The second run finds the first run's package inside the directory.
    const Outcome again = RunPack({"pack", root, path});
    ASSERT_EQ(again.status, 0) << again.err;
    EXPECT_NE(again.out.find("packed 2 files"), std::string::npos) << again.out;

    Orvex::detail::SPackage* package = OpenWithLibrary(path, false);
    ASSERT_NE(package, nullptr);
    ASSERT_EQ(package->index.size(), 3u);
    // The inner names are the relative paths, whatever case a lookup uses.
    EXPECT_NE(package->index.Find(Orvex::detail::EntryKey(L"level/map.dat")), nullptr);
    EXPECT_NE(package->index.Find(Orvex::detail::EntryKey(L"README")), nullptr);
    EXPECT_NE(package->index.Find(Orvex::detail::EntryKey(L".orvex-manifest")), nullptr);
}

} // namespace
