// OrvexAlloc / OrvexFree beside glibc's malloc (the process allocator),
// mimalloc, jemalloc and tcmalloc, each called through its own entry points.
//
// The three peers are opened with dlopen(RTLD_LOCAL), never linked: Debian
// builds all three so that they export malloc and free themselves, and linking
// any of them would replace glibc's allocator for the whole process, ours
// included (its large blocks and page arrays come from malloc). Opened
// locally, their names stay out of the global scope; start-up checks that
// malloc is still glibc's. A peer that cannot be opened is left out with a
// message.
//
// One operation is one call: an allocation or a release. A pair is two.
#include "OrvexCommon/memory/OrvexMemory.h"

#include <benchmark/benchmark.h>

#include "BenchMain.h"
#include "ContainerBench.h"
#include <dlfcn.h>
#include <malloc.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <numeric>
#include <random>
#include <string>
#include <thread>
#include <vector>

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#endif

namespace {

using AllocateFunction = void* (*)(std::size_t);
using ReleaseFunction = void (*)(void*);

// ---- Contenders ----

// Ours, called the way a host calls it: straight through the library's PLT.
struct SOurs {
    void* Allocate(std::size_t size) const { return OrvexAlloc(static_cast<unsigned>(size)); }
    void Release(void* block) const { OrvexFree(block); }
};

// Any other allocator: two entry points found with dlsym.
struct SLoaded {
    AllocateFunction allocate;
    ReleaseFunction release;
    void* Allocate(std::size_t size) const { return allocate(size); }
    void Release(void* block) const { release(block); }
};

struct SPeerLibrary {
    const char* name;
    const char* soname;
    const char* allocate;
    const char* release;
};

// jemalloc's Debian build has no name prefix: its own entry points are plain
// malloc and free, which dlsym on its handle finds in it before its
// dependencies (checked below).
const SPeerLibrary kPeerLibraries[] = {
    {"mimalloc", "libmimalloc.so.2", "mi_malloc", "mi_free"},
    {"jemalloc", "libjemalloc.so.2", "malloc", "free"},
    {"tcmalloc", "libtcmalloc_minimal.so.4", "tc_malloc", "tc_free"},
};

struct SContender {
    std::string name;
    bool ours;
    SLoaded calls; // unused for ours
};

std::vector<SContender> g_contenders;

[[noreturn]] void Fail(const char* what, const std::string& detail) {
    std::fprintf(stderr, "alloc_bench: %s: %s\n", what, detail.c_str());
    std::abort();
}

// The file name of the object that defines `address`, or "" when none does.
std::string DefiningObject(const void* address) {
    Dl_info info;
    if (address == nullptr || dladdr(address, &info) == 0 || info.dli_fname == nullptr) {
        return "";
    }
    return info.dli_fname;
}

bool Names(const std::string& path, const char* soname) {
    return path.size() >= std::strlen(soname) &&
           path.compare(path.size() - std::strlen(soname), std::string::npos, soname) == 0;
}

// glibc keeps 512 spare bytes of static TLS for libraries opened after
// start-up, and jemalloc's thread data takes 2.6 KiB of it, so dlopen refuses
// jemalloc ("cannot allocate memory in static TLS block"). The tunable that
// enlarges the spare room is read only when the process starts: set it and
// run this binary again.
void MakeRoomForStaticTls(char** argv) {
    static const char kTunable[] = "glibc.rtld.optional_static_tls";
    const char* tunables = std::getenv("GLIBC_TUNABLES");
    if (tunables != nullptr && std::strstr(tunables, kTunable) != nullptr) {
        return;
    }
    std::string value = tunables != nullptr ? std::string(tunables) + ":" : std::string();
    value += std::string(kTunable) + "=8192";
    setenv("GLIBC_TUNABLES", value.c_str(), 1);
    // By its real path, so that the process keeps its name (not "exe").
    char self[4096];
    const ssize_t length = readlink("/proc/self/exe", self, sizeof self - 1);
    if (length > 0) {
        self[length] = '\0';
        execv(self, argv);
    }
    std::perror("alloc_bench: cannot run itself again with room for jemalloc's TLS");
}

void LoadPeers() {
    for (const SPeerLibrary& peer : kPeerLibraries) {
        void* handle = dlopen(peer.soname, RTLD_NOW | RTLD_LOCAL);
        if (handle == nullptr) {
            std::fprintf(stderr, "alloc_bench: %s left out: %s\n", peer.name, dlerror());
            continue;
        }
        const auto allocate = reinterpret_cast<AllocateFunction>(dlsym(handle, peer.allocate));
        const auto release = reinterpret_cast<ReleaseFunction>(dlsym(handle, peer.release));
        if (allocate == nullptr || release == nullptr) {
            std::fprintf(stderr, "alloc_bench: %s left out: no %s or %s in %s\n", peer.name,
                         peer.allocate, peer.release, peer.soname);
            continue;
        }
        // dlsym on a handle also searches the library's dependencies, libc
        // among them: the functions must come from the peer itself.
        for (const void* function :
             {reinterpret_cast<const void*>(allocate), reinterpret_cast<const void*>(release)}) {
            const std::string object = DefiningObject(function);
            if (!Names(object, peer.soname)) {
                Fail(peer.name,
                     std::string("entry point found in ") + object + ", not in " + peer.soname);
            }
        }
        g_contenders.push_back({peer.name, false, {allocate, release}});
    }
}

// The process must still allocate with glibc: the global malloc is libc's,
// its heap grows when the process allocates, and mimalloc does not claim a
// block that malloc handed out.
void CheckProcessAllocator() {
    void* processMalloc = dlsym(RTLD_DEFAULT, "malloc");
    void* processFree = dlsym(RTLD_DEFAULT, "free");
    if (!Names(DefiningObject(processMalloc), "libc.so.6") ||
        !Names(DefiningObject(processFree), "libc.so.6")) {
        Fail("process allocator",
             "malloc comes from " + DefiningObject(processMalloc) + ", not from libc.so.6");
    }
    const std::size_t before = mallinfo2().uordblks;
    void* probe = std::malloc(4000);
    benchmark::DoNotOptimize(probe);
    const std::size_t after = mallinfo2().uordblks;
    if (probe == nullptr || after < before + 4000) {
        Fail("process allocator", "malloc(4000) did not grow glibc's heap");
    }
    if (void* mimalloc = dlopen("libmimalloc.so.2", RTLD_NOW | RTLD_LOCAL | RTLD_NOLOAD)) {
        using Claims = bool (*)(const void*);
        const auto claims = reinterpret_cast<Claims>(dlsym(mimalloc, "mi_is_in_heap_region"));
        const auto allocate = reinterpret_cast<AllocateFunction>(dlsym(mimalloc, "mi_malloc"));
        const auto release = reinterpret_cast<ReleaseFunction>(dlsym(mimalloc, "mi_free"));
        if (claims == nullptr || allocate == nullptr || release == nullptr) {
            Fail("mimalloc", "no mi_is_in_heap_region, mi_malloc or mi_free");
        }
        void* own = allocate(64);
        if (claims(probe) || !claims(own)) {
            Fail("process allocator", "mimalloc claims a block of glibc's malloc");
        }
        release(own);
        dlclose(mimalloc); // drops the reference taken just now
    }
    std::free(probe);
    const SLoaded glibc{reinterpret_cast<AllocateFunction>(processMalloc),
                        reinterpret_cast<ReleaseFunction>(processFree)};
    g_contenders.insert(g_contenders.begin(), {"glibc", false, glibc});
    g_contenders.insert(g_contenders.begin(), {"Orvex", true, {}});
}

// ---- Work ----

constexpr unsigned kLiveBlocks = 10000;
constexpr unsigned kSmallest = 8;
constexpr unsigned kLargest = 1024;
constexpr unsigned kPermutations = 4;

// Steps per thread and timed run of the two-thread cases: long enough that
// starting the threads is not timed and waking them costs nothing that shows.
constexpr std::size_t kThreadSteps = std::size_t{1} << 18;

// One step of the churn: release the block in `slot`, put a new one of `size`
// bytes there.
struct SStep {
    std::uint32_t slot;
    std::uint32_t size;
};

// kPermutations random orders of the slots, one after the other, each step
// with a random size; the same for every contender (fixed seed).
const std::vector<SStep>& Steps() {
    static const std::vector<SStep> steps = [] {
        std::mt19937 random(20261208);
        std::uniform_int_distribution<unsigned> size(kSmallest, kLargest);
        std::vector<std::uint32_t> order(kLiveBlocks);
        std::vector<SStep> made;
        for (unsigned round = 0; round < kPermutations; ++round) {
            std::iota(order.begin(), order.end(), 0);
            std::shuffle(order.begin(), order.end(), random);
            for (std::uint32_t slot : order) {
                made.push_back({slot, size(random)});
            }
        }
        return made;
    }();
    return steps;
}

// (e) A game's mix: 100 000 live blocks; of the new sizes 85 % 16-128 bytes,
// 14 % 512-2048 bytes (about 1 KiB), 1 % 4-64 KiB. Random orders of the
// slots, 200 000 steps in all, a fixed seed.
constexpr unsigned kMixedLiveBlocks = 100000;
constexpr unsigned kMixedSteps = 200000;
constexpr unsigned kMixedThreads = 4;

std::vector<SStep> MakeMixedSteps(unsigned liveBlocks) {
    std::mt19937 random(20261209);
    std::uniform_int_distribution<unsigned> kind(0, 99);
    std::uniform_int_distribution<unsigned> small(16, 128);
    std::uniform_int_distribution<unsigned> middle(512, 2048);
    std::uniform_int_distribution<unsigned> large(4096, 65536);
    std::vector<std::uint32_t> order(liveBlocks);
    std::vector<SStep> made;
    while (made.size() < kMixedSteps) {
        std::iota(order.begin(), order.end(), 0);
        std::shuffle(order.begin(), order.end(), random);
        for (std::uint32_t slot : order) {
            const unsigned pick = kind(random);
            const unsigned size = pick < 85   ? small(random)
                                  : pick < 99 ? middle(random)
                                              : large(random);
            made.push_back({slot, size});
        }
    }
    return made;
}

const std::vector<SStep>& MixedSteps() {
    static const std::vector<SStep> steps = MakeMixedSteps(kMixedLiveBlocks);
    return steps;
}

// The same for a set a quarter the size: one thread's of (f).
const std::vector<SStep>& QuarterMixedSteps() {
    static const std::vector<SStep> steps = MakeMixedSteps(kMixedLiveBlocks / kMixedThreads);
    return steps;
}

// Every block is written once, as its user would.
inline void* Touch(void* block) {
    *static_cast<volatile unsigned char*>(block) = 1;
    return block;
}

// The churn's live set: kLiveBlocks blocks of random sizes, filled before the
// clock starts and emptied after it stops.
template <typename Calls> class CLiveSet {
public:
    CLiveSet(const Calls& calls, std::size_t start, const std::vector<SStep>& steps = Steps(),
             unsigned liveBlocks = kLiveBlocks)
        : m_calls(calls), m_steps(steps), m_next(start) {
        m_blocks.resize(liveBlocks);
        for (unsigned k = 0; k < liveBlocks; ++k) {
            m_blocks[k] = Touch(m_calls.Allocate(steps[(start + k) % steps.size()].size));
        }
    }
    ~CLiveSet() {
        for (void* block : m_blocks) {
            m_calls.Release(block);
        }
    }
    CLiveSet(const CLiveSet&) = delete;
    CLiveSet& operator=(const CLiveSet&) = delete;

    void Step() {
        StepReleasingWith([this](void* block) { m_calls.Release(block); });
    }

    // A step whose old block goes to `release` instead.
    template <typename Release> void StepReleasingWith(Release release) {
        const std::vector<SStep>& steps = m_steps;
        const SStep step = steps[m_next];
        m_next = m_next + 1 == steps.size() ? 0 : m_next + 1;
        release(m_blocks[step.slot]);
        m_blocks[step.slot] = Touch(m_calls.Allocate(step.size));
    }

private:
    Calls m_calls;
    const std::vector<SStep>& m_steps;
    std::size_t m_next;
    std::vector<void*> m_blocks;
};

void Relax(unsigned& spins) {
    if (++spins < 64) {
#if defined(__x86_64__) || defined(__i386__)
        _mm_pause();
#endif
    } else {
        // The other side may be waiting for this core.
        spins = 0;
        std::this_thread::yield();
    }
}

// Runs work(0) ... work(count - 1) on new threads. Each does its untimed
// set-up, calls Ready(), does the timed work and calls Done(). The result is
// the wall-clock time from the moment all are ready to the moment the last
// one is done.
class CThreads {
public:
    explicit CThreads(unsigned count) : m_done(count) {}

