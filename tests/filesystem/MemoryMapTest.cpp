// Mapping one file: how the size is settled, what happens to the file, and
// how views are recorded and given back.
#include "MapTestFiles.h"

#include "OrvexCommon/filesystem/OrvexFilesystem.h"

#include <gtest/gtest.h>

namespace {

using namespace OrvexTest;
using Orvex::OrvexMemoryMap;
using Orvex::OrvexMemoryMapSyn;
using Orvex::OrvexMemoryUnMap;

class MemoryMap : public MapFolder {};

TEST_F(MemoryMap, SizeZeroMapsTheWholeExistingFile) {
    const Bytes content = Pattern(100);
    WriteBytes(Path("whole.bin"), content);
    unsigned size = 0;
    void* view = OrvexMemoryMap(Wide("whole.bin").c_str(), size, true);
    ASSERT_NE(nullptr, view);
    EXPECT_EQ(100u, size);
    EXPECT_EQ(content, ViewBytes(view, 100));
    OrvexMemoryUnMap(view);
    EXPECT_EQ(content, ReadBytes(Path("whole.bin")));
}

TEST_F(MemoryMap, SizeZeroOfAMissingOrEmptyFileGivesNothing) {
    unsigned size = 0;
    EXPECT_EQ(nullptr, OrvexMemoryMap(Wide("missing.bin").c_str(), size, true));
    EXPECT_EQ(nullptr, OrvexMemoryMap(Wide("missing.bin").c_str(), size, false));
    EXPECT_EQ(0u, size);
    EXPECT_FALSE(fs::exists(Path("missing.bin"))) << "a request for no size must create nothing";

    WriteBytes(Path("empty.bin"), Bytes());
    EXPECT_EQ(nullptr, OrvexMemoryMap(Wide("empty.bin").c_str(), size, false));
    EXPECT_EQ(0u, size);
    EXPECT_EQ(0u, fs::file_size(Path("empty.bin")));

    EXPECT_EQ(nullptr, OrvexMemoryMap(nullptr, size, true));
}

TEST_F(MemoryMap, MissingFileIsCreatedWithZerosOfTheRequestedSize) {
    unsigned size = 4096;
    void* view = OrvexMemoryMap(Wide("fresh.bin").c_str(), size, true);
    ASSERT_NE(nullptr, view);
    EXPECT_EQ(4096u, size);
    EXPECT_EQ(Bytes(4096, 0), ViewBytes(view, 4096));
    OrvexMemoryUnMap(view);
    EXPECT_EQ(Bytes(4096, 0), ReadBytes(Path("fresh.bin")));
}

TEST_F(MemoryMap, ShorterFileGrowsKeepingItsBytes) {
    const Bytes content = Pattern(10);
    WriteBytes(Path("short.bin"), content);
    unsigned size = 5000;
    void* view = OrvexMemoryMap(Wide("short.bin").c_str(), size, false);
    ASSERT_NE(nullptr, view);
    EXPECT_EQ(5000u, size);
    Bytes expected = content;
    expected.resize(5000, 0);
    EXPECT_EQ(expected, ViewBytes(view, 5000));
    OrvexMemoryUnMap(view);
    EXPECT_EQ(expected, ReadBytes(Path("short.bin")));
}

TEST_F(MemoryMap, SmallerSizeMapsThePrefixAndLeavesTheFileAlone) {
    const Bytes content = Pattern(100, 3);
    WriteBytes(Path("long.bin"), content);
    unsigned size = 50;
    void* view = OrvexMemoryMap(Wide("long.bin").c_str(), size, false);
    ASSERT_NE(nullptr, view);
    EXPECT_EQ(50u, size);
    EXPECT_EQ(Bytes(content.begin(), content.begin() + 50), ViewBytes(view, 50));
    OrvexMemoryUnMap(view);
    EXPECT_EQ(content, ReadBytes(Path("long.bin")));
}

TEST_F(MemoryMap, EveryViewHasItsOwnEntryUntilGivenBack) {
    WriteBytes(Path("a.bin"), Pattern(64));
    WriteBytes(Path("b.bin"), Pattern(64, 2));
    unsigned sizeA1 = 0, sizeA2 = 0, sizeB = 0;
    void* a1 = OrvexMemoryMap(Wide("a.bin").c_str(), sizeA1, true);
    void* a2 = OrvexMemoryMap(Wide("a.bin").c_str(), sizeA2, true);
    void* b = OrvexMemoryMap(Wide("b.bin").c_str(), sizeB, false);
    ASSERT_NE(nullptr, a1);
    ASSERT_NE(nullptr, a2);
    ASSERT_NE(nullptr, b);
    EXPECT_NE(a1, a2) << "each call gives a view of its own";
    EXPECT_EQ(m_startViews + 3, LiveViews());

    OrvexMemoryUnMap(a1);
    EXPECT_EQ(m_startViews + 2, LiveViews());
    EXPECT_EQ(Pattern(64), ViewBytes(a2, 64)) << "the other view of the file stays mapped";
    OrvexMemoryUnMap(b);
    OrvexMemoryUnMap(a2);
    EXPECT_EQ(m_startViews, LiveViews());
}

TEST_F(MemoryMap, UnknownAndRepeatedUnmapsAreIgnored) {
    WriteBytes(Path("once.bin"), Pattern(32));
    unsigned size = 0;
    void* view = OrvexMemoryMap(Wide("once.bin").c_str(), size, true);
    ASSERT_NE(nullptr, view);

    int local = 0;
    OrvexMemoryUnMap(nullptr);
    OrvexMemoryUnMap(&local);
    OrvexMemoryUnMap(static_cast<unsigned char*>(view) + 1); // inside a view, not its address
    EXPECT_EQ(m_startViews + 1, LiveViews());
    EXPECT_EQ(Pattern(32), ViewBytes(view, 32)) << "the view must still be mapped";

    OrvexMemoryUnMap(view);
    OrvexMemoryUnMap(view);
    EXPECT_EQ(m_startViews, LiveViews());
}

TEST_F(MemoryMap, SynchronisingChangesNothing) {
    WriteBytes(Path("syn.bin"), Pattern(40));
    unsigned size = 0;
    void* view = OrvexMemoryMap(Wide("syn.bin").c_str(), size, false);
    ASSERT_NE(nullptr, view);
    static_cast<unsigned char*>(view)[0] = 0;
    OrvexMemoryMapSyn(view, size, true);
    OrvexMemoryMapSyn(view, size, false);
    OrvexMemoryMapSyn(nullptr, 0, true);
    EXPECT_EQ(m_startViews + 1, LiveViews());
    Bytes expected = Pattern(40);
    expected[0] = 0;
    EXPECT_EQ(expected, ViewBytes(view, 40));
    OrvexMemoryUnMap(view);
}

} // namespace
