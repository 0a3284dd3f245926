// Keys, scrambling and patch overlays on their own.
#include "OrvexCommon/file/detail/NameKey.h"
#include "OrvexCommon/file/detail/Package.h"
#include "OrvexCommon/file/detail/PackageIndex.h"
#include "OrvexCommon/file/detail/Patch.h"
#include "OrvexCommon/file/detail/Scramble.h"
#include "OrvexCommon/text/OrvexText.h"

#include "PackageTestSupport.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

namespace {

using namespace Orvex::detail;
using OrvexTest::Bytes;

TEST(EntryKey, HashesTheNormalisedNameTwoBytesPerUnit) {
    // "a/B" normalised is "a/b": bytes 61 00 2F 00 62 00.
    const unsigned char expected[] = {0x61, 0, 0x2F, 0, 0x62, 0};
    EXPECT_EQ(EntryKey(L"a\\B"), Orvex::OrvexHash(expected, sizeof(expected)));
    EXPECT_EQ(EntryKey(L"Dir\\Sub/FILE.dat"), EntryKey(L"dir/sub\\file.DAT"));
    EXPECT_NE(EntryKey(L"file.dat"), EntryKey(L"file.dat3"));
    EXPECT_EQ(EntryKey(L"file.dat", L'3'), EntryKey(L"file.dat3"));
    // Units beyond 'Z' stay as they are.
    EXPECT_NE(EntryKey(L"\u00C4"), EntryKey(L"\u00E4"));
}

TEST(EntryKey, HashesCharactersBeyond16BitsAsTheirSurrogatePair) {
    // U+1F600 is D83D DE00 in UTF-16: the key is the same for both spellings
    // of wchar_t, and keys made on one target find files on the other.
    const unsigned char expected[] = {0x78, 0, 0x3D, 0xD8, 0x00, 0xDE};
    std::wstring name = L"x";
    if (sizeof(wchar_t) > 2) {
        name.push_back(static_cast<wchar_t>(0x1F600));
    } else {
        name += {static_cast<wchar_t>(0xD83D), static_cast<wchar_t>(0xDE00)};
    }
    EXPECT_EQ(EntryKey(name.c_str()), Orvex::OrvexHash(expected, sizeof(expected)));
}

TEST(EntryKey, CutsNamesAt1023UnitsSuffixIncluded) {
    const std::wstring base(1023, L'x');
    EXPECT_EQ(EntryKey(base.c_str()), EntryKey((base + L"tail").c_str()));
    EXPECT_EQ(EntryKey(base.c_str()), EntryKey(base.c_str(), L'7'));
    const std::wstring shorter(1022, L'x');
    EXPECT_EQ(EntryKey(shorter.c_str(), L'7'), EntryKey((shorter + L"7").c_str()));
}

// The key against a plain model of it, unit by unit, over random names of
// every kind of unit: letters of both cases, separators, units up to 0xFFFF
// and (with a 32-bit wchar_t) beyond, and lengths across the 1023-unit cut.
TEST(EntryKey, AgreesWithAPlainModelOnRandomNames) {
    std::mt19937 random(20261210);
    const bool wide = sizeof(wchar_t) > 2;
    for (int round = 0; round < 3000; ++round) {
        std::wstring name;
        const std::size_t length = round % 10 == 0 ? 1015 + random() % 16 : 1 + random() % 40;
        while (name.size() < length) {
            const std::uint32_t kind = random() % 8;
            std::uint32_t unit = kind < 3            ? 0x41 + random() % 58 // A-Z, [\]^_`, a-z
                                 : kind < 4          ? (random() % 2 ? 0x5C : 0x2F)
                                 : kind < 6          ? 1 + random() % 0xFF
                                 : kind < 7 || !wide ? 1 + random() % 0xFFFF
                                                     : 0x10000 + random() % 0x100000;
            name.push_back(static_cast<wchar_t>(unit));
        }
        std::vector<unsigned char> bytes;
        for (const wchar_t each : name) {
            std::uint32_t unit = static_cast<std::uint32_t>(each);
            unit = unit >= 0x41 && unit <= 0x5A ? unit + 0x20 : unit == 0x5C ? 0x2F : unit;
            std::vector<std::uint32_t> units = {unit};
            if (unit > 0xFFFF) {
                units = {0xD800 + ((unit - 0x10000) >> 10), 0xDC00 + ((unit - 0x10000) & 0x3FF)};
            }
            if (bytes.size() / 2 + units.size() > 1023) {
                break;
            }
            for (const std::uint32_t part : units) {
                bytes.push_back(static_cast<unsigned char>(part));
                bytes.push_back(static_cast<unsigned char>(part >> 8));
            }
        }
        ASSERT_EQ(Orvex::OrvexHash(bytes.data(), static_cast<unsigned>(bytes.size())),
                  EntryKey(name.c_str()))
            << round;
    }
}

TEST(Scramble, IsItsOwnInverseAndFollowsTheFilePosition) {
    const Bytes original = OrvexTest::RandomBytes(1000, 7);
    Bytes whole = original;
    Descramble(whole.data(), 12345, static_cast<std::uint32_t>(whole.size()));
    EXPECT_NE(whole, original);
    // Any slice descrambles on its own with its own file position.
    for (std::uint32_t cut : {0u, 1u, 7u, 8u, 15u, 16u, 17u, 333u}) {
        Bytes slice(whole.begin() + cut, whole.end());
        Descramble(slice.data(), 12345 + cut, static_cast<std::uint32_t>(slice.size()));
        EXPECT_TRUE(std::equal(slice.begin(), slice.end(), original.begin() + cut)) << cut;
    }
    // Byte i is XORed with key byte (position + i) mod 16.
    const unsigned char* key = ScrambleKey();
    for (std::uint32_t i = 0; i < 40; ++i) {
        EXPECT_EQ(whole[i], original[i] ^ key[(12345 + i) % 16]);
    }
}

// A patch block as SetFilePatch takes it.
Bytes PatchBlock(const std::vector<std::pair<std::uint32_t, Bytes>>& chunks) {
    Bytes block;
    for (const auto& chunk : chunks) {
        OrvexTest::AppendPatchChunk(block, chunk.first, chunk.second);
    }
    return block;
}

TEST(Patch, ParsesChunksAndRefusesABlockThatRunsShort) {
    const Bytes block = PatchBlock({{10, {1, 2, 3}}, {20, {}}, {30, {4, 5}}});
    SFilePatch patch;
    EXPECT_EQ(ParsePatchChunks(patch, 3, block.data(), block.size()), 8 * 3 + 5);
    ASSERT_EQ(patch.chunks.size(), 3u);
    EXPECT_EQ(patch.chunks[2].offset, 30u);
    EXPECT_EQ(patch.chunks[2].length, 2u);
    EXPECT_EQ(patch.blobOffsets[2], 3u);
    EXPECT_EQ(Bytes(patch.blob.begin(), patch.blob.end()), (Bytes{1, 2, 3, 4, 5}));

    // Cut inside the last chunk's bytes, or inside a chunk head: nothing changes.
    SFilePatch untouched = patch;
    EXPECT_EQ(ParsePatchChunks(patch, 3, block.data(), block.size() - 1), -1);
    EXPECT_EQ(ParsePatchChunks(patch, 4, block.data(), block.size() + 7), -1);
    EXPECT_EQ(patch.blob, untouched.blob);
    EXPECT_EQ(ParsePatchChunks(patch, 0, nullptr, 0), 0);
    EXPECT_TRUE(patch.chunks.empty());
}

TEST(Patch, OverlaysOnlyTheReadRange) {
    const Bytes block = PatchBlock({{4, {0xA1, 0xA2, 0xA3, 0xA4}}, {12, {0xB1, 0xB2}}});
    SFilePatch patch;
    ASSERT_GT(ParsePatchChunks(patch, 2, block.data(), block.size()), 0);

    // The range [6, 13) starts inside the first chunk and ends inside the second.
    Bytes buffer(7, 0);
    ApplyPatch(patch, buffer.data(), 6, 7);
    EXPECT_EQ(buffer, (Bytes{0xA3, 0xA4, 0, 0, 0, 0, 0xB1}));

    // A range before every chunk and one after them are left alone.
    Bytes before(4, 9);
    ApplyPatch(patch, before.data(), 0, 4);
    EXPECT_EQ(before, Bytes(4, 9));
    Bytes after(5, 9);
    ApplyPatch(patch, after.data(), 14, 5);
    EXPECT_EQ(after, Bytes(5, 9));
}

TEST(Patch, OverlapTestJudgesFromTheNearestChunks) {
    const Bytes block = PatchBlock({{100, Bytes(10, 1)}, {200, Bytes(10, 2)}});
    SFilePatch patch;
    ASSERT_GT(ParsePatchChunks(patch, 2, block.data(), block.size()), 0);
    EXPECT_FALSE(PatchTouches(nullptr, 0, 1000));
    EXPECT_TRUE(PatchTouches(&patch, 105, 1));   // inside a chunk
    EXPECT_FALSE(PatchTouches(&patch, 110, 90)); // the gap exactly
    EXPECT_TRUE(PatchTouches(&patch, 110, 91));  // reaches the next chunk
    EXPECT_FALSE(PatchTouches(&patch, 210, 50)); // past the last chunk
    // A range that begins before the first chunk counts as touching it.
    EXPECT_TRUE(PatchTouches(&patch, 0, 10));
    SFilePatch empty;
    EXPECT_FALSE(PatchTouches(&empty, 0, 10));
}

} // namespace