    template <typename Work> double Run(Work work) {
        m_ready.store(0);
        m_go.store(false);
        std::vector<std::thread> threads;
        for (unsigned k = 0; k < m_done.size(); ++k) {
            threads.emplace_back(work, k, std::ref(*this));
        }
        unsigned spins = 0;
        while (m_ready.load(std::memory_order_acquire) != m_done.size()) {
            Relax(spins);
        }
        const auto start = std::chrono::steady_clock::now();
        m_go.store(true, std::memory_order_release);
        for (std::thread& thread : threads) {
            thread.join();
        }
        const auto end = *std::max_element(m_done.begin(), m_done.end());
        return std::chrono::duration<double>(end - start).count();
    }

    void Ready() {
        m_ready.fetch_add(1, std::memory_order_acq_rel);
        unsigned spins = 0;
        while (!m_go.load(std::memory_order_acquire)) {
            Relax(spins);
        }
    }

    void Done(unsigned thread) { m_done[thread] = std::chrono::steady_clock::now(); }

private:
    std::atomic<unsigned> m_ready{0};
    std::atomic<bool> m_go{false};
    std::vector<std::chrono::steady_clock::time_point> m_done;
};

// A bounded single-producer, single-consumer queue of blocks. Each index is
// written by one side only and sits on its own cache line beside that side's
// copy of the other index, which it refreshes only when the queue looks full
// (producer) or empty (consumer).
class CHandOff {
public:
    bool TryPush(void* block) {
        const std::size_t tail = m_tail.load(std::memory_order_relaxed);
        if (tail - m_headSeen == kCapacity) {
            m_headSeen = m_head.load(std::memory_order_acquire);
            if (tail - m_headSeen == kCapacity) {
                return false;
            }
        }
        m_slots[tail & (kCapacity - 1)] = block;
        m_tail.store(tail + 1, std::memory_order_release);
        return true;
    }

