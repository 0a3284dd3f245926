// Packages whose header, index or entries lie: every open fails or every read
// stays inside what the file holds (run under ASan to see the difference).
#include "OrvexCommon/file/detail/FileMgr.h"
#include "OrvexCommon/file/detail/NameKey.h"

#include "PackageTestSupport.h"

#include <gtest/gtest.h>

namespace {

using namespace Orvex::detail;
using OrvexTest::Bytes;

struct RawEntry {
    std::uint32_t key, resident, offset, size;
};

// A package image with the given header fields, data and index.
Bytes RawPackage(std::uint32_t count, std::uint32_t indexOffset, const Bytes& data,
                 const std::vector<RawEntry>& entries) {
    unsigned char header[16] = {};
    WriteLittleEndian32(header, kPackageMagic);
    WriteLittleEndian32(header + 8, count);
    WriteLittleEndian32(header + 12, indexOffset);
    Bytes image(header, header + 16);
    image.reserve(16 + data.size() + entries.size() * 20);
    image.insert(image.end(), data.begin(), data.end());
    for (const RawEntry& entry : entries) {
        unsigned char record[20] = {};
        WriteLittleEndian32(record, entry.key);
        WriteLittleEndian32(record + 4, entry.resident);
        WriteLittleEndian32(record + 8, entry.offset);
        WriteLittleEndian32(record + 12, entry.size);
        image.insert(image.end(), record, record + 20);
    }
    return image;
}

class MalformedPackageTest : public ::testing::TestWithParam<bool> {
protected:
    // Writes the image and opens it in the mode of the parameter.
    SPackage* Open(const char* tag, const Bytes& image) {
        m_root = m_scratch.Add(OrvexTest::UniqueName(tag));
        const std::wstring path = m_scratch.Add(m_root + L".pkg");
        OrvexTest::WriteRawFile(path, image);
        return OpenPackage(path.c_str(), nullptr, 0, GetParam());
    }
    Bytes Read(const wchar_t* inner, bool* found) {
        return OrvexTest::ReadPackaged(m_root + L"/" + inner, true, found);
    }

private:
    OrvexTest::ScratchPaths m_scratch;
    std::wstring m_root;
};

TEST_P(MalformedPackageTest, HeadersAndIndexesThatLieFailTheOpen) {
    Bytes shortHeader = RawPackage(0, 16, {}, {});
    shortHeader.resize(15);
    EXPECT_EQ(Open("short", shortHeader), nullptr);
    EXPECT_EQ(Open("empty", Bytes()), nullptr);
    // Three entries announced, two present.
    const Bytes data(8, 1);
    Bytes truncated =
        RawPackage(3, 24, data, {{EntryKey(L"a"), 1, 16, 8}, {EntryKey(L"b"), 1, 16, 8}});
    EXPECT_EQ(Open("truncated", truncated), nullptr);
    truncated.resize(truncated.size() + 19);
    EXPECT_EQ(Open("truncated19", truncated), nullptr);
    // Counts whose index cannot be held, or overflow 32 bits when multiplied.
    for (std::uint32_t count : {0xFFFFFFFFu, 0xCCCCCCCDu, 0x6666667u, 0x0CCCCCCDu}) {
        EXPECT_EQ(Open("count", RawPackage(count, 16, {}, {})), nullptr) << count;
    }
    // An index offset beyond the end, or one that wraps with the index size.
    EXPECT_EQ(Open("offset", RawPackage(1, 1000, {}, {{1, 0, 0, 0}})), nullptr);
    EXPECT_EQ(Open("wrap", RawPackage(1, 0xFFFFFFF0u, {}, {{1, 0, 0, 0}})), nullptr);
    // A count of zero with an index exactly at the end is a valid, empty package.
    EXPECT_NE(Open("zero", RawPackage(0, 16, {}, {})), nullptr);
}

TEST_P(MalformedPackageTest, EntriesPastTheEndReadShortAndResidentPartsAreCut) {
    Bytes data(64);
    for (std::size_t i = 0; i < data.size(); ++i) {
        data[i] = static_cast<unsigned char>(i + 1);
    }
    const std::uint32_t indexOffset = 16 + 64;
    SPackage* package = Open("entries", RawPackage(5, indexOffset, data,
                                                   {{EntryKey(L"beyond"), 50, 0x7FFFFF00u, 100},
                                                    {EntryKey(L"tail"), 100, 16 + 60, 200},
                                                    {EntryKey(L"wide"), 10, 0xFFFFFFF0u, 0xFFFFu},
                                                    {EntryKey(L"resident"), 500, 16, 20},
                                                    {EntryKey(L"fine"), 8, 16 + 8, 16}}));
    ASSERT_NE(package, nullptr);
    bool found = false;
    EXPECT_EQ(Read(L"beyond", &found), Bytes(100, 0));
    EXPECT_TRUE(found);
    const Bytes tail = Read(L"tail", &found);
    ASSERT_EQ(tail.size(), 200u);
    // Four data bytes, then the index (20-byte records) as far as the file goes.
    EXPECT_EQ(Bytes(tail.begin(), tail.begin() + 4), (Bytes{61, 62, 63, 64}));
    EXPECT_EQ(Bytes(tail.begin() + 4 + 100, tail.end()), Bytes(96, 0));
    EXPECT_EQ(Read(L"wide", &found), Bytes(0xFFFF, 0));
    // The resident size above the size is cut to the size.
    ASSERT_NE(package->index.Find(EntryKey(L"resident")), nullptr);
    EXPECT_EQ(package->index.Find(EntryKey(L"resident"))->residentSize, 20u);
    EXPECT_EQ(Read(L"resident", &found), Bytes(data.begin(), data.begin() + 20));
    EXPECT_EQ(Read(L"fine", &found), Bytes(data.begin() + 8, data.begin() + 24));
    // And the same after switching modes.
    ASSERT_TRUE(SwitchMapped(*package, !package->mapped));
    EXPECT_EQ(Read(L"fine", &found), Bytes(data.begin() + 8, data.begin() + 24));
    EXPECT_EQ(Read(L"beyond", &found), Bytes(100, 0));
}

TEST_P(MalformedPackageTest, ResidentPartsTooLargeToHoldFailPrivateMode) {
    // Many entries claiming 4 GiB - 1 resident bytes each: no private buffer.
    std::vector<RawEntry> entries;
    for (std::uint32_t i = 0; i < 4; ++i) {
        entries.push_back({i, 0xFFFFFFFFu, 16, 0xFFFFFFFFu});
    }
    SPackage* package = Open("huge", RawPackage(4, 16, {}, entries));
    if (GetParam()) {
        ASSERT_NE(package, nullptr); // mapped mode holds nothing per entry
        EXPECT_FALSE(SwitchMapped(*package, false));
        EXPECT_TRUE(package->mapped);
    } else {
        EXPECT_EQ(package, nullptr);
    }
}

INSTANTIATE_TEST_SUITE_P(Modes, MalformedPackageTest, ::testing::Values(true, false),
                         [](const ::testing::TestParamInfo<bool>& info) {
                             return info.param ? "Mapped" : "Private";
                         });

} // namespace
