// Packages made by pack, loaded file by file through the file manager as a
// game loads them: with pack's defaults a tree of plain files loads whole for
// a listener of type -1, and typed resource files keep their head and extra
// data resident; list says which files have a resident part and what the
// loader reads from it; --resident=N forces N for every file.
#include "../file/FileHeadTestSupport.h"
#include "PackToolTestSupport.h"

#include "OrvexCommon/file/OrvexFile.h"

#include <gtest/gtest.h>

namespace {

using namespace OrvexTest;

// Keeps every byte it is given; a rest that follows a head extends the
// head's bytes, so `bytes` ends up as the whole file.
class WholeFile final : public Orvex::IFileLoadListener {
public:
    explicit WholeFile(std::int32_t type) : m_type(type) {}
    std::int32_t GetFileType() override { return m_type; }
    void OnLoadHead(const Orvex::CCommonFileHead&, Orvex::SLoadBuffer& buffer) override {
        ++heads;
        bytes.assign(buffer.origin + buffer.start, buffer.origin + buffer.end);
    }
    void OnLoadData(Orvex::SLoadBuffer& buffer) override {
        ++deliveries;
        bytes.resize(buffer.start);
        bytes.insert(bytes.end(), buffer.origin + buffer.start, buffer.origin + buffer.end);
    }
    int heads = 0;
    int deliveries = 0;
    Bytes bytes;

private:
    std::int32_t m_type;
};

// A file of the tree and what pack's defaults make of it.
struct Expected {
    std::int32_t type; // the listener that loads it
    std::uint32_t resident;
    std::string head; // list's head column
};

Bytes Concat(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// Plain files (random bytes, text, empty ones) and typed files with valid,
// lying and broken heads, each with what a default pack should do with it.
std::map<std::string, Expected> MakeMixedTree(Tree& tree) {
    std::map<std::string, Expected> expected;
    tree = MakeTree(300, 23);
    tree["docs/readme.txt"] = Bytes{'h', 'e', 'l', 'l', 'o', '\n'};
    tree["docs/empty.md"] = Bytes();
    for (const auto& file : tree) {
        expected[file.first] = {-1, 0, "-"};
    }
    const HeadPlan texture = {Orvex::eFT_Tex, 3, {{Orvex::eFT_Mtr, {u"stone.mtr"}}}, 8};
    const HeadPlan untyped = {0xFFFFFFFFu, 1, {}, 4};
    const HeadPlan material = {Orvex::eFT_Mtr, 1, {{Orvex::eFT_Tex, {u"a", u"b"}}}, 0};
    const Bytes textureHead = Encode(texture);
    const struct {
        const char* name;
        Bytes bytes;
        Expected outcome;
    } typed[] = {
        {"models/hero.tex",
         Concat(textureHead, RandomBytes(508, 1)),
         {Orvex::eFT_Tex, static_cast<std::uint32_t>(textureHead.size() + 8), "tex"}},
        {"models/untyped.bin",
         Concat(Encode(untyped), RandomBytes(40, 2)),
         {-1, static_cast<std::uint32_t>(Encode(untyped).size() + 4), "none"}},
        {"models/head-only.mtr",
         Encode(material),
         {Orvex::eFT_Mtr, static_cast<std::uint32_t>(Encode(material).size()), "mtr"}},
        // Extra data past the end, a head cut short, no type: no head at all.
        {"models/lying.tex",
         Concat(Encode({Orvex::eFT_Tex, 1, {}, 1000}), RandomBytes(9, 3)),
         {-1, 0, "-"}},
        {"models/cut.tex", Bytes(textureHead.begin(), textureHead.end() - 6), {-1, 0, "-"}},
        {"models/abc.bin",
         Concat(Encode({0x00636261, 1, {}, 0}), RandomBytes(30, 4)),
         {-1, 0, "-"}},
    };
    for (const auto& file : typed) {
        tree[file.name] = file.bytes;
        expected[file.name] = file.outcome;
    }
    return expected;
}

class PackLoadTest : public ::testing::Test {
protected:
    // The list lines of the package's files, by name.
    std::map<std::string, ListedEntry> Listed(const std::string& package,
                                              std::map<std::string, std::string>& header) {
        const Outcome listed = RunPack({"list", package});
        EXPECT_EQ(listed.status, 0) << listed.err;
        std::map<std::string, ListedEntry> byKey, byName;
        ParseListing(listed.out, byKey, header);
        for (const auto& entry : byKey) {
            byName[entry.second.name] = entry.second;
        }
        return byName;
    }

    Scratch m_scratch;
};

TEST_F(PackLoadTest, ListShowsTheResidentPartsThatDefaultsAndForcedSizesGive) {
    Tree tree;
    const std::map<std::string, Expected> expected = MakeMixedTree(tree);
    const std::string root = m_scratch.Path("mixed");
    WriteTree(root, tree);
    for (const std::string forced : {"", "10"}) {
        SCOPED_TRACE("--resident=" + forced);
        const std::string package = m_scratch.Path("mixed", ".pkg");
        // Scrambled: list reads the heads descrambled, as the loader does.
        std::vector<std::string> args = {"pack", root, package, "--scramble"};
        if (!forced.empty()) {
            args.push_back("--resident=" + forced);
        }
        ASSERT_EQ(RunPack(args).status, 0);
        std::map<std::string, std::string> header;
        const std::map<std::string, ListedEntry> listed = Listed(package, header);
        std::size_t residentFiles = 0, residentBytes = 0;
        for (const auto& file : tree) {
            SCOPED_TRACE(file.first);
            ASSERT_EQ(listed.count(file.first), 1u);
            const ListedEntry& entry = listed.at(file.first);
            const std::uint32_t size = static_cast<std::uint32_t>(file.second.size());
            const Expected& outcome = expected.at(file.first);
            // Ten bytes never hold a whole head.
            const std::uint32_t resident = forced.empty() ? outcome.resident : std::min(10u, size);
            EXPECT_EQ(entry.resident, resident);
            EXPECT_EQ(entry.head, forced.empty() || size == 0 ? outcome.head : "invalid");
            residentFiles += resident > 0 ? 1 : 0;
            residentBytes += resident;
        }
        EXPECT_EQ(header["resident"], std::to_string(residentFiles) + " of " +
                                          std::to_string(tree.size() + 1) + " files, " +
                                          std::to_string(residentBytes) + " bytes");
    }
}

TEST_F(PackLoadTest, WithTheDefaultsEveryFileLoadsThroughTheFileManager) {
    Tree tree;
    const std::map<std::string, Expected> expected = MakeMixedTree(tree);
    const std::string root = m_scratch.Path("load");
    WriteTree(root, tree);
    Orvex::IOrvexFileMgr& manager = Orvex::GetOrvexFileMgr();
    for (const bool scrambled : {false, true}) {
        const std::string package = m_scratch.Path("load", ".pkg");
        std::vector<std::string> args = {"pack", root, package};
        if (scrambled) {
            args.push_back("--scramble");
        }
        ASSERT_EQ(RunPack(args).status, 0);
        // Named through the package: no loose file has these names.
        const std::string inside = package.substr(0, package.size() - 4) + "/";
        // Found by name, the package opens private; then it is switched.
        for (const bool mapped : {false, true}) {
            SCOPED_TRACE(std::string(scrambled ? "scrambled, " : "") +
                         (mapped ? "mapped" : "private"));
            const std::wstring readme = Wide(inside + "docs/readme.txt");
            if (mapped) {
                manager.SetPackageMapped(readme.c_str(), true);
            }
            std::size_t wrong = 0;
            for (const auto& file : tree) {
                const Expected& outcome = expected.at(file.first);
                WholeFile listener(outcome.type);
                const std::int32_t result =
                    manager.Load(Wide(inside + file.first).c_str(), &listener);
                const bool right = result >= 0 && listener.bytes == file.second &&
                                   listener.deliveries == 1 &&
                                   listener.heads == (outcome.resident > 0 ? 1 : 0);
                EXPECT_TRUE(right) << file.first << ": Load " << result;
                wrong += right ? 0 : 1;
            }
            EXPECT_EQ(wrong, 0u);
            const Orvex::detail::PackageMatch match =
                Orvex::detail::FindPackageEntry(readme.c_str(), true);
            ASSERT_NE(match.package, nullptr);
            EXPECT_EQ(match.package->mapped, mapped);
            // A file with a resident head loads only for its head's type.
            WholeFile untyped(-1);
            EXPECT_EQ(manager.Load(Wide(inside + "models/hero.tex").c_str(), &untyped), -1);
        }
    }
}

} // namespace