    // Null when the queue is empty.
    void* TryPop() {
        const std::size_t head = m_head.load(std::memory_order_relaxed);
        if (head == m_tailSeen) {
            m_tailSeen = m_tail.load(std::memory_order_acquire);
            if (head == m_tailSeen) {
                return nullptr;
            }
        }
        void* block = m_slots[head & (kCapacity - 1)];
        m_head.store(head + 1, std::memory_order_release);
        return block;
    }

    void Push(void* block) {
        unsigned spins = 0;
        while (!TryPush(block)) {
            Relax(spins);
        }
    }

    void* Pop() {
        unsigned spins = 0;
        void* block;
        while ((block = TryPop()) == nullptr) {
            Relax(spins);
        }
        return block;
    }

private:
    static constexpr std::size_t kCapacity = 1024; // a power of two

    alignas(64) std::atomic<std::size_t> m_head{0}; // consumer's
    std::size_t m_tailSeen = 0;
    alignas(64) std::atomic<std::size_t> m_tail{0}; // producer's
    std::size_t m_headSeen = 0;
    alignas(64) void* m_slots[kCapacity];
};

// ---- Cases ----

// (a) One size, allocated and released at once: the allocator's fastest path.
template <typename Calls> void Pair(benchmark::State& state, Calls calls, std::size_t size) {
    for (auto _ : state) {
        calls.Release(Touch(calls.Allocate(size)));
    }
    state.SetItemsProcessed(2 * static_cast<std::int64_t>(state.iterations()));
}

// (b) Steady churn: 10 000 live blocks of 8-1024 bytes, each in turn (in a
// random order) released and replaced by one of a new random size.
template <typename Calls> void Churn(benchmark::State& state, Calls calls) {
    CLiveSet<Calls> live(calls, 0);
    for (auto _ : state) {
        live.Step();
    }
    state.SetItemsProcessed(2 * static_cast<std::int64_t>(state.iterations()));
}

// (e) The game's mix: as (b) over MixedSteps() with 100 000 live blocks.
template <typename Calls> void Mixed(benchmark::State& state, Calls calls) {
    CLiveSet<Calls> live(calls, 0, MixedSteps(), kMixedLiveBlocks);
    for (auto _ : state) {
        live.Step();
    }
    state.SetItemsProcessed(2 * static_cast<std::int64_t>(state.iterations()));
}

// (f) Four threads, each running (e) on a mixed set of its own (a quarter of
// its blocks, so that the four hold what (e) holds), at once. One release in
// eight is made by the next thread: the block goes through a queue to it, and
// every thread releases what arrived for it before each of its steps. (A full
// queue, which only a thread that has finished leaves full, sends the block
// back to its own thread.)
constexpr unsigned kCrossReleaseEvery = 8;

template <typename Calls> void MixedFourThreads(benchmark::State& state, Calls calls) {
    const std::size_t quarter = QuarterMixedSteps().size() / kMixedThreads;
    CThreads threads(kMixedThreads);
    for (auto _ : state) {
        std::vector<std::unique_ptr<CHandOff>> inboxes;
        for (unsigned k = 0; k < kMixedThreads; ++k) {
            inboxes.push_back(std::make_unique<CHandOff>());
        }
        state.SetIterationTime(threads.Run([&](unsigned thread, CThreads& line) {
            CLiveSet<Calls> live(calls, thread * quarter, QuarterMixedSteps(),
                                 kMixedLiveBlocks / kMixedThreads);
            CHandOff& inbox = *inboxes[thread];
            CHandOff& next = *inboxes[(thread + 1) % kMixedThreads];
            line.Ready();
            for (std::size_t k = 0; k < kThreadSteps; ++k) {
                while (void* arrived = inbox.TryPop()) {
                    calls.Release(arrived);
                }
                if (k % kCrossReleaseEvery == 0) {
                    live.StepReleasingWith([&](void* block) {
                        if (!next.TryPush(block)) {
                            calls.Release(block);
                        }
                    });
                } else {
                    live.Step();
                }
            }
            line.Done(thread);
        }));
        // Not timed: what the last steps sent.
        for (auto& inbox : inboxes) {
            while (void* left = inbox->TryPop()) {
                calls.Release(left);
            }
        }
    }
    state.SetItemsProcessed(
        static_cast<std::int64_t>(state.iterations() * kMixedThreads * 2 * kThreadSteps));
}

// (c) Two threads, each running (b) on a live set of its own, at once; the
// second starts half-way through the steps so that the two do not move in
// lockstep.
template <typename Calls> void ChurnTwoThreads(benchmark::State& state, Calls calls) {
    const std::size_t half = Steps().size() / 2;
    CThreads threads(2);
    for (auto _ : state) {
        state.SetIterationTime(threads.Run([calls, half](unsigned thread, CThreads& line) {
            CLiveSet<Calls> live(calls, thread * half);
            line.Ready();
            for (std::size_t k = 0; k < kThreadSteps; ++k) {
                live.Step();
            }
            line.Done(thread);
        }));
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * 2 * 2 * kThreadSteps));
}

