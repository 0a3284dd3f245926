// Patch files from the patch command: their layout, that the library's overlay
// of their chunks turns the original bytes into the modified ones, and patched
// packages read through SetFilePatch and through extract --patch.
#include "PackToolTestSupport.h"

#include "OrvexCommon/file/OrvexFile.h"
#include "OrvexCommon/file/detail/Patch.h"

#include <gtest/gtest.h>

namespace {

using namespace OrvexTest;
using Orvex::detail::ReadLittleEndian32;

struct PatchParts {
    bool valid = false;
    std::int32_t sizeOverride = 0;
    std::uint32_t count = 0;
    Bytes block;
};

// Splits a patch file: "ptch", the size override, the chunk count, the block.
PatchParts SplitPatchFile(const Bytes& file) {
    PatchParts parts;
    if (file.size() < 12 || file[0] != 'p' || file[1] != 't' || file[2] != 'c' || file[3] != 'h') {
        return parts;
    }
    parts.valid = true;
    parts.sizeOverride = static_cast<std::int32_t>(ReadLittleEndian32(file.data() + 4));
    parts.count = ReadLittleEndian32(file.data() + 8);
    parts.block.assign(file.begin() + 12, file.end());
    return parts;
}

Bytes PatchFileOf(std::int32_t sizeOverride, std::uint32_t count, const Bytes& block) {
    Bytes file = {'p', 't', 'c', 'h', 0, 0, 0, 0, 0, 0, 0, 0};
    Orvex::detail::WriteLittleEndian32(file.data() + 4, static_cast<std::uint32_t>(sizeOverride));
    Orvex::detail::WriteLittleEndian32(file.data() + 8, count);
    file.insert(file.end(), block.begin(), block.end());
    return file;
}

class PackPatchTest : public ::testing::Test {
protected:
    // Runs the patch command on the pair and checks the file it writes; the
    // parsed chunks come back through `patch`.
    void Diff(const Bytes& original, const Bytes& modified, Orvex::detail::SFilePatch& patch,
              PatchParts& parts) {
        const std::string root = m_scratch.Path("diff");
        WriteFile(U8(root) / "original", original);
        WriteFile(U8(root) / "modified", modified);
        const Outcome outcome =
            RunPack({"patch", root + "/original", root + "/modified", root + "/out.ptch"});
        ASSERT_EQ(outcome.status, 0) << outcome.err;
        parts = SplitPatchFile(ReadFile(U8(root) / "out.ptch"));
        ASSERT_TRUE(parts.valid);
        EXPECT_EQ(parts.sizeOverride, original.size() == modified.size()
                                          ? -1
                                          : static_cast<std::int32_t>(modified.size()));
        ASSERT_EQ(Orvex::detail::ParsePatchChunks(patch, parts.count, parts.block.data(),
                                                  parts.block.size()),
                  static_cast<std::int64_t>(parts.block.size()));
        // Ascending, without overlap, and each chunk starts and ends on a byte
        // that really changed.
        std::uint64_t previousEnd = 0;
        for (std::size_t i = 0; i < patch.chunks.size(); ++i) {
            const Orvex::detail::SPatchChunk& chunk = patch.chunks[i];
            ASSERT_GT(chunk.length, 0u);
            EXPECT_GE(chunk.offset, previousEnd);
            previousEnd = static_cast<std::uint64_t>(chunk.offset) + chunk.length;
            for (const std::uint32_t at : {chunk.offset, chunk.offset + chunk.length - 1}) {
                EXPECT_TRUE(at >= original.size() || original[at] != modified[at]) << at;
            }
        }
        // The library's overlay of the chunks on the original's bytes.
        const std::size_t size = parts.sizeOverride == -1
                                     ? original.size()
                                     : static_cast<std::size_t>(parts.sizeOverride);
        Bytes result(size + 1, 0);
        std::copy(original.begin(), original.begin() + std::min(size, original.size()),
                  result.begin());
        Orvex::detail::ApplyPatch(patch, result.data(), 0, static_cast<std::uint32_t>(size));
        result.pop_back();
        EXPECT_EQ(result, modified);
    }

