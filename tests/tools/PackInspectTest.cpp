// list, extract and verify on packages with and without a manifest and on
// damaged ones; pack's refusals; the command line; the progress bar and the
// terminal query behind it.
#include "PackPlan.h"
#include "PackToolTestSupport.h"

#include "OrvexCommon/file/detail/PackageWriter.h"
#include "OrvexCommon/platform/OrvexSys.h"
#include "OrvexTestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <functional>

namespace {

using namespace OrvexTest;
using Orvex::detail::ReadLittleEndian32;
using Orvex::detail::WriteLittleEndian32;

// Builds a package whose manifest names its files as given, bypassing pack.
void WriteCustomPackage(const std::string& path, const std::vector<std::string>& names) {
    Orvex::detail::PackageWriter writer;
    ASSERT_TRUE(writer.Open(U8(path).wstring().c_str(), false));
    std::string manifest;
    for (const std::string& name : names) {
        const Bytes bytes = RandomBytes(9, 1);
        ASSERT_TRUE(writer.AddFile(Wide(name).c_str(), bytes.data(), 9, 9));
        manifest += name + "\n";
    }
    ASSERT_TRUE(writer.AddFile(L".orvex-manifest", manifest.data(),
                               static_cast<std::uint32_t>(manifest.size()), 0));
    ASSERT_TRUE(writer.Finish());
}

class PackInspectTest : public ::testing::Test {
protected:
    Scratch m_scratch;
};

TEST_F(PackInspectTest, ListShowsTheHeaderAndEveryEntryWithItsName) {
    const Tree tree = MakeTree(30, 4);
    const std::string root = m_scratch.Path("list");
    const std::string path = m_scratch.Path("list", ".pkg");
    WriteTree(root, tree);
    ASSERT_EQ(RunPack({"pack", root, path, "--scramble"}).status, 0);

    const Outcome listed = RunPack({"list", path});
    ASSERT_EQ(listed.status, 0) << listed.err;
    std::map<std::string, ListedEntry> entries;
    std::map<std::string, std::string> header;
    ParseListing(listed.out, entries, header);
    const Bytes raw = ReadFile(U8(path));
    EXPECT_EQ(header["files"], std::to_string(tree.size() + 1));
    EXPECT_EQ(header["index offset"], std::to_string(ReadLittleEndian32(raw.data() + 12)));
    EXPECT_EQ(header["scrambled"], "yes");
    EXPECT_EQ(header["manifest"], "yes");
    EXPECT_EQ(header["resident"], "0 of " + std::to_string(tree.size() + 1) + " files, 0 bytes");
    ASSERT_EQ(entries.size(), tree.size() + 1);
    for (const auto& file : tree) {
        SCOPED_TRACE(file.first);
        const ListedEntry& entry = entries[KeyHex(KeyOf(file.first))];
        EXPECT_EQ(entry.name, file.first);
        EXPECT_EQ(entry.size, file.second.size());
        // Files without a head have no resident part by default.
        EXPECT_EQ(entry.resident, 0u);
        EXPECT_EQ(entry.head, "-");
        ASSERT_LE(entry.offset + file.second.size(), raw.size());
    }
    EXPECT_EQ(entries[KeyHex(KeyOf(".orvex-manifest"))].name, ".orvex-manifest");
}

TEST_F(PackInspectTest, WithoutAManifestListShowsKeysAndExtractNamesFilesByKey) {
    const Tree tree = MakeTree(12, 6);
    const std::string root = m_scratch.Path("nm");
    const std::string path = m_scratch.Path("nm", ".pkg");
    const std::string out = m_scratch.Path("nmout");
    WriteTree(root, tree);
    ASSERT_EQ(RunPack({"pack", root, path, "--no-manifest", "--resident=all"}).status, 0);

    const Outcome listed = RunPack({"list", path});
    ASSERT_EQ(listed.status, 0) << listed.err;
    std::map<std::string, ListedEntry> entries;
    std::map<std::string, std::string> header;
    ParseListing(listed.out, entries, header);
    EXPECT_EQ(header["files"], std::to_string(tree.size()));
    EXPECT_EQ(header["scrambled"], "no");
    EXPECT_EQ(header["manifest"], "no");
    ASSERT_EQ(entries.size(), tree.size());

    ASSERT_EQ(RunPack({"extract", path, out}).status, 0);
    Tree expected;
    for (const auto& file : tree) {
        const ListedEntry& entry = entries[KeyHex(KeyOf(file.first))];
        EXPECT_EQ(entry.name, "");
        EXPECT_EQ(entry.resident, file.second.size());
        expected[KeyHex(KeyOf(file.first)) + ".bin"] = file.second;
    }
    EXPECT_EQ(ReadTree(out), expected);
}

TEST_F(PackInspectTest, VerifyPassesAGoodPackageAndReportsEachKindOfDamage) {
    const Tree tree = MakeTree(10, 8);
    const std::string root = m_scratch.Path("vf");
    const std::string good = m_scratch.Path("vf", ".pkg");
    WriteTree(root, tree);
    ASSERT_EQ(RunPack({"pack", root, good}).status, 0);
    const Outcome passed = RunPack({"verify", good, root});
    EXPECT_EQ(passed.status, 0) << passed.out << passed.err;
    EXPECT_EQ(passed.out, "ok: '" + good + "', " + std::to_string(tree.size() + 1) + " entries\n");

    const Bytes raw = ReadFile(U8(good));
    const std::uint32_t indexOffset = ReadLittleEndian32(raw.data() + 12);
    const std::string firstName = tree.begin()->first;
    ASSERT_EQ(ReadLittleEndian32(raw.data() + indexOffset), KeyOf(firstName));

    struct Damage {
        const char* what;
        std::function<void(Bytes&)> apply;
        std::string report;
    };
    const Damage damages[] = {
        {"entry beyond the end",
         [&](Bytes& bytes) {
             WriteLittleEndian32(bytes.data() + indexOffset + 12,
                                 static_cast<std::uint32_t>(bytes.size()));
         },
         "entry " + KeyHex(KeyOf(firstName)) + " (" + firstName + "): data [16, " +
             std::to_string(16 + raw.size()) + ") runs beyond the end of the file"},
        {"resident part longer than the file",
         [&](Bytes& bytes) {
             const std::uint32_t size = ReadLittleEndian32(bytes.data() + indexOffset + 12);
             WriteLittleEndian32(bytes.data() + indexOffset + 4, size + 1);
         },
         "(" + firstName + "): resident size"},
        {"truncated index", [](Bytes& bytes) { bytes.resize(bytes.size() - 7); }, "index: "},
        {"key twice",
         [&](Bytes& bytes) {
             std::copy_n(bytes.data() + indexOffset, 4, bytes.data() + indexOffset + 20);
         },
         "the key appears more than once"},
    };
    for (const Damage& damage : damages) {
        SCOPED_TRACE(damage.what);
        Bytes bytes = raw;
        damage.apply(bytes);
        const std::string path = m_scratch.Path("dmg", ".pkg");
        WriteFile(U8(path), bytes);
        const Outcome outcome = RunPack({"verify", path});
        EXPECT_EQ(outcome.status, 1);
        EXPECT_NE(outcome.out.find(damage.report), std::string::npos) << outcome.out;
        EXPECT_EQ(outcome.err.rfind("orvex-pack: '" + path + "': ", 0), 0u) << outcome.err;
    }

    Bytes notAPackage = raw;
    notAPackage[0] = 'x';
    const std::string bad = m_scratch.Path("magic", ".pkg");
    WriteFile(U8(bad), notAPackage);
    const std::vector<std::vector<std::string>> readers = {
        {"verify", bad}, {"list", bad}, {"extract", bad, m_scratch.Path("never")}};
    for (const std::vector<std::string>& args : readers) {
        SCOPED_TRACE(args[0]);
        const Outcome outcome = RunPack(args);
        EXPECT_EQ(outcome.status, 1);
        EXPECT_EQ(outcome.err, "orvex-pack: '" + bad + "' is not a package (bad magic)\n");
    }
}

TEST_F(PackInspectTest, PackRefusesTheManifestNameAndNamesSharingAKey) {
    const std::string root = m_scratch.Path("rsv");
    const std::string path = m_scratch.Path("rsv", ".pkg");
    WriteFile(U8(root) / "a.txt", Bytes(4, 'a'));
    WriteFile(U8(root) / ".Orvex-Manifest", Bytes(4, 'm'));
    const Outcome reserved = RunPack({"pack", root, path});
    EXPECT_EQ(reserved.status, 1);
    EXPECT_EQ(reserved.err, "orvex-pack: '.Orvex-Manifest' has the key of the reserved name "
                            ".orvex-manifest (" +
                                KeyHex(KeyOf(".orvex-manifest")) + "); rename it\n");
    EXPECT_FALSE(fs::exists(U8(path)));
    // --no-manifest does not free the name: list would take the file for one.
    EXPECT_EQ(RunPack({"pack", root, path, "--no-manifest"}).status, 1);

    // Every clash of one run is reported, in the order of the names.
    const std::string cased = m_scratch.Path("case");
    WriteFile(U8(cased) / "Sub/Name.dat", Bytes(1, 'x'));
    WriteFile(U8(cased) / "sub/name.DAT", Bytes(1, 'y'));
    WriteFile(U8(cased) / "A.txt", Bytes(1, 'a'));
    WriteFile(U8(cased) / "a.TXT", Bytes(1, 'b'));
    if (ReadTree(cased).size() != 4) {
        GTEST_SKIP() << "the file system ignores case";
    }
    const Outcome collided = RunPack({"pack", cased, path});
    EXPECT_EQ(collided.status, 1);
    EXPECT_EQ(collided.err, "orvex-pack: 'A.txt' and 'a.TXT' have the same key " +
                                KeyHex(KeyOf("a.txt")) +
                                "; rename one of them\n"
                                "orvex-pack: 'Sub/Name.dat' and 'sub/name.DAT' have the same key " +
                                KeyHex(KeyOf("sub/name.dat")) +
                                "; rename one of them\n"
                                "orvex-pack: 2 names have the key of another name; nothing was "
                                "packed\n");
    EXPECT_FALSE(fs::exists(U8(path)));
}

// The clashes of keys among names as pack checks them: every one reported up
// to the limit, then a count.
TEST_F(PackInspectTest, EveryClashOfKeysIsReportedUpToALimit) {
    // `count` names, each with a twin that differs in case, and the lines
    // expected for them.
    const auto twins = [](std::size_t count, std::vector<OrvexPack::SourceFile>& files) {
        std::vector<std::string> lines;
        for (std::size_t i = 0; i < count; ++i) {
            const std::string name = "Dir/File" + std::to_string(i) + ".dat";
            std::string twin = name;
            std::transform(twin.begin(), twin.end(), twin.begin(),
                           [](char c) { return static_cast<char>(std::tolower(c)); });
            files.push_back({U8(name), name});
            files.push_back({U8(twin), twin});
            lines.push_back("'" + name + "' and '" + twin + "' have the same key " +
                            KeyHex(KeyOf(twin)) + "; rename one of them");
        }
        return lines;
    };
    const std::size_t limit = OrvexPack::kMaxReportedClashes;
    for (const std::size_t pairs :
         {std::size_t(0), std::size_t(1), std::size_t(3), limit, limit + 1, limit + 7}) {
        SCOPED_TRACE(pairs);
        std::vector<OrvexPack::SourceFile> files = {{U8("other.bin"), "other.bin"}};
        std::vector<std::string> lines = twins(pairs, files);
        if (pairs == 3) {
            files.push_back({U8(".ORVEX-manifest"), ".ORVEX-manifest"});
            lines.push_back("'.ORVEX-manifest' has the key of the reserved name .orvex-manifest (" +
                            KeyHex(KeyOf(".orvex-manifest")) + "); rename it");
        }
        std::ostringstream err;
        std::string message = "(none)";
        try {
            OrvexPack::CheckKeys(files, err);
        } catch (const OrvexPack::ToolFailure& failure) {
            message = failure.message;
        }
        std::string expectedErr;
        std::string expectedMessage = lines.empty() ? "(none)" : lines[0];
        if (lines.size() > 1) {
            for (std::size_t i = 0; i < lines.size() && i < limit; ++i) {
                expectedErr += "orvex-pack: " + lines[i] + "\n";
            }
            const std::string total = std::to_string(lines.size());
            expectedMessage =
                lines.size() <= limit
                    ? total + " names have the key of another name; nothing was packed"
                    : "and " + std::to_string(lines.size() - limit) +
                          " more names have the key of another name (" + total +
                          " in all); nothing was packed";
        }
        EXPECT_EQ(err.str(), expectedErr);
        EXPECT_EQ(message, expectedMessage);
    }
}

TEST_F(PackInspectTest, ExtractRefusesNamesThatLeaveTheDirectory) {
    const std::vector<std::string> escaping = {"../up.txt",    "safe/../../up.txt",
                                               "/abs.txt",     "\\abs.txt",
                                               "C:/drive.txt", "a\\..\\..\\up.txt"};
    for (const std::string& name : escaping) {
        SCOPED_TRACE(name);
        const std::string root = m_scratch.Path("esc");
        fs::create_directories(U8(root));
        const std::string path = root + "/p.pkg";
        WriteCustomPackage(path, {"fine.txt", name});
        const Outcome outcome = RunPack({"extract", path, root + "/out/inner"});
        EXPECT_EQ(outcome.status, 1);
        EXPECT_EQ(outcome.err, "orvex-pack: refusing to extract '" + name + "': it would leave '" +
                                   root + "/out/inner'\n");
        // Nothing at all was written.
        EXPECT_FALSE(fs::exists(U8(root) / "out"));
    }
    // Inner dots that stay inside are fine.
    const std::string root = m_scratch.Path("esc");
    fs::create_directories(U8(root));
    WriteCustomPackage(root + "/p.pkg", {"a/..b/c..txt"});
    ASSERT_EQ(RunPack({"extract", root + "/p.pkg", root + "/out"}).status, 0);
    EXPECT_EQ(ReadTree(root + "/out").count("a/..b/c..txt"), 1u);
}

TEST_F(PackInspectTest, CommandLineMistakesGiveOneLineAndAStatus) {
    const std::string root = m_scratch.Path("cl");
    WriteFile(U8(root) / "f", Bytes(1, 'f'));
    const std::string path = root + ".pkg";
    const struct {
        std::vector<std::string> args;
        int status;
        const char* message;
    } cases[] = {
        {{}, 2, "no command given"},
        {{"unpack"}, 2, "unknown command 'unpack'"},
        {{"--verbose"}, 2, "unknown option '--verbose'"},
        {{"pack", root}, 2, "missing arguments for pack"},
        {{"pack", root, path, "extra"}, 2, "unexpected argument 'extra' for pack"},
        {{"pack", root, path, "--resident=12k"}, 2, "--resident takes a byte count"},
        {{"pack", root, path, "--resident=4294967296"}, 2, "--resident takes a byte count"},
        {{"pack", root, path, "--resident"}, 2, "option --resident needs a value"},
        {{"pack", root, path, "--scramble=yes"}, 2, "option --scramble takes no value"},
        {{"pack", root, path, "-x"}, 2, "unknown option '-x' for pack"},
        {{"list"}, 2, "missing arguments for list"},
        {{"verify", path, root, root}, 2, "unexpected argument"},
        {{"extract", path, root, "--patch"}, 2, "option --patch needs a value"},
        {{"patch", "a", "b"}, 2, "missing arguments for patch"},
        {{"pack", root + "/missing", path}, 1, "is not a directory"},
        {{"list", root + "/missing.pkg"}, 1, "cannot read"},
        {{"verify", root}, 1, "is a directory"},
        {{"patch", root + "/f", root + "/missing", root + "/p"}, 1, "cannot read"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.message);
        const Outcome outcome = RunPack(c.args);
        EXPECT_EQ(outcome.status, c.status);
        EXPECT_EQ(outcome.err.rfind("orvex-pack: ", 0), 0u) << outcome.err;
        EXPECT_NE(outcome.err.find(c.message), std::string::npos) << outcome.err;
        EXPECT_EQ(std::count(outcome.err.begin(), outcome.err.end(), '\n'), 1) << outcome.err;
        EXPECT_TRUE(outcome.out.empty()) << outcome.out;
    }
    EXPECT_FALSE(fs::exists(U8(path)));
}

TEST_F(PackInspectTest, HelpIsOnStandardOutputWithStatusZero) {
    const Outcome tool = RunPack({"--help"});
    EXPECT_EQ(tool.status, 0);
    EXPECT_EQ(tool.out.rfind("usage: orvex-pack COMMAND", 0), 0u) << tool.out;
    EXPECT_EQ(RunPack({"-h"}).out, tool.out);
    for (const std::string command :
         {"pack", "list", "extract", "verify", "patch", "head", "show"}) {
        SCOPED_TRACE(command);
        EXPECT_NE(tool.out.find("  " + command + " "), std::string::npos);
        // Help wins over other mistakes on the same line.
        const std::vector<std::vector<std::string>> lines = {
            {command, "--help"}, {command, "-h", "--nonsense"}, {"help", command}};
        for (const std::vector<std::string>& args : lines) {
            const Outcome outcome = RunPack(args);
            EXPECT_EQ(outcome.status, 0);
            EXPECT_EQ(outcome.out.rfind("usage: orvex-pack " + command + " ", 0), 0u)
                << outcome.out;
            EXPECT_TRUE(outcome.err.empty());
        }
    }
}

TEST_F(PackInspectTest, ProgressBarOnlyWhenAskedFor) {
    const std::string root = m_scratch.Path("bar");
    WriteTree(root, MakeTree(120, 2));
    const Outcome quiet = RunPack({"pack", root, m_scratch.Path("bar", ".pkg")}, false);
    ASSERT_EQ(quiet.status, 0);
    EXPECT_TRUE(quiet.err.empty());
    const Outcome shown = RunPack({"pack", root, m_scratch.Path("bar", ".pkg")}, true);
    ASSERT_EQ(shown.status, 0);
    EXPECT_EQ(shown.err.rfind("\rpacking [", 0), 0u) << shown.err;
    const std::string end = "] 100% 120/120\n";
    ASSERT_GE(shown.err.size(), end.size());
    EXPECT_EQ(shown.err.substr(shown.err.size() - end.size()), end);
    EXPECT_EQ(std::count(shown.err.begin(), shown.err.end(), '\n'), 1);
    // Redrawn per whole percent, not per file.
    EXPECT_LE(std::count(shown.err.begin(), shown.err.end(), '\r'), 101);
}

TEST(ConsoleTerminalTest, RedirectedStreamsAreNoTerminal) {
    for (const auto target : {OrvexTest::ConsoleTarget::Output, OrvexTest::ConsoleTarget::Error}) {
        OrvexTest::ConsoleCapture capture(target);
        const bool terminal = Orvex::sys::IsTerminal(target == OrvexTest::ConsoleTarget::Output
                                                         ? Orvex::sys::ConsoleStream::Output
                                                         : Orvex::sys::ConsoleStream::Error);
        capture.Finish();
        EXPECT_FALSE(terminal);
    }
}

} // namespace