// (d) Producer and consumer: thread 0 allocates blocks of random sizes and
// passes them through the queue; thread 1 releases them. Each makes
// 2 x kThreadSteps calls, so the two do the same number of operations.
template <typename Calls> void HandOff(benchmark::State& state, Calls calls) {
    constexpr std::size_t kBlocks = 2 * kThreadSteps;
    CThreads threads(2);
    for (auto _ : state) {
        auto queue = std::make_unique<CHandOff>();
        CHandOff& handOff = *queue;
        state.SetIterationTime(threads.Run([calls, &handOff](unsigned thread, CThreads& line) {
            const std::vector<SStep>& steps = Steps();
            line.Ready();
            if (thread == 0) {
                for (std::size_t k = 0; k < kBlocks; ++k) {
                    handOff.Push(Touch(calls.Allocate(steps[k % steps.size()].size)));
                }
            } else {
                for (std::size_t k = 0; k < kBlocks; ++k) {
                    calls.Release(handOff.Pop());
                }
            }
            line.Done(thread);
        }));
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * 2 * kBlocks));
}

// ---- Resident memory ----

// (g) The memory (e) costs: resident bytes at the end of one pass through the
// mixed steps, divided by the bytes the live blocks asked for. Each contender
// is measured in a process of its own (this program, started again with
// kResidentOption), so that no other contender's pages or reuse count; every
// block is filled whole, as a game fills its buffers.
constexpr char kResidentOption[] = "--orvex-resident-of=";

