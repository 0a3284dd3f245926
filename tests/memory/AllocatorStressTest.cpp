#include "OrvexCommon/memory/OrvexMemory.h"
#include "OrvexCommon/platform/OrvexSys.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <cstring>
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
    for (unsigned op = 0; op < ORVEX_STRESS_OPERATIONS; ++op) {
        SLive& slot = live[random() % live.size()];
        if (slot.block != nullptr) {
            ReleaseChecked(worker, slot);
            slot.block = nullptr;
            continue;
        }
        const unsigned size = random() % 4001;
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

TEST(AllocatorStress, TwoThreadsWithCrossThreadReleasesLeaveTheCountersAsTheyWere) {
    const long long allocatedBefore = GetTotalAllocSize();
    SHandOver first, second;
    SWorker a{1, &first, &second, {}};
    SWorker b{2, &second, &first, {}};
    Orvex::sys::Thread* one = Orvex::sys::StartThread(Churn, &a, 0);
    Orvex::sys::Thread* two = Orvex::sys::StartThread(Churn, &b, 0);
    ASSERT_NE(nullptr, one);
    ASSERT_NE(nullptr, two);
    EXPECT_EQ(Orvex::sys::JoinResult::Joined, Orvex::sys::JoinThread(one, nullptr));
    EXPECT_EQ(Orvex::sys::JoinResult::Joined, Orvex::sys::JoinThread(two, nullptr));
    for (SHandOver* box : {&first, &second}) {
        for (auto& slot : box->slots) {
            OrvexFree(slot.exchange(nullptr));
        }
    }
    EXPECT_EQ(0u, a.errors.load());
    EXPECT_EQ(0u, b.errors.load());
    EXPECT_EQ(allocatedBefore, GetTotalAllocSize());
    // Every class still has at least one page and the books balance.
    EXPECT_GE(GetTotalMgrSize(), 130 * 8192);
    EXPECT_GE(GetFreeMgrSize(), 0);
}

} // namespace