namespace {

TEST(PackageIndex, KeepsTheLastRecordOfAKeyInKeyOrderAndFindsEveryKey) {
    typedef Orvex::detail::TPackageIndex<int> Index;
    Orvex::TOrvexVector<Index::Item> items;
    // Keys sharing their low bits probe past each other.
    for (std::uint32_t i = 0; i < 300; ++i) {
        items.push_back({(i % 100) << 16, static_cast<int>(i)});
    }
    items.push_back({7, -1});
    Index index;
    index.Assign(std::move(items));
    EXPECT_EQ(index.size(), 101u);
    std::uint32_t previous = 0;
    for (const auto& item : index) {
        EXPECT_TRUE(item.first == 0 || item.first > previous);
        previous = item.first;
    }
    for (std::uint32_t k = 0; k < 100; ++k) {
        ASSERT_NE(index.Find(k << 16), nullptr) << k;
        EXPECT_EQ(*index.Find(k << 16), static_cast<int>(200 + k)); // the last in file order
    }
    EXPECT_EQ(*index.Find(7), -1);
    EXPECT_EQ(index.Find(8), nullptr);
    EXPECT_EQ(Index().Find(0), nullptr);
}

// A random inner name: mostly short (every place a 12-byte block boundary
// can fall), now and then at the 1 023-unit cut, from an alphabet where case,
// both separators and digits matter, now and then a unit beyond ASCII.
std::wstring RandomInnerName(std::mt19937& random) {
    static const wchar_t alphabet[] = L"abcXYZ/\\._-0123456789f";
    std::wstring name;
    const unsigned length = random() % 200 == 0 ? kMaxKeyNameLength - 2 + random() % 4
                            : random() % 8 == 0 ? random() % 60
                                                : random() % 14;
    for (unsigned k = 0; k < length; ++k) {
        name.push_back(random() % 50 == 0
                           ? static_cast<wchar_t>(0xC0 + random() % 0x2000)
                           : alphabet[random() % (sizeof(alphabet) / sizeof(wchar_t) - 1)]);
    }
    return name;
}

// The lookup (its digit keys from one pass, the index's filter) against the
// plain algorithm (the name's key, then the key of the name with each digit
// appended, each hashed whole and looked up in the table) over 100 000 names against an index of 20
// 000 keys, a third of them with a digit appended: half the names are ones the index was built
// from.
TEST(FindEntryByName, AgreesWithThePlainAlgorithmOnRandomNames) {
    std::mt19937 random(20261209);
    SPackage package;
    Orvex::TOrvexVector<std::pair<std::uint32_t, SPackageEntry>> items;
    std::vector<std::wstring> names;
    const wchar_t digits[] = L"0123456789abcdef";
    for (std::uint32_t k = 0; k < 20000; ++k) {
        names.push_back(RandomInnerName(random));
        SPackageEntry entry;
        entry.offset = k;
        const wchar_t suffix = random() % 3 == 0 ? digits[random() % 16] : 0;
        items.push_back({EntryKey(names.back().c_str(), suffix), entry});
    }
    package.index.Assign(std::move(items));

    unsigned found = 0;
    unsigned foundByDigit = 0;
    for (unsigned k = 0; k < 100000; ++k) {
        const std::wstring name =
            k % 2 == 0 ? names[random() % names.size()] : RandomInnerName(random);
        const SPackageEntry* expected = package.index.Find(EntryKey(name.c_str()));
        const bool byName = expected != nullptr;
        for (const wchar_t* digit = digits; expected == nullptr && *digit != 0; ++digit) {
            expected = package.index.Find(EntryKey(name.c_str(), *digit));
        }
        ASSERT_EQ(expected, FindEntryByName(package, name.c_str())) << k;
        found += expected != nullptr ? 1 : 0;
        foundByDigit += expected != nullptr && !byName ? 1 : 0;
    }
    // Both paths ran often.
    EXPECT_GT(found, 40000u);
    EXPECT_GT(foundByDigit, 10000u);
}

} // namespace