std::size_t ResidentBytes() {
    unsigned long pages = 0;
    unsigned long resident = 0;
    if (std::FILE* statm = std::fopen("/proc/self/statm", "r")) {
        if (std::fscanf(statm, "%lu %lu", &pages, &resident) != 2) {
            resident = 0;
        }
        std::fclose(statm);
    }
    return resident * static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
}

template <typename Calls> double ResidentPerLiveByte(const Calls& calls) {
    const std::vector<SStep>& steps = MixedSteps();
    std::vector<void*> blocks(kMixedLiveBlocks, nullptr);
    std::vector<std::uint32_t> sizes(kMixedLiveBlocks, 0);
    calls.Release(calls.Allocate(64)); // the allocator's own start-up
    const std::size_t before = ResidentBytes();
    for (unsigned k = 0; k < kMixedLiveBlocks; ++k) {
        blocks[k] = std::memset(calls.Allocate(steps[k].size), 1, steps[k].size);
        sizes[k] = steps[k].size;
    }
    for (const SStep& step : steps) {
        calls.Release(blocks[step.slot]);
        blocks[step.slot] = std::memset(calls.Allocate(step.size), 1, step.size);
        sizes[step.slot] = step.size;
    }
    const std::size_t after = ResidentBytes();
    const double live = std::accumulate(sizes.begin(), sizes.end(), 0.0);
    for (void* block : blocks) {
        calls.Release(block);
    }
    return static_cast<double>(after - before) / live;
}

