// The show command: configuration and table files read loose and from a
// package through the library, and its refusals.
#include "PackToolTestSupport.h"

#include <gtest/gtest.h>

namespace {

using namespace OrvexTest;

Bytes BytesOf(const std::string& text) {
    return Bytes(text.begin(), text.end());
}

// UTF-16 with its mark, for ASCII text.
Bytes Utf16Of(const std::string& text) {
    Bytes bytes = {0xFF, 0xFE};
    for (const char c : text) {
        bytes.push_back(static_cast<unsigned char>(c));
        bytes.push_back(0);
    }
    return bytes;
}

const char kConfig[] = "; settings\r\n[video]\r\nwidth = 1024\r\n[audio]\r\nvolume = 0.5\r\n";
const char kConfigReport[] = "[audio]\nvolume = 0.5\n[video]\nwidth = 1024\n";
const char kTable[] = "Id\tName\r\n1\tBob\r\n2\t\r\n";
const char kTableReport[] = "rows      3, 2 cells in the header row\n"
                            "0: Id | Name\n"
                            "1: 1 | Bob\n"
                            "2: 2 | \n";

class PackShowTest : public ::testing::Test {
protected:
    Scratch m_scratch;
};

TEST_F(PackShowTest, ShowsConfigurationsAndTablesLooseAndPackaged) {
    const std::string root = m_scratch.Path("show");
    const std::string package = m_scratch.Path("show", ".pkg");
    WriteTree(root, {{"cfg/game.ini", BytesOf(kConfig)},
                     {"cfg/units.tab", Utf16Of(kTable)},
                     {"cfg/units.txt", Utf16Of(kTable)}});

    const Outcome loose = RunPack({"show", root + "/cfg/game.ini"});
    EXPECT_EQ(loose.status, 0) << loose.err;
    EXPECT_EQ(loose.out,
              std::string("encoding  no mark (UTF-8 or the ANSI code page)\n") + kConfigReport);

    ASSERT_EQ(RunPack({"pack", root, package, "--scramble", "--resident=8"}).status, 0);
    const Outcome config = RunPack({"show", package, "cfg/game.ini"});
    EXPECT_EQ(config.status, 0) << config.err;
    EXPECT_EQ(config.out, loose.out);
    const Outcome table = RunPack({"show", package, "CFG\\Units.tab"});
    EXPECT_EQ(table.status, 0) << table.err;
    EXPECT_EQ(table.out, kTableReport);
    const Outcome chosen = RunPack({"show", root + "/cfg/units.txt", "--as=table"});
    EXPECT_EQ(chosen.out, kTableReport);
}

TEST_F(PackShowTest, RefusesWhatItCannotRead) {
    const std::string root = m_scratch.Path("refuse");
    WriteTree(root, {{"broken.ini", BytesOf("[s]\r\nno equals sign\r\n")},
                     {"legacy.tab", BytesOf("Name\nCaf\xE9\n")},
                     {"notes.txt", BytesOf("x")}});
    const Outcome broken = RunPack({"show", root + "/broken.ini"});
    EXPECT_EQ(broken.status, 1);
    EXPECT_NE(broken.err.find("is not a configuration"), std::string::npos) << broken.err;
    const Outcome legacy = RunPack({"show", root + "/legacy.tab"});
    EXPECT_EQ(legacy.status, 1);
    EXPECT_EQ(legacy.err,
              "orvex-pack: '" + root + "/legacy.tab' is refused: can not use asc file here!!\n");
    EXPECT_EQ(RunPack({"show", root + "/missing.tab"}).status, 1);
    EXPECT_EQ(RunPack({"show", root + "/notes.txt"}).status, 2);
    EXPECT_EQ(RunPack({"show", root + "/notes.txt", "--as=list"}).status, 2);
    const Outcome notPackage = RunPack({"show", root + "/notes.txt", "a.ini"});
    EXPECT_EQ(notPackage.status, 1);
    EXPECT_NE(notPackage.err.find("is not named like a package"), std::string::npos);
}

} // namespace
