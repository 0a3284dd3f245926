// Zip archives through the file manager. One tree, written by the build as
// loose files and as zip archives made by other tools (Python's zipfile:
// stored, deflated, ZIP64; the zip command), and by this test as a package:
// every file is loaded through every entry point, synchronously and not,
// with the archive private and mapped. A zip entry must give exactly what
// the loose file gives (the same callbacks, ranges, bytes and results), and
// the package the same bytes. Then the switch, a package beside a zip of
// the same directory, the line for refused methods and corrupt entries.
#include "OrvexTestSupport.h"
#include "PackageTestSupport.h"
#include "ZipTestSupport.h"

#include "OrvexCommon/file/detail/FileMgr.h"
#include "OrvexCommon/format/OrvexIniFile.h"
#include "OrvexCommon/format/OrvexTabFile.h"
#include "OrvexCommon/log/OrvexLog.h"
#include "OrvexCommon/text/OrvexText.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace OrvexTest;
using Orvex::detail::CFileMgr;
using Orvex::detail::FileMgr;

// Every callback of one load as the listener saw it, and Load's result.
class Transcript final : public Orvex::IFileLoadListener {
public:
    explicit Transcript(std::int32_t type) : m_type(type) {}
    std::int32_t GetFileType() override { return m_type; }
    void OnLoadHead(const Orvex::CCommonFileHead& head, Orvex::SLoadBuffer& buffer) override {
        Note('H', buffer);
        events.push_back(static_cast<unsigned char>(head.GetDependentResCount()));
    }
    void OnLoadData(Orvex::SLoadBuffer& buffer) override { Note('D', buffer); }
    std::vector<std::uint32_t> ranges; // kind, start, pos, end per callback
    Bytes events;                      // the bytes each callback was given
    std::int32_t result = 0;

private:
    void Note(char kind, const Orvex::SLoadBuffer& buffer) {
        ranges.insert(ranges.end(),
                      {static_cast<std::uint32_t>(kind), buffer.start, buffer.pos, buffer.end});
        events.insert(events.end(), buffer.origin + buffer.start, buffer.origin + buffer.end);
    }
    std::int32_t m_type;
};

bool operator==(const Transcript& a, const Transcript& b) {
    return a.ranges == b.ranges && a.events == b.events && a.result == b.result;
}

std::wstring Wide(const std::string& utf8) {
    wchar_t wide[512];
    Orvex::Utf8ToUcs(utf8.c_str(), wide, 512);
    return wide;
}

std::int32_t TypeOf(const std::string& name) {
    const std::string suffix = name.substr(name.size() - 4);
    return suffix == ".tex" ? Orvex::eFT_Tex : suffix == ".mtr" ? Orvex::eFT_Mtr : -1;
}

class ZipSource : public ::testing::TestWithParam<const char*> {
protected:
    void SetUp() override {
#ifndef ORVEX_ZIP_FIXTURES
        GTEST_SKIP() << "python3 was not found when the tests were built: no zip fixtures";
#else
        const std::filesystem::path fixtures(ORVEX_ZIP_FIXTURES);
        const std::filesystem::path archive = fixtures / (std::string(GetParam()) + ".zip");
        if (!std::filesystem::exists(archive)) {
            GTEST_SKIP() << "no " << archive.string() << " (the zip command was not found)";
        }
        m_tree = (fixtures / "tree").wstring();
        m_narrowTree = (fixtures / "tree").string();
        std::ifstream names(fixtures / "names.txt");
        for (std::string line; std::getline(names, line);) {
            m_names.push_back(line);
        }
        // Each parameter reads its own copy, under its own directory name.
        // Windows keeps what an earlier process left under the same name
        // (an archive stays open while the process runs, so it cannot be
        // removed): start afresh.
        const std::wstring root = m_scratch.Add(UniqueName(GetParam()));
        std::filesystem::remove_all(root);
        std::filesystem::create_directories(root);
        m_zipRoot = root + L"/tree";
        std::filesystem::copy_file(archive, m_zipRoot + L".zip",
                                   std::filesystem::copy_options::overwrite_existing);
        m_packageRoot = root + L"/packed";
        std::vector<PackedFile> packed;
        for (const std::string& name : m_names) {
            packed.push_back({Wide(name), Truth(name), 0});
        }
        ASSERT_TRUE(WritePackage(m_packageRoot + L".pkg", packed, false));
#endif
    }
    void TearDown() override {
        m_manager.SetAsyncLoad(false);
        m_manager.SetPackageMapped((m_zipRoot + L"/data/one.bin").c_str(), false);
        m_manager.SetPackageMapped((m_packageRoot + L"/data/one.bin").c_str(), false);
    }

    // The loose file's bytes, opened by a path in the system's own form
    // (wide on Windows, UTF-8 bytes elsewhere), whatever the locale.
    Bytes Truth(const std::string& name) const {
        const std::filesystem::path path = sizeof(wchar_t) == 2
                                               ? std::filesystem::path(m_tree + L"/" + Wide(name))
                                               : std::filesystem::path(m_narrowTree + "/" + name);
        std::ifstream in(path, std::ios::binary);
        return Bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    }

