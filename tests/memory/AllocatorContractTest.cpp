#include "OrvexCommon/memory/OrvexMemory.h"
#include "OrvexCommon/memory/detail/AllocatorManager.h"
#include "OrvexCommon/memory/detail/ThreadCache.h"
#include "SpanAccounting.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <vector>

namespace {

using Orvex::detail::AllocatorManager;
using Orvex::detail::SPoolClass;

std::uint16_t HeaderWord(const void* block, int word) {
    std::uint16_t value;
    std::memcpy(&value, static_cast<const unsigned char*>(block) - 4 + 2 * word, 2);
    return value;
}

const SPoolClass& Pool(unsigned index) {
    return AllocatorManager().pools[index];
}

// Units of the class waiting in this thread's cache.
unsigned CachedUnits(unsigned index) {
    const Orvex::detail::SThreadCache* cache =
        Orvex::detail::CurrentThreadCache(AllocatorManager());
    return cache == nullptr ? 0 : cache->bins[index].count.get();
}

// Free units of the class: in its pages' free lists or in this thread's cache
// (the only thread of these tests that allocates).
unsigned FreeUnits(unsigned index) {
    return Pool(index).freeUnits.get() + CachedUnits(index);
}

// Bytes of the class handed out and not released, as this thread sees them.
std::uint64_t HandedOut(unsigned index) {
    auto& state = AllocatorManager();
    const Orvex::detail::SThreadCache* cache = Orvex::detail::CurrentThreadCache(state);
    return state.counters[index].get() + state.retired[index].get() +
           (cache == nullptr ? 0 : Orvex::detail::CacheHandedOut(*cache, index));
}

// Class 0 is used by no other test of this executable for longer than a few
// blocks at a time, so this test finds it as the manager built it: one page,
// all free.
TEST(AllocatorContract, AClassKeepsTwoPagesWorthOfFreeUnits) {
    const SPoolClass& pool = Pool(0);
    ASSERT_EQ(1u, pool.pageCount.get());
    ASSERT_EQ(1023u, FreeUnits(0));

    std::vector<void*> blocks;
    for (int k = 0; k < 1024; ++k) {
        blocks.push_back(OrvexAlloc(4));
    }
    EXPECT_EQ(2u, pool.pageCount.get()) << "the 1024th block takes a second page";
    for (void* block : blocks) {
        OrvexFree(block);
    }
    EXPECT_EQ(2u, pool.pageCount.get()) << "2046 free units is not above 2 x 1023";
    EXPECT_EQ(2046u, FreeUnits(0));

    // A third page: once more than 2046 units are free, an empty page goes.
    blocks.clear();
    for (int k = 0; k < 2047; ++k) {
        blocks.push_back(OrvexAlloc(1));
    }
    EXPECT_EQ(3u, pool.pageCount.get());
    const unsigned reserveBefore = AllocatorManager().freePageCount.get();
    for (void* block : blocks) {
        OrvexFree(block);
    }
    EXPECT_EQ(2u, pool.pageCount.get());
    EXPECT_EQ(2046u, FreeUnits(0));
    EXPECT_EQ(reserveBefore + 1, AllocatorManager().freePageCount.get());
}

TEST(AllocatorContract, SizesPickTheirClassAndCountTheirUnit) {
    struct Case {
        unsigned size;
        long long counted;
        int classIndex; // -1: large block
    } cases[] = {{0, 8, 0},   {4, 8, 0},         {5, 16, 1},       {12, 16, 1},
                 {13, 24, 2}, {1036, 1040, 129}, {1037, 1041, -1}, {100000, 100004, -1}};
    for (const Case& c : cases) {
        const long long before = GetTotalAllocSize();
        void* block = OrvexAlloc(c.size);
        ASSERT_NE(nullptr, block) << c.size;
        EXPECT_EQ(c.counted, GetTotalAllocSize() - before) << c.size;
        if (c.classIndex >= 0) {
            EXPECT_EQ(c.classIndex, HeaderWord(block, 0)) << c.size;
            EXPECT_EQ(0x8000, HeaderWord(block, 1)) << c.size;
        } else {
            std::uint32_t total;
            std::memcpy(&total, static_cast<unsigned char*>(block) - 4, 4);
            EXPECT_EQ(c.size + 4u, total);
            EXPECT_EQ(0, HeaderWord(block, 1) & 0x8000);
        }
        std::memset(block, 0xAB, c.size); // the whole request is usable
        OrvexFree(block);
        EXPECT_EQ(before, GetTotalAllocSize()) << c.size;
    }
}

TEST(AllocatorContract, PerClassAndLargeCounters) {
    const unsigned kLarge = Orvex::detail::kLargeCounter;
    const std::uint64_t class5 = HandedOut(5);
    const std::uint64_t large = HandedOut(kLarge);
    void* a = OrvexAlloc(44); // 48-byte units: class 5
    void* b = OrvexAlloc(41);
    void* c = OrvexAlloc(2000);
    EXPECT_EQ(class5 + 96, HandedOut(5));
    EXPECT_EQ(large + 2004, HandedOut(kLarge));
    OrvexFree(a);
    OrvexFree(c);
    EXPECT_EQ(class5 + 48, HandedOut(5));
    EXPECT_EQ(large, HandedOut(kLarge));
    OrvexFree(b);
    EXPECT_EQ(class5, HandedOut(5));
}

TEST(AllocatorContract, UnitsOfAFreshPageComeFromItsTopDown) {
    // Use up class 90's free units (this thread's cached ones too) so that the
    // next request opens a new page.
    const unsigned index = 90;
    const unsigned size = 8 * (index + 1) - 4;
    std::vector<void*> blocks;
    while (FreeUnits(index) != 0) {
        blocks.push_back(OrvexAlloc(size));
    }
    unsigned char* first = static_cast<unsigned char*>(OrvexAlloc(size));
    unsigned char* second = static_cast<unsigned char*>(OrvexAlloc(size));
    EXPECT_EQ(first - 8 * (index + 1), second);
    // The first unit handed out is the page's last one.
    const std::uintptr_t page = reinterpret_cast<std::uintptr_t>(first) & ~std::uintptr_t(8191);
    const unsigned units = Pool(index).unitsPerPage;
    EXPECT_EQ(page + 4 + (units - 1) * 8 * (index + 1) + 4,
              reinterpret_cast<std::uintptr_t>(first));
    blocks.push_back(first);
    blocks.push_back(second);
    for (void* block : blocks) {
        OrvexFree(block);
    }
}

TEST(AllocatorContract, EveryAddressIsEightByteAligned) {
    std::vector<void*> blocks;
    for (unsigned size = 0; size <= 5000; size += 3) {
        void* block = OrvexAlloc(size);
        ASSERT_EQ(0u, reinterpret_cast<std::uintptr_t>(block) % 8) << size;
        blocks.push_back(block);
    }
    for (void* block : blocks) {
        OrvexFree(block);
    }
}

TEST(AllocatorContract, RefusedAndRepeatedAndForeignReleases) {
    const long long before = GetTotalAllocSize();
    EXPECT_EQ(nullptr, OrvexAlloc(0x7FFFFFFBu));
    EXPECT_EQ(nullptr, OrvexAlloc(0xFFFFFFFFu));
    EXPECT_EQ(before, GetTotalAllocSize());
    OrvexFree(nullptr);

    void* block = OrvexAlloc(20);
    EXPECT_EQ(before + 24, GetTotalAllocSize());
    OrvexFree(block);
    EXPECT_EQ(0xFFFF, HeaderWord(block, 1));
    OrvexFree(block); // a second release changes nothing
    EXPECT_EQ(before, GetTotalAllocSize());

    // Headers that name no class, or carry another marker, are ignored.
    alignas(8) unsigned char foreign[32] = {};
    const std::uint16_t badClass[2] = {130, 0x8000};
    std::memcpy(foreign + 4, badClass, 4);
    OrvexFree(foreign + 8);
    const std::uint16_t badMarker[2] = {0, 0x8001};
    std::memcpy(foreign + 4, badMarker, 4);
    OrvexFree(foreign + 8);
    EXPECT_EQ(before, GetTotalAllocSize());

    // A plausible header on memory in no page of its class is dropped: only
    // its marker and its class counter change; no page takes it. The anchor
    // block stays allocated to balance the counter the drop lowers.
    void* anchor = OrvexAlloc(20); // class 2
    const unsigned pagesBefore = Pool(2).pageCount.get();
    const unsigned freeBefore = Pool(2).freeUnits.get();
    const std::uint16_t plausible[2] = {2, 0x8000};
    std::memcpy(foreign + 4, plausible, 4);
    OrvexFree(foreign + 8);
    EXPECT_EQ(0xFFFF, HeaderWord(foreign + 8, 1));
    EXPECT_EQ(pagesBefore, Pool(2).pageCount.get());
    EXPECT_EQ(freeBefore, Pool(2).freeUnits.get());
    EXPECT_EQ(before, GetTotalAllocSize()) << "the dropped block lowered class 2's counter";
    EXPECT_NE(nullptr, anchor);
}

TEST(AllocatorContract, AnAddressInsideAPageButOffTheUnitsIsDropped) {
    // A block of class 1 whose header is moved by 8 bytes lies inside a class-1
    // page but off a unit boundary (units are 16 bytes): dropped, no corruption.
    // Anchors stay allocated to balance the class counters the drops lower.
    void* anchors[2] = {OrvexAlloc(12), OrvexAlloc(28)}; // classes 1 and 3
    const long long before = GetTotalAllocSize();
    unsigned char* block = static_cast<unsigned char*>(OrvexAlloc(12));
    const std::uint16_t header[2] = {1, 0x8000};
    std::memcpy(block + 4, header, 4);
    const unsigned freeBefore = Pool(1).freeUnits.get();
    OrvexFree(block + 8);
    EXPECT_EQ(freeBefore, Pool(1).freeUnits.get());
    // Class 3's header pointing into a class-1 page lies in no class-3 page.
    const std::uint16_t wrongClass[2] = {3, 0x8000};
    std::memcpy(block + 4, wrongClass, 4);
    const unsigned class3Free = Pool(3).freeUnits.get();
    OrvexFree(block + 8);
    EXPECT_EQ(class3Free, Pool(3).freeUnits.get());
    OrvexFree(block);                                 // the real block is still released normally
    EXPECT_EQ(before - 16 - 32, GetTotalAllocSize()); // the two drops lowered classes 1 and 3
    EXPECT_NE(nullptr, anchors[0]);
    EXPECT_NE(nullptr, anchors[1]);
}

// A released unit whose header is written over with a live header (a write
// after release) is still known free: releasing it again changes nothing,
// and it is handed out once, not twice.
TEST(AllocatorContract, AReleasedUnitWithALiveHeaderIsNotReleasedTwice) {
    for (unsigned size : {20u, 1000u}) {
        void* anchor = OrvexAlloc(size);
        const long long before = GetTotalAllocSize();
        void* block = OrvexAlloc(size);
        OrvexFree(block);
        const std::uint16_t live[2] = {HeaderWord(anchor, 0), 0x8000};
        std::memcpy(static_cast<unsigned char*>(block) - 4, live, 4);
        OrvexFree(block);
        EXPECT_EQ(before, GetTotalAllocSize()) << size;
        void* first = OrvexAlloc(size);
        void* second = OrvexAlloc(size);
        EXPECT_NE(first, second) << size;
        OrvexFree(first);
        OrvexFree(second);
        OrvexFree(anchor);
    }
}

TEST(AllocatorContract, StatisticsFollowPagesAndUnits) {
    const long long managed = GetTotalMgrSize();
    const long long free = GetFreeMgrSize();
    void* block = OrvexAlloc(500); // 504-byte units: class 62
    EXPECT_EQ(managed, GetTotalMgrSize());
    EXPECT_EQ(free - 504, GetFreeMgrSize());
    OrvexFree(block);
    EXPECT_EQ(free, GetFreeMgrSize());
    void* stack = nullptr;
    unsigned depth = 7;
    EXPECT_FALSE(GetAllocStack(0, stack, depth));
    EXPECT_EQ(nullptr, stack);
    EXPECT_EQ(7u, depth);
}

// The areas large blocks are given, against a plain model: the smallest of
// the 24 bin areas (four per power of two from 1280 to 65536 bytes) that
// holds the area, and above them the area itself.
TEST(AllocatorContract, LargeAreasRoundUpToTheSmallestBinThatHoldsThem) {
    using namespace Orvex::detail;
    std::vector<std::uint32_t> binAreas;
    for (unsigned power = 10; power < 16; ++power) {
        for (std::uint32_t quarters = 5; quarters <= 8; ++quarters) {
            binAreas.push_back(quarters << (power - 2));
        }
    }
    ASSERT_EQ(kLargeBinCount, binAreas.size());
    std::uint64_t keptAtMost = 0;
    for (unsigned bin = 0; bin < kLargeBinCount; ++bin) {
        ASSERT_EQ(binAreas[bin], LargeBinArea(bin));
        keptAtMost += std::uint64_t(LargeBinCapacity(bin)) * binAreas[bin];
    }
    EXPECT_EQ(1477632u, keptAtMost) << "the bound the documentation gives";
    // Every area a block above the largest unit can have (header and slack
    // included), and then some beyond the bins.
    unsigned model = 0;
    for (std::uint32_t area = 1025; area <= 70000; ++area) {
        while (model < binAreas.size() && binAreas[model] < area) {
            ++model;
        }
        const std::uint32_t rounded = RoundedLargeArea(area);
        if (model == binAreas.size()) {
            ASSERT_EQ(area, rounded);
            continue;
        }
        ASSERT_EQ(binAreas[model], rounded) << area;
        ASSERT_EQ(model, LargeBinOf(rounded)) << area;
    }
    // Sizes read from foreign headers stay as they are.
    for (const std::uint32_t area : {0u, 4u, 9u, 1024u, 0x7FFFFFFFu}) {
        EXPECT_EQ(area, RoundedLargeArea(area));
    }
}

unsigned KeptLarge(unsigned bin) {
    const Orvex::detail::SThreadCache* cache =
        Orvex::detail::CurrentThreadCache(AllocatorManager());
    return cache == nullptr ? 0 : cache->largeBins[bin].count;
}

// A released large block is kept by the thread and serves the next request of
// its bin, the whole request; a bin keeps no more than its share, and more
// than half of it once full.
TEST(AllocatorContract, ReleasedLargeBlocksServeTheirBinAgain) {
    constexpr unsigned kBin = 5; // 3072-byte areas: requests of 2553 to 3064 bytes
    ASSERT_EQ(3072u, Orvex::detail::LargeBinArea(kBin));
    void* first = OrvexAlloc(3000);
    ASSERT_NE(nullptr, first);
    OrvexFree(first);
    const long long before = GetTotalAllocSize();
    void* again = OrvexAlloc(3064);
    EXPECT_EQ(first, again);
    EXPECT_EQ(before + 3068, GetTotalAllocSize());
    std::memset(again, 0xCD, 3064); // ASan: the kept area holds all of it
    void* next = OrvexAlloc(3065);  // the next bin
    EXPECT_NE(again, next);
    OrvexFree(next);
    OrvexFree(again);
    EXPECT_EQ(before, GetTotalAllocSize());

    std::vector<void*> blocks;
    for (unsigned k = 0; k < 2 * Orvex::detail::kMaxKeptLarge; ++k) {
        blocks.push_back(OrvexAlloc(2600));
    }
    for (void* block : blocks) {
        OrvexFree(block);
    }
    // A full bin gives its older half back to the spans at once.
    EXPECT_GE(Orvex::detail::LargeBinCapacity(kBin), KeptLarge(kBin));
    EXPECT_LT(Orvex::detail::LargeBinCapacity(kBin) / 2, KeptLarge(kBin));
    EXPECT_EQ(before, GetTotalAllocSize());
}

} // namespace

