// The package tool's list and verify of zip archives.
#include "PackToolTestSupport.h"

#include "../file/ZipTestSupport.h"
#include "OrvexCommon/file/detail/ZipEntryStream.h"

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
    const std::vector<ZipTest::SEntryPlan> plans = {{"one.txt", std::string(5000, '1'), 8},
                                                    {"two.txt", "two", 0}};
    OrvexTest::Scratch scratch;
    const std::string good = WriteZip(scratch, "good", ".zip", ZipTest::Build(plans));
    const OrvexTest::Outcome ok = RunPack({"verify", good});
    EXPECT_EQ(0, ok.status) << ok.err;
    EXPECT_NE(std::string::npos, ok.out.find("ok: '" + good + "', 2 entries"));

    SBuilt damaged = ZipTest::Build(plans);
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

// Packages and zip archives converted both ways keep every file's bytes, and
// a package always converts to the same archive.
TEST(PackZip, ConversionsKeepEveryFileBothWays) {
    OrvexTest::Scratch scratch;
    const OrvexTest::Tree tree = OrvexTest::MakeTree(40, 9);
    const std::string root = scratch.Path("tree");
    const std::string pkg = scratch.Path("tree", ".pkg");
    const std::string zip = scratch.Path("tree", ".zip");
    const std::string again = scratch.Path("again", ".zip");
    const std::string back = scratch.Path("back", ".pkg");
    const std::string out = scratch.Path("out");
    OrvexTest::WriteTree(root, tree);
    ASSERT_EQ(0, RunPack({"pack", root, pkg, "--scramble"}).status);
    for (const std::vector<std::string>& step : {std::vector<std::string>{"to-zip", pkg, zip},
                                                 {"to-zip", pkg, again},
                                                 {"verify", zip},
                                                 {"from-zip", zip, back},
                                                 {"extract", back, out}}) {
        const OrvexTest::Outcome outcome = RunPack(step);
        ASSERT_EQ(0, outcome.status) << step[0] << ": " << outcome.err;
    }
    EXPECT_EQ(tree, OrvexTest::ReadTree(out));
    EXPECT_EQ(OrvexTest::ReadFile(OrvexTest::U8(zip)), OrvexTest::ReadFile(OrvexTest::U8(again)));

    // From a zip of another writer's making, and back.
    const std::vector<ZipTest::SEntryPlan> plans = {
        {"Maps/\u00e9t\u00e9.map", std::string(9000, 'm'), 8, 0x0800},
        {"raw.bin", "stored bytes", 0},
        {"empty.txt", "", 8}};
    const std::string made = WriteZip(scratch, "made", ".zip", ZipTest::Build(plans));
    const std::string madePkg = scratch.Path("made", ".pkg");
    const std::string madeZip = scratch.Path("remade", ".zip");
    ASSERT_EQ(0, RunPack({"from-zip", made, madePkg}).status);
    ASSERT_EQ(0, RunPack({"to-zip", madePkg, madeZip}).status);
    const OrvexTest::Bytes remade = OrvexTest::ReadFile(OrvexTest::U8(madeZip));
    ZipTest::CSparseZipBytes bytes(remade.data(), remade.size());
    Orvex::detail::SZipDirectory directory;
    ASSERT_EQ(Orvex::detail::EZipOpen::kOpened,
              Orvex::detail::ReadZipDirectory(bytes, remade.size(), directory));
    for (const ZipTest::SEntryPlan& plan : plans) {
        const auto* entry = directory.index.Find(OrvexTest::KeyOf(plan.name));
        ASSERT_NE(nullptr, entry) << plan.name;
        Orvex::detail::CZipEntryStream stream;
        std::string read(static_cast<std::size_t>(entry->size), '\0');
        ASSERT_EQ(Orvex::detail::EZipRead::kOk, stream.Open(bytes, directory, *entry));
        ASSERT_EQ(Orvex::detail::EZipRead::kOk,
                  stream.Read(0, read.size(), reinterpret_cast<unsigned char*>(&read[0])));
        EXPECT_EQ(plan.data, read) << plan.name;
    }
}

TEST(PackZip, ConversionsRefuseWhatWouldLoseFiles) {
    OrvexTest::Scratch scratch;
    struct SCase {
        const char* what;
        std::vector<ZipTest::SEntryPlan> plans;
        const char* message;
    };
    const SCase cases[] = {
        {"an encrypted record",
         {{"a.txt", "a"}, {"b.txt", "b", 8, 1}},
         "records the loader refuses"},
        {"names alike but for case",
         {{"A.txt", "a"}, {"a.TXT", "b"}},
         "records the loader refuses"},
    };
    for (const SCase& c : cases) {
        const std::string zip = WriteZip(scratch, "refused", ".zip", ZipTest::Build(c.plans));
        const std::string pkg = scratch.Path("refused", ".pkg");
        const OrvexTest::Outcome outcome = RunPack({"from-zip", zip, pkg});
        EXPECT_NE(0, outcome.status) << c.what;
        EXPECT_NE(std::string::npos, outcome.err.find(c.message)) << c.what << ": " << outcome.err;
        EXPECT_FALSE(OrvexTest::fs::exists(OrvexTest::U8(pkg))) << c.what;
    }
    const std::string root = scratch.Path("bare");
    const std::string pkg = scratch.Path("bare", ".pkg");
    const std::string zip = scratch.Path("bare", ".zip");
    OrvexTest::WriteTree(root, OrvexTest::MakeTree(3, 2));
    ASSERT_EQ(0, RunPack({"pack", root, pkg, "--no-manifest"}).status);
    const OrvexTest::Outcome unnamed = RunPack({"to-zip", pkg, zip});
    EXPECT_NE(0, unnamed.status);
    EXPECT_NE(std::string::npos, unnamed.err.find("has no manifest"));
    EXPECT_FALSE(OrvexTest::fs::exists(OrvexTest::U8(zip)));
}

} // namespace