    Scratch m_scratch;
};

TEST_F(PackPatchTest, ChunksTurnTheOriginalIntoTheModifiedBytes) {
    const Bytes base = RandomBytes(1000, 1);
    const auto flipped = [&](std::initializer_list<std::size_t> positions) {
        Bytes bytes = base;
        for (std::size_t at : positions) {
            bytes[at] ^= 0x5A;
        }
        return bytes;
    };
    Bytes appended = base;
    const Bytes tail = RandomBytes(50, 2);
    appended.insert(appended.end(), tail.begin(), tail.end());
    Bytes straddling(base.begin(), base.begin() + 990);
    for (std::size_t i = 990; i < 1020; ++i) {
        straddling.push_back(static_cast<unsigned char>(i < 1000 ? base[i] ^ 0xFF : i));
    }
    const Bytes truncated(base.begin(), base.begin() + 600);
    Bytes truncatedChanged = truncated;
    truncatedChanged.back() ^= 1;

    struct Case {
        const char* what;
        Bytes original;
        Bytes modified;
        std::uint32_t chunks;
        std::uint32_t firstOffset;
        std::uint32_t firstLength;
    };
    const Case cases[] = {
        {"identical", base, base, 0, 0, 0},
        {"first byte", base, flipped({0}), 1, 0, 1},
        {"last byte", base, flipped({999}), 1, 999, 1},
        {"8 equal bytes apart: one chunk", base, flipped({100, 109}), 1, 100, 10},
        {"9 equal bytes apart: two chunks", base, flipped({100, 110}), 2, 100, 1},
        {"appended", base, appended, 1, 1000, 50},
        {"change across the original end", base, straddling, 1, 990, 30},
        {"truncated", base, truncated, 0, 0, 0},
        {"truncated, new last byte changed", base, truncatedChanged, 1, 599, 1},
        {"from empty", Bytes(), base, 1, 0, 1000},
        {"to empty", base, Bytes(), 0, 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Orvex::detail::SFilePatch patch;
        PatchParts parts;
        Diff(c.original, c.modified, patch, parts);
        ASSERT_EQ(patch.chunks.size(), c.chunks);
        if (c.chunks > 0) {
            EXPECT_EQ(patch.chunks[0].offset, c.firstOffset);
            EXPECT_EQ(patch.chunks[0].length, c.firstLength);
        }
    }
}

TEST_F(PackPatchTest, RandomEditsRoundTrip) {
    std::mt19937 generator(77);
    for (int round = 0; round < 25; ++round) {
        SCOPED_TRACE(round);
        const Bytes original = RandomBytes(generator() % 3000, generator());
        Bytes modified = original;
        modified.resize(generator() % 2 == 0 ? original.size() : generator() % 3500);
        for (int edit = static_cast<int>(generator() % 12); edit > 0 && !modified.empty(); --edit) {
            const std::size_t at = generator() % modified.size();
            const std::size_t length =
                std::min<std::size_t>(generator() % 20 + 1, modified.size() - at);
            for (std::size_t i = at; i < at + length; ++i) {
                modified[i] = static_cast<unsigned char>(generator());
            }
        }
        Orvex::detail::SFilePatch patch;
        PatchParts parts;
        Diff(original, modified, patch, parts);
    }
}

// Two packages of related trees, patched into each other in both directions:
// towards the longer one (chunks beyond the original's end) and towards the
// shorter one (a smaller size override).
TEST_F(PackPatchTest, PatchedPackagesReadAsTheModifiedOnes) {
    const Tree before = MakeTree(40, 21);
    Tree after = before;
    auto file = std::next(after.begin(), 3);
    while (file->second.empty()) {
        ++file;
    }
    file->second[file->second.size() / 2] ^= 0x10; // same length
    std::advance(file, 5);
    const Bytes grown = RandomBytes(100, 3);
    file->second.insert(file->second.end(), grown.begin(), grown.end());
    std::advance(file, 5);
    const std::string removed = file->first;
    after.erase(file);
    // Larger than any file of the tree: the second package is the longer one.
    after["New/added.bin"] = RandomBytes(250000, 4);

    for (const bool scrambled : {false, true}) {
        SCOPED_TRACE(scrambled ? "scrambled" : "plain");
        const std::string root = m_scratch.Path("pp");
        WriteTree(root + "/a", before);
        WriteTree(root + "/b", after);
        for (const char* name : {"a", "b"}) {
            std::vector<std::string> pack = {"pack", root + "/" + name, root + "/" + name + ".pkg",
                                             "--resident=16"};
            if (scrambled) {
                pack.push_back("--scramble");
            }
            ASSERT_EQ(RunPack(pack).status, 0);
        }
        for (const bool forward : {true, false}) {
            SCOPED_TRACE(forward ? "a to b" : "b to a");
            const std::string from = root + (forward ? "/a.pkg" : "/b.pkg");
            const std::string to = root + (forward ? "/b.pkg" : "/a.pkg");
            const Tree& expected = forward ? after : before;
            const std::string patchFile = root + (forward ? "/ab.ptch" : "/ba.ptch");
            const Outcome diffed = RunPack({"patch", from, to, patchFile});
            ASSERT_EQ(diffed.status, 0) << diffed.err;
            const PatchParts parts = SplitPatchFile(ReadFile(U8(patchFile)));
            ASSERT_TRUE(parts.valid);
            EXPECT_EQ(parts.sizeOverride, static_cast<std::int32_t>(ReadFile(U8(to)).size()));

            // Registered for one spelling of the original's path, opened
            // under it.
            const std::string spelling = root + "/." + from.substr(root.size());
            EXPECT_EQ(Orvex::GetOrvexFileMgr().SetFilePatch(Wide(spelling).c_str(),
                                                            parts.sizeOverride, parts.count,
                                                            parts.block.data()),
                      static_cast<std::int32_t>(parts.block.size()));
            Orvex::detail::SPackage* patched = OpenWithLibrary(spelling, true);
            ASSERT_NE(patched, nullptr);
            EXPECT_TRUE(Mismatches(*patched, expected).empty());
            EXPECT_EQ(patched->index.size(), expected.size() + 1);
            if (forward) {
                EXPECT_EQ(Orvex::detail::FindEntryByName(*patched, Wide(removed).c_str()), nullptr);
            }
            ASSERT_TRUE(Orvex::detail::SwitchMapped(*patched, false));
            EXPECT_TRUE(Mismatches(*patched, expected).empty());

            // The file itself is unchanged under its plain spelling.
            Orvex::detail::SPackage* plain = OpenWithLibrary(from, true);
            ASSERT_NE(plain, nullptr);
            EXPECT_TRUE(Mismatches(*plain, forward ? before : after).empty());

            const std::string out = root + (forward ? "/out_ab" : "/out_ba");
            const Outcome extracted = RunPack({"extract", "./" + from, out, "--patch", patchFile});
            ASSERT_EQ(extracted.status, 0) << extracted.err;
            EXPECT_EQ(ReadTree(out), expected);
        }
    }
}

TEST_F(PackPatchTest, ExtractRefusesMalformedPatchFiles) {
    const std::string root = m_scratch.Path("bad");
    WriteTree(root + "/src", MakeTree(5, 3));
    ASSERT_EQ(RunPack({"pack", root + "/src", root + "/p.pkg"}).status, 0);
    Bytes chunk(8 + 4, 0xAB);
    Orvex::detail::WriteLittleEndian32(chunk.data(), 4);
    Orvex::detail::WriteLittleEndian32(chunk.data() + 4, 10);
    Bytes overlapping = chunk;
    overlapping.insert(overlapping.end(), {2, 0, 0, 0, 12, 0, 0, 0, 1, 2});
    Bytes badMagic = PatchFileOf(-1, 1, chunk);
    badMagic[0] = 'x';
    Bytes truncated = PatchFileOf(-1, 1, chunk);
    truncated.pop_back();
    Bytes trailing = PatchFileOf(-1, 1, chunk);
    trailing.push_back(0);

    const struct {
        Bytes file;
        const char* complaint;
    } cases[] = {
        {badMagic, "bad magic"},
        {Bytes(7, 'p'), "too short"},
        {truncated, "truncated"},
        {trailing, "after its last chunk"},
        {PatchFileOf(1, 2, overlapping), "overlaps"},
        {PatchFileOf(-2, 1, chunk), "invalid size override"},
    };
    std::string prefix;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.complaint);
        prefix += "./";
        const std::string patchFile = root + "/bad.ptch";
        WriteFile(U8(patchFile), c.file);
        const Outcome outcome =
            RunPack({"extract", prefix + root + "/p.pkg", root + "/out", "--patch", patchFile});
        EXPECT_EQ(outcome.status, 1);
        EXPECT_EQ(outcome.err.rfind("orvex-pack: patch file '" + patchFile + "'", 0), 0u)
            << outcome.err;
        EXPECT_NE(outcome.err.find(c.complaint), std::string::npos) << outcome.err;
        EXPECT_FALSE(fs::exists(U8(root + "/out")));
    }
}

} // namespace