// The child's side: prints the figure of one contender.
int PrintResidentOf(const std::string& name) {
    for (const SContender& contender : g_contenders) {
        if (contender.name == name) {
            std::printf("%.6f\n", contender.ours ? ResidentPerLiveByte(SOurs{})
                                                 : ResidentPerLiveByte(contender.calls));
            return 0;
        }
    }
    std::fprintf(stderr, "alloc_bench: no contender %s\n", name.c_str());
    return 1;
}

// The parent's side: one measurement per iteration, in a new process.
void MixedResident(benchmark::State& state, std::string contender) {
    char self[4096];
    const ssize_t length = readlink("/proc/self/exe", self, sizeof self - 1);
    if (length <= 0) {
        state.SkipWithError("cannot find this program");
        return;
    }
    self[length] = '\0';
    const std::string command = std::string("'") + self + "' " + kResidentOption + contender;
    double figure = 0;
    for (auto _ : state) {
        std::FILE* child = popen(command.c_str(), "r");
        if (child == nullptr || std::fscanf(child, "%lf", &figure) != 1) {
            state.SkipWithError("the measuring process gave no figure");
        }
        if (child != nullptr) {
            pclose(child);
        }
    }
    state.counters["resident_per_live"] = figure;
}

// ---- Start-up check and registration ----

