// The package tool's list and verify of zip archives.
#include "PackToolTestSupport.h"

#include "../file/ZipTestSupport.h"

#include <gtest/gtest.h>

namespace {

using OrvexTest::RunPack;
using ZipTest::SBuilt;

// Writes the archive to a scratch path ending in `suffix`; the path goes
// with the scratch.
std::string WriteZip(OrvexTest::Scratch& scratch, const char* tag, const char* suffix,
                     const SBuilt& built) {
    const std::string path = scratch.Path(tag, suffix);
    OrvexTest::WriteFile(OrvexTest::U8(path),
                         OrvexTest::Bytes(built.bytes.begin(), built.bytes.end()));
    return path;
}

TEST(PackZip, ListShowsTheArchiveAsTheLoaderReadsIt) {
    OrvexTest::Scratch scratch;
    const std::string path = WriteZip(scratch, "listed", ".ZIP",
                                      ZipTest::Build({{"b/second.txt", std::string(300, 'b'), 8},
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
    OrvexTest::Scratch scratch;
    const std::string good = WriteZip(scratch, "good", ".zip", ZipTest::Build(specs));
    const OrvexTest::Outcome ok = RunPack({"verify", good});
    EXPECT_EQ(0, ok.status) << ok.err;
    EXPECT_NE(std::string::npos, ok.out.find("ok: '" + good + "', 2 entries"));

    SBuilt damaged = ZipTest::Build(specs);
    damaged.Put32(damaged.locals[1] + 14, 0xDEADBEEF); // local CRC-32
    damaged.Put32(damaged.centrals[1] + 16, 0xDEADBEEF);
    damaged.Put16(damaged.locals[0] + 8, 0); // local method
    const std::string bad = WriteZip(scratch, "bad", ".zip", damaged);
    const OrvexTest::Outcome failed = RunPack({"verify", bad});
    EXPECT_NE(0, failed.status);
    EXPECT_NE(std::string::npos, failed.out.find("entry one.txt: refused"));
    EXPECT_NE(std::string::npos, failed.out.find("entry two.txt: corrupt"));
    EXPECT_NE(std::string::npos, failed.err.find("2 problems"));

    const std::string notZip = scratch.Path("not", ".zip");
    OrvexTest::WriteFile(OrvexTest::U8(notZip), OrvexTest::Bytes(100, 7));
    const OrvexTest::Outcome refused = RunPack({"list", notZip});
    EXPECT_NE(0, refused.status);
    EXPECT_NE(std::string::npos, refused.err.find("has no end-of-directory record"));
}

} // namespace
