// File objects on loose and packaged files.
#include "OrvexCommon/file/detail/FileMgr.h"
#include "OrvexCommon/file/detail/Scramble.h"
#include "OrvexCommon/log/OrvexLog.h"
#include "OrvexCommon/platform/OrvexSys.h"

#include "PackageTestSupport.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>

namespace {

using namespace Orvex::detail;
using OrvexTest::Bytes;
using OrvexTest::RandomBytes;

// A file object that is given back at the end of the scope.
struct FileObject {
    FileObject() : file(Orvex::GetOrvexFileMgr().CreateReadFile()) {}
    ~FileObject() { file->Release(); }
    Orvex::IReadFile* operator->() const { return file; }
    Bytes ReadAll() {
        Bytes bytes(file->GetSize());
        EXPECT_TRUE(file->Seek(0, 0));
        EXPECT_EQ(file->Read(bytes.data(), static_cast<std::uint32_t>(bytes.size()) + 10),
                  static_cast<std::int32_t>(bytes.size()));
        return bytes;
    }
    Orvex::IReadFile* file;
};

// Reads the file in random slices at random positions and checks each slice.
void ExpectRandomReads(Orvex::IReadFile* file, const Bytes& expected, std::uint32_t seed) {
    std::mt19937 generator(seed);
    const auto size = static_cast<std::uint32_t>(expected.size());
    for (int round = 0; round < 60; ++round) {
        const std::uint32_t at = generator() % (size + 1);
        const std::uint32_t length = generator() % 700;
        ASSERT_TRUE(file->Seek(static_cast<std::int32_t>(at), 0));
        Bytes slice(length, 0x5A);
        const std::int32_t count = file->Read(slice.data(), length);
        ASSERT_EQ(count, static_cast<std::int32_t>(std::min(length, size - at)));
        EXPECT_TRUE(std::equal(slice.begin(), slice.begin() + count, expected.begin() + at))
            << "at " << at << " length " << length;
        EXPECT_EQ(file->Tell(), at + static_cast<std::uint32_t>(count));
    }
}

class ReadFileTest : public ::testing::Test {
protected:
    std::wstring Scratch(const char* tag, const wchar_t* suffix = L"") {
        return m_scratch.Add(OrvexTest::UniqueName(tag) + suffix);
    }
    OrvexTest::ScratchPaths m_scratch;
};

TEST_F(ReadFileTest, SeekAndReadStayInsideTheFile) {
    const std::wstring path = Scratch("loose", L".bin");
    const Bytes content = RandomBytes(1000, 31);
    OrvexTest::WriteRawFile(path, content);
    FileObject file;
    EXPECT_FALSE(file->IsOpen());
    EXPECT_FALSE(file->Seek(0, 0));
    unsigned char byte = 0;
    EXPECT_EQ(file->Read(&byte, 1), -1);

    ASSERT_TRUE(file->Open(path.c_str()));
    EXPECT_EQ(file->GetSize(), 1000u);
    EXPECT_EQ(file->GetOffset(), 0u);
    EXPECT_EQ(file->Tell(), 0u);
    EXPECT_EQ(std::wstring(file->GetFileName()), path);
    EXPECT_TRUE(file->Seek(1000, 0));
    EXPECT_EQ(file->Read(&byte, 1), 0);
    EXPECT_FALSE(file->Seek(1001, 0));
    EXPECT_FALSE(file->Seek(-1, 0));
    EXPECT_EQ(file->Tell(), 1000u);
    EXPECT_TRUE(file->Seek(-1, 2));
    EXPECT_EQ(file->Read(&byte, 1), 1);
    EXPECT_EQ(byte, content[999]);
    EXPECT_TRUE(file->Seek(990, 0));
    Bytes tail(50, 0);
    EXPECT_EQ(file->Read(tail.data(), 50), 10);
    EXPECT_EQ(file->Tell(), 1000u);
    // The end is position + size in 32 bits: past 4 GiB it wraps below the
    // position and the read is refused, the position left alone.
    const std::uint32_t wrappingSizes[] = {0xFFFFFFFFu, 0xFFFFFFFDu, 0xFFFFFFFBu};
    for (std::uint32_t size : wrappingSizes) {
        EXPECT_TRUE(file->Seek(5, 0));
        EXPECT_EQ(file->Read(tail.data(), size), -1) << size;
        EXPECT_EQ(file->Tell(), 5u) << size;
    }
    // One short of wrapping: cut to the file's end as usual.
    EXPECT_TRUE(file->Seek(995, 0));
    EXPECT_EQ(file->Read(tail.data(), 0xFFFFFFFFu - 995), 5);
    EXPECT_EQ(file->Tell(), 1000u);
    EXPECT_TRUE(file->Seek(-500, 1));
    EXPECT_EQ(file->Tell(), 500u);
    ExpectRandomReads(file.file, content, 1);
    EXPECT_EQ(file.ReadAll(), content);

    file->Close();
    EXPECT_FALSE(file->IsOpen());
    EXPECT_EQ(std::wstring(file->GetFileName()), path); // the path stays
    EXPECT_EQ(file->GetSize(), 0u);
}

TEST_F(ReadFileTest, ABadOriginIsLoggedAndThrownAsText) {
    const std::wstring path = Scratch("origin", L".bin");
    OrvexTest::WriteRawFile(path, Bytes(10, 1));
    FileObject file;
    ASSERT_TRUE(file->Open(path.c_str()));
    static std::string s_logged;
    s_logged.clear();
    Orvex::SetGlobLogFun([](const char* text, unsigned length) { s_logged.append(text, length); });
    try {
        file->Seek(0, 3);
        ADD_FAILURE() << "no exception";
    } catch (char* text) {
        EXPECT_STREQ(text, "Invalid seek origin.");
    }
    Orvex::SetGlobLogFun(nullptr);
    EXPECT_EQ(s_logged, "Invalid seek origin.\n");
}

TEST_F(ReadFileTest, PackagedFilesReadTheirBytesInBothModesScrambledAndPatched) {
    const std::wstring root = Scratch("pkgfile");
    const std::wstring package = m_scratch.Add(root + L".pkg");
    const Bytes content = RandomBytes(5000, 32);
    const Bytes other = RandomBytes(300, 33);
    ASSERT_TRUE(OrvexTest::WritePackage(
        package, {{L"other.bin", other, 100}, {L"Data.bin", content, 700}}, true));
    // A chunk in the middle of the second file (which starts at 16 + 300).
    Bytes block;
    OrvexTest::AppendPatchChunk(block, 16 + 300 + 2000, {0xDE, 0xAD, 0xBE, 0xEF});
    ASSERT_EQ(Orvex::GetOrvexFileMgr().SetFilePatch(package.c_str(), -1, 1, block.data()), 12);
    // The patch lays its bytes over the package file's, which are scrambled:
    // the reader sees them descrambled.
    Bytes expected = content;
    std::copy(block.begin() + 8, block.end(), expected.begin() + 2000);
    Descramble(expected.data() + 2000, 16 + 300 + 2000, 4);

    SPackage* opened = OpenPackage(package.c_str(), nullptr, 0, true);
    ASSERT_NE(opened, nullptr);
    FileObject file;
    ASSERT_TRUE(file->Open((root + L"/data.BIN").c_str()));
    EXPECT_EQ(file->Tell(), 0u);
    EXPECT_EQ(file->GetSize(), 5000u);
    EXPECT_EQ(file->GetOffset(), 16u + 300u);
    EXPECT_EQ(std::wstring(file->GetFileName()), L""); // loose name tried first, failed
    EXPECT_EQ(file.ReadAll(), expected);
    ExpectRandomReads(file.file, expected, 2);
    // Switching the package's mode under an open object.
    ASSERT_TRUE(SwitchMapped(*opened, false));
    ExpectRandomReads(file.file, expected, 3);
    ASSERT_TRUE(SwitchMapped(*opened, true));
    ExpectRandomReads(file.file, expected, 4);
    // Opened while private, read after switching to mapped.
    ASSERT_TRUE(SwitchMapped(*opened, false));
    FileObject second;
    ASSERT_TRUE(second->Open((root + L"/data.bin").c_str()));
    ASSERT_TRUE(SwitchMapped(*opened, true));
    EXPECT_EQ(second.ReadAll(), expected);
}

TEST_F(ReadFileTest, SourcesFollowThePackageFirstFlagAndAliasesApplyToLooseFiles) {
    CFileMgr& manager = FileMgr();
    const std::wstring root = Scratch("order");
    const Bytes loose = RandomBytes(40, 34);
    const Bytes packed = RandomBytes(50, 35);
    OrvexTest::WriteRawFile(root + L"/both.bin", loose);
    ASSERT_TRUE(
        OrvexTest::WritePackage(m_scratch.Add(root + L".pkg"), {{L"both.bin", packed, 8}}, false));
    FileObject file;
    ASSERT_TRUE(file->Open((root + L"/both.bin").c_str()));
    EXPECT_EQ(file.ReadAll(), loose);
    manager.SetPackageFirst(true);
    ASSERT_TRUE(file->Open((root + L"/both.bin").c_str()));
    EXPECT_EQ(file.ReadAll(), packed);
    EXPECT_EQ(std::wstring(file->GetFileName()), root + L"/both.bin"); // left from before
    manager.SetPackageFirst(false);

    const std::wstring alias = OrvexTest::UniqueName("readalias") + L"/";
    manager.SetPathAlias(alias.c_str(), (root + L"/").c_str());
    ASSERT_TRUE(file->Open((alias + L"both.bin").c_str()));
    EXPECT_EQ(std::wstring(file->GetFileName()), root + L"/both.bin");
    EXPECT_EQ(file.ReadAll(), loose);
    EXPECT_FALSE(file->Open((root + L"/none.bin").c_str()));
    EXPECT_FALSE(file->IsOpen());
}

TEST_F(ReadFileTest, Utf8NamesAreConvertedAndOverlongOnesRefused) {
    const std::wstring root = Scratch("utf8");
    // Made through the library: the test's locale may not convert the name.
    std::filesystem::create_directories(std::filesystem::path(root));
    std::FILE* made = Orvex::sys::OpenFileStream((root + L"/caf\u00e9.txt").c_str(), "wb");
    ASSERT_NE(made, nullptr);
    std::fwrite("xxxxxxx", 1, 7, made);
    std::fclose(made);
    FileObject file;
    EXPECT_FALSE(file->Open(static_cast<const char*>(nullptr)));
    std::string name(root.begin(), root.end());
    ASSERT_TRUE(file->Open((name + "/caf\xc3\xa9.txt").c_str()));
    EXPECT_EQ(file->GetSize(), 7u);
    // 1024 characters leave no room for the terminator.
    EXPECT_FALSE(file->Open(std::string(1024, 'a').c_str()));
    EXPECT_FALSE(file->IsOpen());
}

TEST(ReadFileFactory, ObjectsComeFromThePoolAndGoBackOnRelease) {
    const long long before = GetTotalAllocSize();
    Orvex::IReadFile* file = Orvex::GetOrvexFileMgr().CreateReadFile();
    ASSERT_NE(file, nullptr);
    EXPECT_GT(GetTotalAllocSize(), before);
    file->Release();
    EXPECT_EQ(GetTotalAllocSize(), before);
}

} // namespace
