// Construction and teardown of the allocator manager.
#include "OrvexCommon/memory/detail/AllocatorManager.h"
#include "OrvexCommon/base/detail/FrameJournal.h"
#include "OrvexCommon/memory/detail/PageMap.h"
#include "OrvexCommon/memory/detail/ThreadCache.h"

#include <cstdio>
#include <cstdlib>

namespace Orvex {
namespace detail {

SAllocatorState g_allocatorState;
std::atomic<unsigned char> g_allocatorPhase{kAllocatorUnbuilt};

namespace {

// Without room for its locks the allocator cannot work at all.
[[noreturn]] void AbortWithoutLocks() {
    std::fputs("OrvexCommon2: no memory for the allocator's locks\n", stderr);
    std::abort();
}

template <typename Lock> Lock* OrAbort(Lock* lock) {
    if (lock == nullptr) {
        AbortWithoutLocks();
    }
    return lock;
}

// The platform's symbol handler is set up first, before any pool: the stack
// functions that capture and name frames rely on it from then on.
void Construct(SAllocatorState& state) {
    sys::InitializeSymbolHandler();
    state.freePageHead = nullptr;
    state.freePageCount.set(0);
    state.pageListLock = OrAbort(sys::CreateShortLock());
    for (auto& counter : state.counters) {
        counter.set(0);
    }
    // Every class starts with one page: 130 pages from 17 regions, 6 left over.
    for (unsigned index = 0; index < kClassCount; ++index) {
        InitializePool(state.pools[index], index);
        GrowPool(state, state.pools[index]);
        state.classLocks[index].store(OrAbort(sys::CreateShortLock()), std::memory_order_release);
    }
    state.largeLock.store(OrAbort(sys::CreateShortLock()), std::memory_order_release);
    if (!StartSpans(state)) {
        AbortWithoutLocks();
    }
    StartThreadCaches(state);
}

// Bytes of blocks handed out and not released, once the thread caches are
// back in the pools.
std::uint64_t HeldBytes(const SAllocatorState& state) {
    std::uint64_t held = 0;
    for (unsigned k = 0; k <= kClassCount; ++k) {
        held += state.counters[k].get() + state.retired[k].get();
    }
    return held;
}

void ReportLeaks(const SAllocatorState& state) {
    const std::uint64_t outstanding = HeldBytes(state);
    if (outstanding != 0) {
        std::printf("Process ID: %d may be %d byte memory leak!!!\n",
                    static_cast<int>(sys::CurrentProcessId()),
                    static_cast<int>(static_cast<std::uint32_t>(outstanding)));
        std::fflush(stdout); // the process may be ending: do not leave it buffered
    }
}

void TearDown(SAllocatorState& state) {
    // From here every thread takes the locked paths, which find the locks gone.
    // Sequentially consistent: ending threads count themselves in before
    // they read it (ReleaseThreadCache).
    g_allocatorPhase.store(kAllocatorTornDown);
    StopThreadCaches(state);
    // With no block held, nothing may read the allocator's memory any more,
    // so its regions go back to the system: a host that loads and unloads
    // the library again and again keeps its address space. A block still
    // held keeps every region, since a late release reads its header.
    const bool nothingHeld = HeldBytes(state) == 0;
    StopSpans(state, nothingHeld);
    for (unsigned index = 0; index < kClassCount; ++index) {
        SPoolClass& pool = state.pools[index];
        sys::ShortLock* lock = state.classLocks[index].exchange(nullptr);
        for (unsigned page = 0; page < pool.pageCount.get(); ++page) {
            ForgetPage(pool.pages[page]);
            ReturnPage(state, pool.pages[page]);
        }
        sys::FreeBlock(pool.pages);
        pool.pages = nullptr;
        pool.pageTakers = nullptr;
        pool.pageFree = nullptr;
        pool.parkedCount = 0; // their pages went back above
        pool.pageCount.set(0);
        pool.freeUnits.set(0);
        sys::DestroyShortLock(lock);
    }
    if (nothingHeld) {
        (void)ReturnAllRegions(state);
    }
    sys::DestroyShortLock(state.largeLock.exchange(nullptr));
    sys::DestroyShortLock(state.pageListLock);
    state.pageListLock = nullptr;
    sys::DestroyShortLock(state.cacheLock);
    state.cacheLock = nullptr;
    ReleasePageMap();
    sys::ReleaseSymbolHandler();
    ReportLeaks(state);
}

// Constructing this builds the manager; its destructor, registered with the
// runtime's exit list at that moment, tears it down. The state itself
// outlives it.
struct SManagerLifetime {
    SManagerLifetime() {
        Construct(g_allocatorState);
        RecordFrameEvent(FrameEvent::Created, FrameObject::AllocatorManager);
    }
    ~SManagerLifetime() {
        TearDown(g_allocatorState);
        RecordFrameEvent(FrameEvent::TornDown, FrameObject::AllocatorManager);
    }
};

} // namespace

void BuildAllocatorManager() {
    static SManagerLifetime lifetime;
    unsigned char unbuilt = kAllocatorUnbuilt;
    // Live unless the teardown already ran (a call from an exit handler).
    g_allocatorPhase.compare_exchange_strong(unbuilt, kAllocatorLive, std::memory_order_acq_rel);
}

} // namespace detail
} // namespace Orvex
