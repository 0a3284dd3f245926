#include "OrvexCommon/memory/OrvexMemory.h"
#include "OrvexCommon/memory/detail/ThreadCache.h"
#include "OrvexCommon/platform/OrvexSys.h"
#include "SpanAccounting.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstring>
#include <memory>
#include <random>
#include <vector>

namespace {

// Blocks handed from one thread to the other for release there.
struct SHandOver {
    static constexpr unsigned kSlots = 1024;
    std::atomic<void*> slots[kSlots] = {};
};

struct SWorker {
    unsigned seed;
    SHandOver* outbox; // this worker fills it
    SHandOver* inbox;  // the other worker fills it, this one releases
    std::atomic<unsigned> errors{0};
    unsigned operations = ORVEX_STRESS_OPERATIONS;
};

// A block carries its size and a pattern derived from its address.
void Fill(unsigned char* block, unsigned size) {
    for (unsigned k = 0; k < size; ++k) {
        block[k] = static_cast<unsigned char>((reinterpret_cast<std::uintptr_t>(block) >> 3) + k);
    }
}

bool Intact(const unsigned char* block, unsigned size) {
    for (unsigned k = 0; k < size; ++k) {
        if (block[k] !=
            static_cast<unsigned char>((reinterpret_cast<std::uintptr_t>(block) >> 3) + k)) {
            return false;
        }
    }
    return true;
}

struct SLive {
    unsigned char* block;
    unsigned size;
};

void ReleaseChecked(SWorker& worker, SLive live) {
    if (!Intact(live.block, live.size)) {
        worker.errors.fetch_add(1);
    }
    OrvexFree(live.block);
}

unsigned ORVEX_THREAD_CALL Churn(void* context) {
    SWorker& worker = *static_cast<SWorker*>(context);
    std::mt19937 random(worker.seed);
    std::vector<SLive> live(4096, SLive{nullptr, 0});
    for (unsigned op = 0; op < worker.operations; ++op) {
        SLive& slot = live[random() % live.size()];
        if (slot.block != nullptr) {
            ReleaseChecked(worker, slot);
            slot.block = nullptr;
            continue;
        }
        // Class 0 (up to 4 bytes) is left to the contract test that counts
        // its pages: a worker's refills keep to pages of their own, so one
        // taking class 0 would leave it a second page.
        const unsigned size = 5 + random() % 3996;
        unsigned char* block = static_cast<unsigned char*>(OrvexAlloc(size));
        if (block == nullptr || reinterpret_cast<std::uintptr_t>(block) % 8 != 0) {
            worker.errors.fetch_add(1);
            continue;
        }
        Fill(block, size);
        // Now and then the other thread releases it; it carries its size in
        // its first bytes for that.
        if (size >= 8 && random() % 8 == 0) {
            std::memcpy(block, &size, sizeof(size));
            void* expected = nullptr;
            if (worker.outbox->slots[random() % SHandOver::kSlots].compare_exchange_strong(expected,
                                                                                           block)) {
                continue;
            }
            Fill(block, size);
        }
        slot = SLive{block, size};
        // Release what the other thread handed over.
        void* handed = worker.inbox->slots[random() % SHandOver::kSlots].exchange(nullptr);
        if (handed != nullptr) {
            OrvexFree(handed);
        }
    }
    for (const SLive& left : live) {
        if (left.block != nullptr) {
            ReleaseChecked(worker, left);
        }
    }
    return 0;
}

// Free bytes the pools' books do not explain: the pool bytes handed out, seen
// from the other side. A unit lost between a cache and a pool changes it.
long long UnexplainedBytes() {
    const auto& state = Orvex::detail::AllocatorManager();
    return GetTotalMgrSize() + 8192LL * state.freePageCount.get() - GetFreeMgrSize();
}

unsigned LiveCaches() {
    auto& state = Orvex::detail::AllocatorManager();
    Orvex::sys::ScopedShortLock hold(state.cacheLock);
    unsigned count = 0;
    for (auto* cache = state.caches; cache != nullptr; cache = cache->next) {
        ++count;
    }
    return count;
}

// `threads` workers in a ring, each handing blocks to the next for release.
void RunRing(unsigned threads) {
    OrvexFree(OrvexAlloc(8)); // this thread's cache, made before counting
    const long long allocatedBefore = GetTotalAllocSize();
    const long long unexplainedBefore = UnexplainedBytes();
    const unsigned cachesBefore = LiveCaches();
    std::vector<std::unique_ptr<SHandOver>> boxes;
    std::vector<std::unique_ptr<SWorker>> workers;
    for (unsigned k = 0; k < threads; ++k) {
        boxes.push_back(std::make_unique<SHandOver>());
    }
    for (unsigned k = 0; k < threads; ++k) {
        workers.push_back(std::unique_ptr<SWorker>(
            new SWorker{k + 1, boxes[k].get(), boxes[(k + threads - 1) % threads].get(), {}}));
        // The same work in all, shared out.
        workers.back()->operations = 2 * ORVEX_STRESS_OPERATIONS / threads;
    }
    std::vector<Orvex::sys::Thread*> running;
    for (auto& worker : workers) {
        running.push_back(Orvex::sys::StartThread(Churn, worker.get(), 0));
        ASSERT_NE(nullptr, running.back());
    }
    for (Orvex::sys::Thread* thread : running) {
        EXPECT_EQ(Orvex::sys::JoinResult::Joined, Orvex::sys::JoinThread(thread, nullptr));
    }
    for (auto& box : boxes) {
        for (auto& slot : box->slots) {
            OrvexFree(slot.exchange(nullptr));
        }
    }
    for (auto& worker : workers) {
        EXPECT_EQ(0u, worker->errors.load()) << "damaged or misaligned blocks";
    }
    EXPECT_EQ(allocatedBefore, GetTotalAllocSize());
    // The ended threads' caches went back to the pools whole.
    EXPECT_EQ(cachesBefore, LiveCaches());
    EXPECT_EQ(unexplainedBefore, UnexplainedBytes()) << "a unit was lost or counted twice";
    // Every class still has at least one page and the books balance.
    EXPECT_GE(GetTotalMgrSize(), 130 * 8192);
    EXPECT_GE(GetFreeMgrSize(), 0);
}

TEST(AllocatorStress, TwoThreadsWithCrossThreadReleasesLeaveTheCountersAsTheyWere) {
    RunRing(2);
}

TEST(AllocatorStress, EightThreadsInARingLoseNoUnit) {
    RunRing(8);
}

// Every thread puts blocks on one shared board and releases what it takes
// from it, so blocks cross between all threads in every direction; one size
// in sixteen is large (above the largest unit, some above the largest
// area the threads keep), and a pooled or span block is now and then released
// twice at once, which must change nothing.
struct SBoard {
    static constexpr unsigned kSlots = 4096;
    std::atomic<void*> slots[kSlots] = {};
};

struct SMeshWorker {
    unsigned seed;
    SBoard* board;
    unsigned operations;
    std::atomic<unsigned> errors{0};
};

unsigned MeshSize(std::mt19937& random) {
    return random() % 16 == 0 ? 1037 + random() % 80000 : random() % 1037;
}

// A board block carries its size in its first bytes, the pattern after them.
void ReleaseFromBoard(SMeshWorker& worker, void* block) {
    unsigned size;
    std::memcpy(&size, block, sizeof(size));
    unsigned char* rest = static_cast<unsigned char*>(block) + sizeof(size);
    if (!Intact(rest, size - static_cast<unsigned>(sizeof(size)))) {
        worker.errors.fetch_add(1);
    }
    OrvexFree(block);
}

unsigned ORVEX_THREAD_CALL Mesh(void* context) {
    SMeshWorker& worker = *static_cast<SMeshWorker*>(context);
    std::mt19937 random(worker.seed);
    for (unsigned op = 0; op < worker.operations; ++op) {
        const unsigned size = std::max(8u, MeshSize(random));
        auto* block = static_cast<unsigned char*>(OrvexAlloc(size));
        if (block == nullptr) {
            worker.errors.fetch_add(1);
            continue;
        }
        std::memcpy(block, &size, sizeof(size));
        Fill(block + sizeof(size), size - static_cast<unsigned>(sizeof(size)));
        void* expected = nullptr;
        if (!worker.board->slots[random() % SBoard::kSlots].compare_exchange_strong(expected,
                                                                                    block)) {
            ReleaseFromBoard(worker, block);
            if (size <= 65528) {
                OrvexFree(block); // twice: ignored, the unit or span area is free already
            }
        }
        if (void* taken = worker.board->slots[random() % SBoard::kSlots].exchange(nullptr)) {
            ReleaseFromBoard(worker, taken);
        }
    }
    return 0;
}

TEST(AllocatorStress, SixThreadsReleasingEachOthersBlocksLoseAndDamageNothing) {
    constexpr unsigned kThreads = 6;
    OrvexFree(OrvexAlloc(8)); // this thread's cache, made before counting
    const long long allocatedBefore = GetTotalAllocSize();
    const long long unexplainedBefore = UnexplainedBytes();
    const unsigned cachesBefore = LiveCaches();
    auto board = std::make_unique<SBoard>();
    std::vector<std::unique_ptr<SMeshWorker>> workers;
    std::vector<Orvex::sys::Thread*> running;
    for (unsigned k = 0; k < kThreads; ++k) {
        workers.push_back(std::unique_ptr<SMeshWorker>(
            new SMeshWorker{100 + k, board.get(), ORVEX_STRESS_OPERATIONS / 60, {}}));
        running.push_back(Orvex::sys::StartThread(Mesh, workers.back().get(), 0));
        ASSERT_NE(nullptr, running.back());
    }
    for (Orvex::sys::Thread* thread : running) {
        EXPECT_EQ(Orvex::sys::JoinResult::Joined, Orvex::sys::JoinThread(thread, nullptr));
    }
    for (auto& slot : board->slots) {
        if (void* left = slot.exchange(nullptr)) {
            ReleaseFromBoard(*workers.front(), left);
        }
    }
    for (auto& worker : workers) {
        EXPECT_EQ(0u, worker->errors.load()) << "damaged blocks";
    }
    EXPECT_EQ(allocatedBefore, GetTotalAllocSize());
    EXPECT_EQ(cachesBefore, LiveCaches());
    EXPECT_EQ(unexplainedBefore, UnexplainedBytes()) << "a unit was lost or counted twice";
    EXPECT_EQ(0, UnaccountedAreas()) << "a large area was lost or is in two places";
    EXPECT_EQ(0u, LostSpans());
}

std::uintptr_t PageOf(const void* block) {
    return reinterpret_cast<std::uintptr_t>(block) / 8192;
}

struct STakeHalf {
    unsigned size;
    std::vector<void*> blocks;
};

unsigned ORVEX_THREAD_CALL TakeBlocks(void* context) {
    auto& take = *static_cast<STakeHalf*>(context);
    for (void*& block : take.blocks) {
        block = OrvexAlloc(take.size);
    }
    return 0;
}

// Two threads taking units of one class while its pages have free units for
// both: each keeps to pages of its own, so no page holds units of both (and
// no line of unit states is written by both).
TEST(AllocatorStress, TwoThreadsTakingOneClassShareNoPage) {
    constexpr unsigned kSize = 20; // 24-byte units, 341 a page, 32 a refill
    // First this thread takes what the class holds free beyond two pages'
    // worth (then a refill would take another thread's page), then more than
    // a bin holds: the last 32 come from its own refills (earlier tests may
    // have left it units of any page).
    const auto& pool = Orvex::detail::AllocatorManager().pools[2];
    STakeHalf mine{kSize, {}};
    while (pool.freeUnits.get() > 2 * pool.unitsPerPage) {
        mine.blocks.push_back(OrvexAlloc(kSize));
    }
    const std::size_t start = mine.blocks.size();
    mine.blocks.resize(start + 100);
    for (std::size_t k = start; k < mine.blocks.size(); ++k) {
        mine.blocks[k] = OrvexAlloc(kSize);
    }
    STakeHalf theirs{kSize, std::vector<void*>(5)};
    Orvex::sys::Thread* other = Orvex::sys::StartThread(TakeBlocks, &theirs, 0);
    ASSERT_NE(nullptr, other);
    ASSERT_EQ(Orvex::sys::JoinResult::Joined, Orvex::sys::JoinThread(other, nullptr));
    for (void* block : theirs.blocks) {
        for (std::size_t k = mine.blocks.size() - 32; k < mine.blocks.size(); ++k) {
            EXPECT_NE(PageOf(mine.blocks[k]), PageOf(block));
        }
        OrvexFree(block);
    }
    for (void* own : mine.blocks) {
        OrvexFree(own);
    }
}

// The units parked in a class's pool, read under its lock.
unsigned ParkedUnits(unsigned index) {
    auto& state = Orvex::detail::AllocatorManager();
    Orvex::sys::ScopedShortLock hold(state.classLocks[index].load());
    return state.pools[index].parkedCount;
}

unsigned ORVEX_THREAD_CALL ReleaseAll(void* context) {
    for (void* block : *static_cast<std::vector<void*>*>(context)) {
        OrvexFree(block);
    }
    return 0;
}

// Blocks one thread takes and another releases: the releasing thread's full
// bin parks units for the taking thread (the class's last taker), whose next
// refills take them back; every block stays whole and nothing is lost.
TEST(AllocatorStress, UnitsReleasedForAnotherThreadAreParkedForItsRefills) {
    constexpr unsigned kIndex = 37; // 304-byte units, 107 a bin
    constexpr unsigned kSize = 8 * (kIndex + 1) - 4;
    constexpr unsigned kHalf = Orvex::detail::CacheCapacity(kSize + 4) / 2;
    static_assert(2 * kHalf <= Orvex::detail::kMaxParkedUnits &&
                      3 * kHalf > Orvex::detail::kMaxParkedUnits,
                  "two flushes fit in the parked units, three do not");
    OrvexFree(OrvexAlloc(8)); // this thread's cache, made before counting
    // Units the ring tests left parked go to this thread first; released
    // again, they stay with it (it took from the class last).
    std::vector<void*> drained;
    while (ParkedUnits(kIndex) != 0 && drained.size() < 500) {
        drained.push_back(OrvexAlloc(kSize));
    }
    for (void* block : drained) {
        OrvexFree(block);
    }
    ASSERT_EQ(0u, ParkedUnits(kIndex));
    const long long allocatedBefore = GetTotalAllocSize();
    const long long unexplainedBefore = UnexplainedBytes();

    std::vector<void*> blocks;
    for (unsigned k = 0; k < 200; ++k) {
        blocks.push_back(OrvexAlloc(kSize));
        Fill(static_cast<unsigned char*>(blocks.back()), kSize);
    }
    Orvex::sys::Thread* releaser = Orvex::sys::StartThread(ReleaseAll, &blocks, 0);
    ASSERT_NE(nullptr, releaser);
    ASSERT_EQ(Orvex::sys::JoinResult::Joined, Orvex::sys::JoinThread(releaser, nullptr));
    // Two flushes of half a bin parked (200 releases make two); the rest of
    // the cache went to the pages when the thread ended.
    EXPECT_EQ(2 * kHalf, ParkedUnits(kIndex));
    EXPECT_EQ(allocatedBefore, GetTotalAllocSize());
    EXPECT_EQ(unexplainedBefore, UnexplainedBytes());

    std::vector<void*> again;
    while (ParkedUnits(kIndex) != 0 && again.size() < 500) {
        again.push_back(OrvexAlloc(kSize));
        Fill(static_cast<unsigned char*>(again.back()), kSize);
    }
    EXPECT_EQ(0u, ParkedUnits(kIndex));
    for (void* block : again) {
        EXPECT_TRUE(Intact(static_cast<unsigned char*>(block), kSize));
        OrvexFree(block);
    }
    EXPECT_EQ(allocatedBefore, GetTotalAllocSize());
    EXPECT_EQ(unexplainedBefore, UnexplainedBytes()) << "a unit was lost or counted twice";
}

} // namespace
