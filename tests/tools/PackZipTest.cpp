// The package tool's list and verify of zip archives.
#include "PackToolTestSupport.h"

#include "../file/ZipTestSupport.h"

#include <gtest/gtest.h>

namespace {

namespace fs = std::filesystem;
using OrvexTest::RunPack;
using ZipTest::SBuilt;

const fs::path kFolder = "pack-zip-" + OrvexTest::ProcessTag();

std::string WriteZip(const std::string& name, const SBuilt& built) {
    fs::create_directories(kFolder);
    const fs::path path = kFolder / name;
    OrvexTest::WriteFile(path, OrvexTest::Bytes(built.bytes.begin(), built.bytes.end()));
    return path.string();
}

TEST(PackZip, ListShowsTheArchiveAsTheLoaderReadsIt) {
    const std::string path =
        WriteZip("listed.ZIP", ZipTest::Build({{"b/second.txt", std::string(300, 'b'), 8},
                                               {"a/first.bin", "stored", 0},
                                               {"../escape.txt", "x"},
                                               {"locked.bin", "x", 8, 1},
                                               {"odd.bin", "x", 12}}));
    const OrvexTest::Outcome listed = RunPack({"list", path});
    ASSERT_EQ(0, listed.status) << listed.err;
    // The archive's order, not the index's.
    const std::size_t second = listed.out.find("b/second.txt");
    const std::size_t first = listed.out.find("a/first.bin");
    ASSERT_NE(std::string::npos, second);
    ASSERT_NE(std::string::npos, first);
    EXPECT_LT(second, first);
    EXPECT_NE(std::string::npos, listed.out.find("files         2\n"));
    EXPECT_NE(std::string::npos, listed.out.find("other than stored or deflated (the first: 12)"));
    EXPECT_NE(std::string::npos, listed.out.find("1 encrypted record(s)"));
    EXPECT_NE(std::string::npos, listed.out.find("leaves the archive's folder"));
    // The stored file's line: method, size, compressed size, CRC-32, name.
    std::istringstream line(listed.out.substr(listed.out.rfind('\n', first) + 1));
    std::string method, size, packed, crc, name;
    line >> method >> size >> packed >> crc >> name;
    EXPECT_EQ("stored 6 6 " + OrvexTest::KeyHex(ZipTest::Crc("stored")) + " a/first.bin",
              method + " " + size + " " + packed + " " + crc + " " + name);
}

TEST(PackZip, VerifyReadsEveryEntryAndReportsEachProblem) {
    const std::vector<ZipTest::SSpec> specs = {{"one.txt", std::string(5000, '1'), 8},
                                               {"two.txt", "two", 0}};
    const std::string good = WriteZip("good.zip", ZipTest::Build(specs));
    const OrvexTest::Outcome ok = RunPack({"verify", good});
    EXPECT_EQ(0, ok.status) << ok.err;
    EXPECT_NE(std::string::npos, ok.out.find("ok: '" + good + "', 2 entries"));

    SBuilt damaged = ZipTest::Build(specs);
    damaged.Put32(damaged.locals[1] + 14, 0xDEADBEEF); // local CRC-32
    damaged.Put32(damaged.centrals[1] + 16, 0xDEADBEEF);
    damaged.Put16(damaged.locals[0] + 8, 0); // local method
    const std::string bad = WriteZip("bad.zip", damaged);
    const OrvexTest::Outcome failed = RunPack({"verify", bad});
    EXPECT_NE(0, failed.status);
    EXPECT_NE(std::string::npos, failed.out.find("entry one.txt: refused"));
    EXPECT_NE(std::string::npos, failed.out.find("entry two.txt: corrupt"));
    EXPECT_NE(std::string::npos, failed.err.find("2 problems"));

    OrvexTest::WriteFile(kFolder / "not.zip", OrvexTest::Bytes(100, 7));
    const OrvexTest::Outcome notZip = RunPack({"list", (kFolder / "not.zip").string()});
    EXPECT_NE(0, notZip.status);
    EXPECT_NE(std::string::npos, notZip.err.find("has no end-of-directory record"));
}

} // namespace