// Every contender must hand out distinct, writable, 8-aligned blocks: blocks
// of every size up to 1100 bytes, 2 000 of them live at once, are filled with
// a byte of their own and read back before any is released.
template <typename Calls> void CheckContender(const std::string& name, const Calls& calls) {
    std::vector<std::pair<unsigned char*, unsigned>> blocks;
    for (unsigned k = 0; k < 2000; ++k) {
        const unsigned size = 1 + (k * 7919u) % 1100u;
        auto* block = static_cast<unsigned char*>(calls.Allocate(size));
        if (block == nullptr || reinterpret_cast<std::uintptr_t>(block) % 8 != 0) {
            Fail(name.c_str(), "null or misaligned block of " + std::to_string(size) + " bytes");
        }
        std::memset(block, static_cast<int>(k & 0xFF), size);
        blocks.emplace_back(block, size);
    }
    for (unsigned k = 0; k < blocks.size(); ++k) {
        for (unsigned i = 0; i < blocks[k].second; ++i) {
            if (blocks[k].first[i] != static_cast<unsigned char>(k & 0xFF)) {
                Fail(name.c_str(), "blocks overlap");
            }
        }
    }
    for (const auto& block : blocks) {
        calls.Release(block.first);
    }
}

enum class Case { Pair, Churn, ChurnTwoThreads, HandOff, Mixed, MixedFourThreads, MixedResident };

// The multi-thread cases time themselves (wall clock from all ready to last
// done), in milliseconds per run.
void TimedByItself(benchmark::internal::Benchmark* benchmark) {
    benchmark->UseManualTime()->Unit(benchmark::kMillisecond);
}

template <typename Calls>
void RegisterCase(Case kind, const std::string& caseName, std::size_t size,
                  const std::string& contender, const Calls& calls) {
    const std::string name = "OrvexAlloc/" + caseName + "/" + contender;
    switch (kind) {
    case Case::Pair:
        benchmark::RegisterBenchmark(name.c_str(), Pair<Calls>, calls, size);
        break;
    case Case::Churn:
        benchmark::RegisterBenchmark(name.c_str(), Churn<Calls>, calls);
        break;
    case Case::Mixed:
        benchmark::RegisterBenchmark(name.c_str(), Mixed<Calls>, calls);
        break;
    case Case::MixedFourThreads:
        TimedByItself(benchmark::RegisterBenchmark(name.c_str(), MixedFourThreads<Calls>, calls));
        break;
    case Case::MixedResident:
        benchmark::RegisterBenchmark(name.c_str(), MixedResident, contender)
            ->Iterations(1)
            ->Unit(benchmark::kMillisecond);
        break;
    case Case::ChurnTwoThreads:
        TimedByItself(benchmark::RegisterBenchmark(name.c_str(), ChurnTwoThreads<Calls>, calls));
        break;
    case Case::HandOff:
        TimedByItself(benchmark::RegisterBenchmark(name.c_str(), HandOff<Calls>, calls));
        break;
    }
}

void RegisterAll() {
    const struct {
        Case kind;
        const char* name;
        std::size_t size;
    } cases[] = {
        {Case::Pair, "pair-16B", 16},
        {Case::Pair, "pair-64B", 64},
        {Case::Pair, "pair-256B", 256},
        {Case::Pair, "pair-1KiB", 1024},
        {Case::Churn, "churn", 0},
        {Case::ChurnTwoThreads, "churn-2T", 0},
        {Case::HandOff, "handoff-2T", 0},
        {Case::Mixed, "mixed", 0},
        {Case::MixedFourThreads, "mixed-4T", 0},
        {Case::MixedResident, "mixed-resident", 0},
    };
    for (const auto& kase : cases) {
        for (const SContender& contender : g_contenders) {
            if (contender.ours) {
                RegisterCase(kase.kind, kase.name, kase.size, contender.name, SOurs{});
            } else {
                RegisterCase(kase.kind, kase.name, kase.size, contender.name, contender.calls);
            }
        }
    }
}

} // namespace

int main(int argc, char** argv) {
    MakeRoomForStaticTls(argv);
    LoadPeers();
    CheckProcessAllocator();
    if (argc == 2 && std::strncmp(argv[1], kResidentOption, sizeof kResidentOption - 1) == 0) {
        return PrintResidentOf(argv[1] + sizeof kResidentOption - 1);
    }
    for (const SContender& contender : g_contenders) {
        if (contender.ours) {
            CheckContender(contender.name, SOurs{});
        } else {
            CheckContender(contender.name, contender.calls);
        }
    }
    RegisterAll();
    RegisterContainerBenchmarks();
    return RunRegisteredBenchmarks(argc, argv);
}
