// The head command on loose and packaged files, and its refusals.
#include "../file/FileHeadTestSupport.h"
#include "PackToolTestSupport.h"

#include <gtest/gtest.h>

namespace {

using namespace OrvexTest;
using OrvexTest::Encode;
using OrvexTest::HeadPlan;

// Three groups (one of an unknown type, one of none), names beyond ASCII and
// one with a control character; 4 bytes of extra data, then a 10-byte body.
Bytes SampleFile() {
    const HeadPlan plan = {Orvex::eFT_Tex,
                           2,
                           {{Orvex::eFT_Mtr, {u"a/b", u"\u00e9\u4e2d", u"tab\there"}},
                            {0x12345678, {}},
                            {0xFFFFFFFF, {u"x"}}},
                           4};
    Bytes bytes = Encode(plan);
    bytes.insert(bytes.end(), 14, 0xEE);
    return bytes;
}

// What head shows for SampleFile after its first line.
const char kSampleReport[] = "type          tex\n"
                             "version       2\n"
                             "groups        3\n"
                             "group 0       mtr, 3 names\n"
                             "  a/b\n"
                             "  \u00e9\u4e2d\n"
                             "  tab\\x09here\n"
                             "group 1       0x12345678, 0 names\n"
                             "group 2       none, 1 name\n"
                             "  x\n"
                             "head size     84 bytes\n"
                             "extra data    4 bytes\n"
                             "body          10 bytes from byte 88\n";

class PackHeadTest : public ::testing::Test {
protected:
    Scratch m_scratch;
};

TEST_F(PackHeadTest, ShowsTheHeadOfALooseAndOfAPackagedFile) {
    const Bytes sample = SampleFile();
    ASSERT_EQ(sample.size(), 98u);
    const std::string root = m_scratch.Path("hd");
    const std::string package = m_scratch.Path("hd", ".pkg");
    WriteTree(root, {{"Models/hero.tex", sample}, {"other.bin", RandomBytes(50, 3)}});

    const std::string loose = root + "/Models/hero.tex";
    const Outcome fromDisk = RunPack({"head", loose});
    EXPECT_EQ(fromDisk.status, 0) << fromDisk.err;
    EXPECT_EQ(fromDisk.out, "file          '" + loose + "' (98 bytes)\n" + kSampleReport);

    // Scrambled, with a resident part that ends inside the head.
    ASSERT_EQ(RunPack({"pack", root, package, "--scramble", "--resident=20"}).status, 0);
    const Outcome packaged = RunPack({"head", package, "Models/hero.tex"});
    EXPECT_EQ(packaged.status, 0) << packaged.err;
    EXPECT_EQ(packaged.out,
              "file          'Models/hero.tex' in '" + package + "' (98 bytes)\n" + kSampleReport);

    const Outcome missing = RunPack({"head", package, "Models/none.tex"});
    EXPECT_EQ(missing.status, 1);
    EXPECT_EQ(missing.err, "orvex-pack: '" + package + "' holds no file named 'Models/none.tex'\n");
    const Outcome noHead = RunPack({"head", package, "other.bin"});
    EXPECT_EQ(noHead.status, 1);
    EXPECT_NE(noHead.err.find("'other.bin' in '" + package + "' "), std::string::npos);
}

TEST_F(PackHeadTest, RefusesFilesWithoutAValidHead) {
    const Bytes sample = SampleFile();
    struct Case {
        Bytes bytes;
        const char* error;
    };
    const Case cases[] = {
        {Bytes(sample.begin(), sample.begin() + 7), "is too short to hold a file head (7 bytes)"},
        {Encode({0x00636261, 1, {}, 0}), "has no file head: 0x00636261 is not a file type"},
        {Bytes(sample.begin(), sample.begin() + 83), "has a damaged file head: it breaks off at "
                                                     "byte 80 ("},
    };
    for (const Case& refused : cases) {
        SCOPED_TRACE(refused.error);
        const std::string path = m_scratch.Path("bad", ".tex");
        WriteFile(U8(path), refused.bytes);
        const Outcome outcome = RunPack({"head", path});
        EXPECT_EQ(outcome.status, 1);
        EXPECT_EQ(outcome.out, "");
        EXPECT_EQ(outcome.err.rfind("orvex-pack: '" + path + "' " + refused.error, 0), 0u)
            << outcome.err;
    }

    // A valid head whose extra data the file does not hold is still shown.
    const std::string cut = m_scratch.Path("cut", ".tex");
    WriteFile(U8(cut), Bytes(sample.begin(), sample.begin() + 85));
    const Outcome shown = RunPack({"head", cut});
    EXPECT_EQ(shown.status, 0);
    EXPECT_NE(shown.out.find("body          none: the extra data runs 3 bytes past the end"),
              std::string::npos)
        << shown.out;

    EXPECT_EQ(RunPack({"head"}).status, 2);
    EXPECT_EQ(RunPack({"head", cut, "b", "c"}).status, 2);
    EXPECT_EQ(RunPack({"head", m_scratch.Path("absent")}).status, 1);
    const Outcome help = RunPack({"head", "--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_EQ(help.out.rfind("usage: orvex-pack head FILE\n", 0), 0u);
}

} // namespace