    Transcript Load(const std::wstring& name, std::int32_t type) {
        Transcript transcript(type);
        transcript.result = m_manager.Load(name.c_str(), &transcript);
        for (int round = 0; round < 5000 && m_manager.Dispatch(1000); ++round) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        return transcript;
    }

    // The delivered bytes agree with the file wherever they were given, and
    // the last delivery reaches its end.
    static void ExpectTrue(const Transcript& transcript, const Bytes& truth) {
        ASSERT_FALSE(transcript.ranges.empty());
        std::size_t at = 0;
        for (std::size_t k = 0; k < transcript.ranges.size(); k += 4) {
            const std::uint32_t start = transcript.ranges[k + 1];
            const std::uint32_t end = transcript.ranges[k + 3];
            ASSERT_LE(end, truth.size());
            EXPECT_TRUE(std::equal(truth.begin() + start, truth.begin() + end,
                                   transcript.events.begin() + static_cast<long>(at)));
            at += end - start + (transcript.ranges[k] == 'H' ? 1 : 0);
        }
        EXPECT_EQ(transcript.ranges[transcript.ranges.size() - 1], truth.size());
    }

    // Reads forward in odd chunks, then backwards and past the end.
    static void ExpectFileObjectReads(const std::wstring& name, const Bytes& truth) {
        Orvex::IReadFile* file = FileMgr().CreateReadFile();
        ASSERT_TRUE(file->Open(name.c_str()));
        ASSERT_EQ(file->GetSize(), truth.size());
        Bytes read(truth.size() + 10, 0xEE);
        std::uint32_t at = 0;
        while (at < truth.size()) {
            const std::int32_t count = file->Read(read.data() + at, 777);
            ASSERT_GT(count, 0);
            at += static_cast<std::uint32_t>(count);
        }
        EXPECT_EQ(file->Read(read.data(), 5), 0);
        read.resize(truth.size());
        EXPECT_EQ(read, truth);
        const auto half = static_cast<std::int32_t>(truth.size() / 2);
        ASSERT_TRUE(file->Seek(half, 0));
        ASSERT_TRUE(file->Seek(-half / 2, 1));
        Bytes again(truth.size() - static_cast<std::size_t>(half - half / 2));
        EXPECT_EQ(file->Read(again.data(), static_cast<std::uint32_t>(again.size()) + 100),
                  static_cast<std::int32_t>(again.size()));
        EXPECT_TRUE(std::equal(again.begin(), again.end(), truth.begin() + (half - half / 2)));
        file->Release();
    }

    void ExpectEveryFileAlike() {
        for (const std::string& name : m_names) {
            SCOPED_TRACE(name);
            const Bytes truth = Truth(name);
            const std::wstring loose = m_tree + L"/" + Wide(name);
            const std::wstring zipped = m_zipRoot + L"/" + Wide(name);
            const std::wstring packed = m_packageRoot + L"/" + Wide(name);
            EXPECT_TRUE(m_manager.IsFileExist(zipped.c_str()));
            for (const std::int32_t type : {-1, TypeOf(name)}) {
                const Transcript fromZip = Load(zipped, type);
                EXPECT_TRUE(fromZip == Load(loose, type)) << "type " << type;
                if (type == -1) {
                    ExpectTrue(fromZip, truth);
                    ExpectTrue(Load(packed, type), truth);
                }
            }
            ExpectFileObjectReads(zipped, truth);
            ExpectFileObjectReads(packed, truth);
        }
        ExpectFormatsAlike(L"config/game.ini", L"config/items.tab");
    }

    void ExpectFormatsAlike(const std::wstring& ini, const std::wstring& tab) {
        Orvex::IIniFile* fromZip = m_manager.CreateIniFile();
        Orvex::IIniFile* loose = m_manager.CreateIniFile();
        ASSERT_TRUE(fromZip->Load((m_zipRoot + L"/" + ini).c_str()));
        ASSERT_TRUE(loose->Load((m_tree + L"/" + ini).c_str()));
        EXPECT_EQ(fromZip->GetInt(L"video", L"width", 0), 1280);
        EXPECT_EQ(fromZip->GetFloat(L"audio", L"volume", 0),
                  loose->GetFloat(L"audio", L"volume", 1));
        fromZip->Release();
        loose->Release();
        Orvex::ITabFile* zippedTable = m_manager.CreateTabFile();
        Orvex::ITabFile* looseTable = m_manager.CreateTabFile();
        ASSERT_TRUE(zippedTable->Load((m_zipRoot + L"/" + tab).c_str()));
        ASSERT_TRUE(looseTable->Load((m_tree + L"/" + tab).c_str()));
        ASSERT_EQ(zippedTable->GetWidth(), 3u);
        ASSERT_EQ(zippedTable->GetHeight(), looseTable->GetHeight());
        for (unsigned row = 0; row < looseTable->GetHeight(); ++row) {
            for (unsigned column = 0; column < 3; ++column) {
                EXPECT_STREQ(zippedTable->GetString(row, column),
                             looseTable->GetString(row, column));
            }
        }
        zippedTable->Release();
        looseTable->Release();
    }

