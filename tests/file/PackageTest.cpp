// Opening packages, looking files up and reading them in both modes.
#include "OrvexCommon/file/OrvexFile.h"
#include "OrvexCommon/file/detail/FileMgr.h"
#include "OrvexCommon/file/detail/FileReader.h"

#include "PackageTestSupport.h"

#include <gtest/gtest.h>

namespace {

using namespace Orvex::detail;
using OrvexTest::Bytes;
using OrvexTest::PackedFile;
using OrvexTest::RandomBytes;

// Scratch names relative to the working directory, removed at the end.
class PackageTest : public ::testing::Test {
protected:
    std::wstring Scratch(const char* tag) { return m_scratch.Add(OrvexTest::UniqueName(tag)); }
    std::wstring ScratchFile(const std::wstring& path) { return m_scratch.Add(path); }

private:
    OrvexTest::ScratchPaths m_scratch;
};

TEST_F(PackageTest, DeepSearchTakesTheDeepestPackageShallowTheFirst) {
    const std::wstring root = Scratch("deep");
    const Bytes deep = RandomBytes(300, 1);
    const Bytes shallow = RandomBytes(200, 2);
    ASSERT_TRUE(OrvexTest::WritePackage(root + L"/b.pkg", {{L"c.dat", deep, 64}}, false));
    ASSERT_TRUE(OrvexTest::WritePackage(ScratchFile(root + L".pkg"),
                                        {{L"b\\c.dat", shallow, 64}, {L"b/only.dat", shallow, 8}},
                                        false));
    EXPECT_EQ(OrvexTest::ReadPackaged(root + L"/b/c.dat", true), deep);
    EXPECT_EQ(OrvexTest::ReadPackaged(root + L"\\b\\c.dat", false), shallow);
    // The deeper package lacks the file: the shallower one is not consulted.
    bool found = true;
    OrvexTest::ReadPackaged(root + L"/b/only.dat", true, &found);
    EXPECT_FALSE(found);
    EXPECT_EQ(OrvexTest::ReadPackaged(root + L"/b/only.dat", false), shallow);
}

TEST_F(PackageTest, InnerNamesIgnoreCaseAndSeparatorAndFallBackToOneHexDigit) {
    const std::wstring root = Scratch("names");
    const Bytes plain = RandomBytes(50, 3);
    const Bytes three = RandomBytes(60, 4);
    const Bytes gee = RandomBytes(70, 5);
    ASSERT_TRUE(OrvexTest::WritePackage(ScratchFile(root + L".pkg"),
                                        {{L"Dir\\Sub/File.DAT", plain, 10},
                                         {L"tex/wall.tga3", three, 10},
                                         {L"tex/wall.tga", Bytes(), 0},
                                         {L"tex/floor.tgag", gee, 10}},
                                        false));
    EXPECT_EQ(OrvexTest::ReadPackaged(root + L"/dir/sub/file.dat", false), plain);
    EXPECT_EQ(OrvexTest::ReadPackaged(root + L"/DIR\\SUB\\FILE.dat", false), plain);
    // The plain key exists (empty file): no fallback.
    bool found = false;
    EXPECT_TRUE(OrvexTest::ReadPackaged(root + L"/tex/wall.tga", false, &found).empty());
    EXPECT_TRUE(found);
    // Only the digit form exists for "stone": found under "stone3".
    ASSERT_TRUE(OrvexTest::WritePackage(ScratchFile(root + L"2.pkg"),
                                        {{L"stone3", three, 10}, {L"stoneg", gee, 10}}, false));
    EXPECT_EQ(OrvexTest::ReadPackaged(root + L"2/stone", false), three);
    OrvexTest::ReadPackaged(root + L"/tex/floor.tga", false, &found);
    EXPECT_FALSE(found);
}

TEST_F(PackageTest, ScrambledPackagesReadTheSameInBothModes) {
    const std::wstring root = Scratch("scr");
    std::vector<PackedFile> files;
    for (std::uint32_t i = 0; i < 40; ++i) {
        files.push_back({L"f" + std::to_wstring(i), RandomBytes(i * 37 + 1, i), i * 5});
    }
    const std::wstring path = ScratchFile(root + L".pkg");
    ASSERT_TRUE(OrvexTest::WritePackage(path, files, true));
    // On disk the first file's bytes (at offset 16) are scrambled.
    const Bytes raw = OrvexTest::ReadRawFile(path);
    ASSERT_GT(raw.size(), 16 + files[39].bytes.size());
    EXPECT_FALSE(std::equal(files[39].bytes.begin(), files[39].bytes.end(),
                            raw.end() - 40 * 20 - files[39].bytes.size()));
    SPackage* package = OpenPackage(path.c_str(), nullptr, 0, true);
    ASSERT_NE(package, nullptr);
    EXPECT_TRUE(package->scrambled);
    EXPECT_TRUE(package->mapped);
    for (const bool mapped : {true, false, true}) {
        ASSERT_TRUE(SwitchMapped(*package, mapped));
        EXPECT_EQ(package->mapped, mapped);
        for (const PackedFile& file : files) {
            EXPECT_EQ(OrvexTest::ReadPackaged(root + L"/" + file.name, true), file.bytes);
        }
    }
    // Through the manager's slot, found by a file name.
    Orvex::GetOrvexFileMgr().SetPackageMapped((root + L"/f1").c_str(), false);
    EXPECT_FALSE(package->mapped);
}

TEST_F(PackageTest, OpenRegistersOncePerSpellingAndFailedPathsStayFailed) {
    const std::wstring root = Scratch("once");
    const std::wstring path = ScratchFile(root + L".pkg");
    ASSERT_TRUE(OrvexTest::WritePackage(path, {{L"x", RandomBytes(9, 9), 4}}, false));
    int progressCalls = 0;
    static int* s_calls;
    s_calls = &progressCalls;
    auto progress = [](float value, std::uint32_t user) {
        EXPECT_EQ(value, 1.0f);
        EXPECT_EQ(user, 77u);
        ++*s_calls;
    };
    SPackage* first = OpenPackage(path.c_str(), progress, 77, false);
    ASSERT_NE(first, nullptr);
    EXPECT_FALSE(first->mapped);
    EXPECT_EQ(OpenPackage(path.c_str(), progress, 77, true), first);
    EXPECT_EQ(progressCalls, 1);
    EXPECT_FALSE(first->mapped); // a second open changes no mode

    const std::wstring missing = root + L"_missing.pkg";
    EXPECT_FALSE(Orvex::GetOrvexFileMgr().OpenPackage(missing.c_str(), nullptr, 0, true));
    ASSERT_TRUE(OrvexTest::WritePackage(ScratchFile(missing), {{L"x", Bytes(3, 1), 3}}, false));
    EXPECT_FALSE(Orvex::GetOrvexFileMgr().OpenPackage(missing.c_str(), nullptr, 0, true));

    // Not a package: the magic is wrong.
    const std::wstring notPackage = ScratchFile(root + L"_text.pkg");
    OrvexTest::WriteRawFile(notPackage, Bytes(64, 'a'));
    EXPECT_EQ(OpenPackage(notPackage.c_str(), nullptr, 0, true), nullptr);
}

TEST_F(PackageTest, PatchesOverlayPackageBytesAndCanOverrideTheSize) {
    const std::wstring root = Scratch("patch");
    const std::wstring path = ScratchFile(root + L".pkg");
    const Bytes original = RandomBytes(400, 11);
    ASSERT_TRUE(OrvexTest::WritePackage(path, {{L"data.bin", original, 100}}, false));
    // The file's bytes start at package offset 16. One chunk straddles the
    // resident part's end, one lies in the rest.
    Bytes block;
    OrvexTest::AppendPatchChunk(block, 16 + 95, Bytes(10, 0xEE));
    OrvexTest::AppendPatchChunk(block, 16 + 300, Bytes(4, 0xDD));
    EXPECT_EQ(Orvex::GetOrvexFileMgr().SetFilePatch(path.c_str(), -1, 2, block.data()),
              static_cast<std::int32_t>(block.size()));
    Bytes expected = original;
    std::fill(expected.begin() + 95, expected.begin() + 105, 0xEE);
    std::fill(expected.begin() + 300, expected.begin() + 304, 0xDD);

    SPackage* package = OpenPackage(path.c_str(), nullptr, 0, true);
    ASSERT_NE(package, nullptr);
    ASSERT_NE(package->patch, nullptr);
    EXPECT_EQ(OrvexTest::ReadPackaged(root + L"/data.bin", true), expected);
    ASSERT_TRUE(SwitchMapped(*package, false));
    EXPECT_EQ(OrvexTest::ReadPackaged(root + L"/data.bin", true), expected);

    // A size override of 10 stops reads through the package's reader at
    // package position 10, whatever is asked; the package sees the change.
    EXPECT_EQ(Orvex::GetOrvexFileMgr().SetFilePatch(path.c_str(), 10, 0, nullptr), 0);
    EXPECT_EQ(package->patch->sizeOverride, 10);
    EXPECT_TRUE(package->patch->chunks.empty());
    SFileReader reader = package->reader;
    MoveTo(reader, 4);
    unsigned char buffer[32] = {};
    EXPECT_EQ(ReadFrom(reader, buffer, 32), 6);
    EXPECT_EQ(reader.position, 10u);
    EXPECT_EQ(ReadFrom(reader, buffer, 32), 0);
    MoveTo(reader, 50);
    EXPECT_EQ(reader.position, 10u);
}

TEST_F(PackageTest, APackageMayExistOnlyAsAPatch) {
    const std::wstring root = Scratch("virtual");
    // Build a real package's bytes, then register them as the patch of a path
    // that has no file.
    const std::wstring donor = ScratchFile(root + L"_donor.pkg");
    const Bytes content = RandomBytes(150, 12);
    ASSERT_TRUE(OrvexTest::WritePackage(donor, {{L"inside.txt", content, 40}}, true));
    const Bytes image = OrvexTest::ReadRawFile(donor);
    Bytes block;
    OrvexTest::AppendPatchChunk(block, 0, image);
    const std::wstring path = root + L".pkg";
    ASSERT_EQ(Orvex::GetOrvexFileMgr().SetFilePatch(
                  path.c_str(), static_cast<std::int32_t>(image.size()), 1, block.data()),
              static_cast<std::int32_t>(block.size()));
    SPackage* package = OpenPackage(path.c_str(), nullptr, 0, true);
    ASSERT_NE(package, nullptr);
    EXPECT_FALSE(package->mapped); // nothing to map
    EXPECT_EQ(package->reader.handle, nullptr);
    EXPECT_EQ(OrvexTest::ReadPackaged(root + L"/inside.txt", true), content);
    EXPECT_TRUE(Orvex::GetOrvexFileMgr().IsFileExist((root + L"/INSIDE.TXT").c_str()));
    // Asking for mapped mode fails softly.
    EXPECT_FALSE(SwitchMapped(*package, true));
    EXPECT_FALSE(package->mapped);
}

} // namespace