namespace {

using Orvex::detail::kNoArea;
using Orvex::detail::SLargeSpan;

// The span holding the block at `block`, or null.
const SLargeSpan* SpanOf(const void* block, unsigned& number) {
    unsigned bin;
    return Orvex::detail::SpanOfHeader(static_cast<const unsigned char*>(block) - 4, number, bin);
}

// Large blocks up to 64 KiB come from spans, above from the heap; each keeps
// its size header and exact count. A repeated release, or one of an address
// inside a block, changes nothing and never hands an area out twice.
TEST(AllocatorContract, LargeBlocksComeFromSpansAndTheirReleasesAreExact) {
    struct SCase {
        unsigned size;
        bool inSpan;
    };
    const SCase cases[] = {{1037, true},  {1272, true},   {3000, true},   {20000, true},
                           {65528, true}, {65529, false}, {200000, false}};
    for (const SCase& c : cases) {
        const long long before = GetTotalAllocSize();
        auto* block = static_cast<unsigned char*>(OrvexAlloc(c.size));
        ASSERT_NE(nullptr, block);
        std::uint32_t header;
        std::memcpy(&header, block - 4, 4);
        EXPECT_EQ(c.size + 4, header);
        EXPECT_EQ(before + c.size + 4, GetTotalAllocSize()) << c.size;
        std::memset(block, 0x5A, c.size);
        unsigned number;
        EXPECT_EQ(c.inSpan, SpanOf(block, number) != nullptr) << c.size;
        if (c.inSpan) {
            OrvexFree(block + 64); // inside the block: ignored
            EXPECT_EQ(before + c.size + 4, GetTotalAllocSize()) << c.size;
        }
        OrvexFree(block);
        EXPECT_EQ(before, GetTotalAllocSize()) << c.size;
        if (!c.inSpan) {
            continue;
        }
        OrvexFree(block);
        EXPECT_EQ(before, GetTotalAllocSize()) << c.size;
        void* first = OrvexAlloc(c.size);
        void* second = OrvexAlloc(c.size);
        EXPECT_NE(first, second) << c.size;
        OrvexFree(first);
        OrvexFree(second);
        EXPECT_EQ(before, GetTotalAllocSize()) << c.size;
    }
}

unsigned SpareSpans() {
    unsigned spare = 0;
    for (const SLargeSpan* span = AllocatorManager().spareSpans; span != nullptr;
         span = span->next) {
        EXPECT_TRUE(span->purged);
        ++spare;
    }
    return spare;
}

// Allocates `count` blocks of `size` (40 000 bytes: one a span), writes
// `written` bytes of each, checks them and releases them all.
void TakeAndRelease(unsigned count, unsigned size, unsigned written) {
    std::vector<unsigned char*> blocks;
    for (unsigned k = 0; k < count; ++k) {
        blocks.push_back(static_cast<unsigned char*>(OrvexAlloc(size)));
        ASSERT_NE(nullptr, blocks.back());
        std::memset(blocks.back(), static_cast<int>(k), written);
    }
    for (unsigned k = 0; k < count; ++k) {
        ASSERT_EQ(static_cast<unsigned char>(k), blocks[k][written - 1]);
        OrvexFree(blocks[k]);
    }
}

// Spans emptied beyond one per bin stay resident for a while, up to a bound;
// then the oldest are purged. Purged ones serve new blocks, every byte usable.
TEST(AllocatorContract, EmptiedSpansArePurgedAfterADelayOrPastTheirBound) {
    using Orvex::detail::kKeptFreeSpans;
    using Orvex::detail::kMaxFreeSpans;
    constexpr unsigned kSize = 40000;
    const auto& state = AllocatorManager();
    // A burst: kept (but the thread's 2 areas and the bin's one span).
    const unsigned spareBefore = SpareSpans();
    TakeAndRelease(kKeptFreeSpans + 32, kSize, kSize);
    EXPECT_LE(kKeptFreeSpans + 29, state.freeSpanCount.get());
    EXPECT_EQ(spareBefore, SpareSpans());
    // A second later the next span that empties purges all but 64.
    Orvex::sys::SleepMilliseconds(static_cast<unsigned>(Orvex::detail::kPurgeDelayMilliseconds) +
                                  50);
    TakeAndRelease(8, kSize, kSize);
    EXPECT_EQ(kKeptFreeSpans, state.freeSpanCount.get());
    EXPECT_LE(spareBefore + 29, SpareSpans());
    EXPECT_EQ(0, UnaccountedAreas());
    EXPECT_EQ(0u, LostSpans());
    // A burst past the bound purges at once; purged spans serve again.
    TakeAndRelease(kMaxFreeSpans + 64, kSize, 64);
    EXPECT_EQ(kMaxFreeSpans, state.freeSpanCount.get());
    TakeAndRelease(kMaxFreeSpans + 64, kSize, kSize);
    EXPECT_EQ(0, UnaccountedAreas());
    EXPECT_EQ(0u, LostSpans());
}

} // namespace