    CFileMgr& m_manager = FileMgr();
    ScratchPaths m_scratch;
    std::wstring m_tree;
    std::string m_narrowTree;
    std::wstring m_zipRoot;
    std::wstring m_packageRoot;
    std::vector<std::string> m_names;
};

TEST_P(ZipSource, EveryFileLoadsAsTheLooseFileInEveryMode) {
    for (const bool mapped : {false, true}) {
        m_manager.SetPackageMapped((m_zipRoot + L"/data/one.bin").c_str(), mapped);
        m_manager.SetPackageMapped((m_packageRoot + L"/data/one.bin").c_str(), mapped);
        for (const bool async : {false, true}) {
            SCOPED_TRACE(std::string(mapped ? "mapped" : "private") + (async ? " async" : " sync"));
            m_manager.SetAsyncLoad(async);
            ExpectEveryFileAlike();
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Writers, ZipSource,
                         ::testing::Values("stored", "deflated", "zip64", "command"));

std::vector<std::string> g_errorLines;
void KeepErrorLine(const char* text, unsigned) {
    g_errorLines.emplace_back(text);
}

// Writes the archive; `corrupt`, when given, is the entry whose tenth data
// byte is changed after its CRC-32 was taken.
void WriteZip(const std::wstring& path, const std::vector<ZipTest::SEntryPlan>& plans,
              int corrupt = -1) {
    ZipTest::SBuilt built = ZipTest::Build(plans);
    if (corrupt >= 0) {
        const auto k = static_cast<std::size_t>(corrupt);
        built.bytes[built.locals[k] + 30 + plans[k].name.size() + 10] ^= 0x55;
    }
    WriteRawFile(path, built.bytes);
}

// The switch, a package beside a zip archive of the same directory, the one
// line for entries of other methods, and entries whose bytes do not match
// their CRC-32, in every way a file is read.
TEST(ZipSourceRules, SwitchPackagesFirstRefusedMethodsAndCorruptEntries) {
    CFileMgr& manager = FileMgr();
    ScratchPaths scratch;
    const std::wstring root = scratch.Add(UniqueName("zip-rules"));
    std::filesystem::remove_all(root);
    WriteZip(root + L"/both.zip", {{"a.txt", "from the zip"}, {"only-zip.txt", "z"}});
    ASSERT_TRUE(WritePackage(root + L"/both.pkg", {{L"a.txt", Bytes{'p'}, 0}}, false));
    const std::string body(5000, 'q');
    WriteZip(root + L"/odd.zip",
             {{"bz.txt", "b", 12}, {"lz.txt", "l", 14}, {"good.txt", body}, {"bad.txt", body, 0}},
             /*corrupt=*/3);
    WriteZip(root + L"/later.zip", {{"x.txt", "x"}});

    // A package wins over the zip of the same directory, entry by entry too.
    EXPECT_EQ(ReadPackaged(root + L"/both/a.txt", true), Bytes{'p'});
    EXPECT_FALSE(manager.IsFileExist((root + L"/both/only-zip.txt").c_str()));

    const Orvex::GlobOutputFun previous = Orvex::GetGlobErrFun();
    Orvex::SetGlobErrFun(KeepErrorLine);
    g_errorLines.clear();
    Orvex::SetZipArchiveSearch(false);
    EXPECT_FALSE(Orvex::IsZipArchiveSearch());
    EXPECT_FALSE(manager.IsFileExist((root + L"/later/x.txt").c_str()));
    Orvex::SetZipArchiveSearch(true);
    EXPECT_TRUE(manager.IsFileExist((root + L"/later/x.txt").c_str()));
    EXPECT_TRUE(manager.IsFileExist((root + L"/odd/good.txt").c_str()));
    EXPECT_FALSE(manager.IsFileExist((root + L"/odd/bz.txt").c_str()));
    EXPECT_FALSE(manager.IsFileExist((root + L"/odd/lz.txt").c_str()));
    Orvex::SetGlobErrFun(previous);
    ASSERT_EQ(g_errorLines.size(), 1u);
    EXPECT_NE(g_errorLines[0].find("odd.zip\": 2 entries"), std::string::npos) << g_errorLines[0];
    EXPECT_NE(g_errorLines[0].find("method 12"), std::string::npos);

    // A stored byte of the bad entry was changed: every read of it fails.
    const std::wstring bad = root + L"/odd/bad.txt";
    for (const bool async : {false, true}) {
        manager.SetAsyncLoad(async);
        DataListener listener;
        const std::int32_t result = manager.Load(bad.c_str(), &listener);
        while (manager.Dispatch(1000)) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        if (async) {
            EXPECT_EQ(result, 5000);
            EXPECT_TRUE(listener.bytes.empty()); // delivered with no bytes
        } else {
            EXPECT_EQ(result, -1);
            EXPECT_EQ(listener.calls, 0);
        }
    }
    manager.SetAsyncLoad(false);
    Bytes read;
    EXPECT_FALSE(ReadThroughReader(bad, read));
    EXPECT_TRUE(ReadThroughReader(root + L"/odd/good.txt", read));
    EXPECT_EQ(read, Bytes(body.begin(), body.end()));
}

} // namespace
