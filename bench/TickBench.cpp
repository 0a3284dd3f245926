// The tick manager (CTickMgr) beside two other ways a program runs periodic
// callbacks:
//
//  - Boost.Asio's timer queue: one basic_waitable_timer per tick on a clock
//    that the benchmark advances itself, with wait traits that never ask the
//    reactor to sleep. After every advance, io_context::poll() runs what fell
//    due; each handler re-arms its own timer one interval on (expiry +=
//    interval).
//  - A binary heap, std::priority_queue of (due time, sequence, tick): popped
//    while due, each tick pushed back one interval on.
//
// Time is counted in the manager's units. A tick registered at T with
// interval i falls due at T + i, T + 2i, ...; an advance of e units from T
// fires everything due in [T, T + e), catching up fully, so a tick of interval
// 1 fires 16 times in an advance of 16. All three contenders fire the same
// callbacks at the same due times: start-up checks it, and every timed run is
// checked against the others once it has stopped.
//
// The third case times unregistering and registering a tick again while
// 100 000 others wait: CTickMgr::DelTick / AddTick, Asio's cancel() /
// expires_at() + async_wait(), and the heap's lazy deletion / push.
//
// Ticks due at the same unit may fire in a different order in each contender
// (the manager in the order they were scheduled, the heap by sequence, Asio's
// heap in no defined order), and within one poll Asio fires every due timer
// once before it fires any of them a second time. The comparison is therefore
// over the set of (tick, due time) fired in each frame: per unit when a frame
// is one unit long.
#include "OrvexCommon/time/OrvexTick.h"

#include <benchmark/benchmark.h>

#include "BenchMain.h"
#include <boost/asio/basic_waitable_timer.hpp>
#include <boost/asio/io_context.hpp>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <numeric>
#include <queue>
#include <random>
#include <ratio>
#include <string>
#include <vector>

namespace {

// ---- Work ----

constexpr unsigned kTicks = 100000;
constexpr unsigned kSpan = 20000;   // units of time timed in (a) and (b)
constexpr unsigned kLongFrame = 16; // units per frame in (b)
constexpr unsigned kRegistrationUnits = 1000;
constexpr unsigned kCheckTicks = 3000; // the start-up check's smaller set
constexpr unsigned short kTickId = 1;

// The interval mix: a few ticks faster than a 16-unit frame, many short ones,
// some long ones, up to 10 000 units. Shares in per cent.
const struct {
    unsigned share;
    unsigned shortest;
    unsigned longest;
} kIntervalBands[] = {
    {2, 1, 15},
    {48, 16, 250},
    {35, 251, 2000},
    {15, 2001, 10000},
};

// The intervals of the first `count` ticks; fixed by a seed, the same for every
// contender (a smaller set is a prefix of the larger one).
std::vector<unsigned> Intervals(unsigned count) {
    std::mt19937 random(20261209);
    std::uniform_int_distribution<unsigned> percent(0, 99);
    std::vector<unsigned> intervals;
    intervals.reserve(count);
    while (intervals.size() < count) {
        unsigned pick = percent(random);
        for (const auto& band : kIntervalBands) {
            if (pick < band.share) {
                std::uniform_int_distribution<unsigned> interval(band.shortest, band.longest);
                intervals.push_back(interval(random));
                break;
            }
            pick -= band.share;
        }
    }
    return intervals;
}

[[noreturn]] void Fail(const char* what, const std::string& detail) {
    std::fprintf(stderr, "tick_bench: %s: %s\n", what, detail.c_str());
    std::abort();
}

// What every callback of every contender does: count itself and add a mix of
// (tick, due time) to the frame's sum. A sum does not depend on the order of
// the callbacks within a frame; the frames are then chained in order.
class CFirings {
public:
    struct SResult {
        std::uint64_t count = 0;
        std::uint64_t total = 0;  // the sum over all frames
        std::uint64_t frames = 0; // the frames' sums, chained
        bool operator==(const SResult& other) const {
            return count == other.count && total == other.total && frames == other.frames;
        }
    };

    void Fire(unsigned tick, std::uint64_t time) {
        ++m_result.count;
        std::uint64_t mixed = (tick + 1) * 0x9E3779B97F4A7C15ull ^ time * 0xC2B2AE3D27D4EB4Full;
        mixed ^= mixed >> 29;
        m_frame += mixed * 0xBF58476D1CE4E5B9ull;
    }

    void EndFrame() {
        m_result.total += m_frame;
        m_result.frames = (m_result.frames ^ m_frame ^ m_result.count) * 0x100000001B3ull;
        m_frame = 0;
    }

    void Reset() { *this = CFirings(); }
    const SResult& Result() const { return m_result; }

private:
    SResult m_result;
    std::uint64_t m_frame = 0;
};

std::string Describe(const CFirings::SResult& result) {
    char text[128];
    std::snprintf(text, sizeof text, "%llu firings, sum %016llx, frames %016llx",
                  static_cast<unsigned long long>(result.count),
                  static_cast<unsigned long long>(result.total),
                  static_cast<unsigned long long>(result.frames));
    return text;
}

// ---- Contenders ----
//
// Each holds one tick object per index, unregistered at first, and offers:
//   Add(index)       register the tick with its interval, first due one
//                    interval from now;
//   Del(index)       unregister it;
//   Advance(units)   move time on, firing what falls due;
//   Settle()         finish work a Del has left behind (Asio only).
// Tick objects are allocated one by one, as a host's objects that own a tick.

// Ours: a CTick subclass, registered with a CTickMgr, called through the
// shared library.
class COursTick final : public Orvex::CTick {
public:
    COursTick(CFirings& firings, unsigned index) : m_firings(firings), m_index(index) {}
    void OnTick() override {
        m_firings.Fire(m_index, static_cast<std::uint64_t>(GetTickMgr()->GetCurUpdateTime()));
    }

private:
    CFirings& m_firings;
    unsigned m_index;
};

class COurs {
public:
    COurs(CFirings& firings, const std::vector<unsigned>& intervals)
        : m_manager(std::make_unique<Orvex::CTickMgr>()), m_intervals(intervals) {
        m_ticks.reserve(intervals.size());
        for (unsigned k = 0; k < intervals.size(); ++k) {
            m_ticks.emplace_back(new COursTick(firings, k)); // the library's pool
        }
    }

    void Add(unsigned index) {
        m_manager->AddTick(m_ticks[index].get(), m_intervals[index], kTickId);
    }
    void Del(unsigned index) { m_manager->DelTick(m_ticks[index].get()); }
    void Advance(unsigned units) { m_manager->Update(units); }
    void Settle() {}

private:
    std::unique_ptr<Orvex::CTickMgr> m_manager;
    const std::vector<unsigned>& m_intervals;
    std::vector<std::unique_ptr<COursTick>> m_ticks; // unregister themselves first
};

// Asio: a clock that reads a variable, one unit a tick. The reactor is never
// asked to wait (every wait is 0), so poll() finds what is due at once.
struct SManualClock {
    using rep = std::int64_t;
    using period = std::ratio<1>;
    using duration = std::chrono::duration<rep, period>;
    using time_point = std::chrono::time_point<SManualClock>;
    static constexpr bool is_steady = true;
    static time_point now() noexcept { return time_point(duration(s_now)); }
    static inline rep s_now = 0;
};

struct SNeverSleep {
    static SManualClock::duration to_wait_duration(const SManualClock::duration&) {
        return SManualClock::duration::zero();
    }
    static SManualClock::duration to_wait_duration(const SManualClock::time_point&) {
        return SManualClock::duration::zero();
    }
};

// The io_context's own executor rather than the type-erased default, and a
// context that takes no locks: the quicker choices for a loop on one thread
// (the defaults run these cases some 10% slower).
using CManualTimer = boost::asio::basic_waitable_timer<SManualClock, SNeverSleep,
                                                       boost::asio::io_context::executor_type>;

class CAsioTick {
public:
    CAsioTick(boost::asio::io_context& io, CFirings& firings, unsigned index)
        : m_timer(io.get_executor()), m_firings(firings), m_index(index) {}

    void Start(SManualClock::rep due, unsigned interval) {
        m_interval = interval;
        m_timer.expires_at(SManualClock::time_point(SManualClock::duration(due)));
        Wait();
    }
    // The handler still runs, with operation_aborted, at the next poll.
    void Cancel() { m_timer.cancel(); }

private:
    void Wait() {
        m_timer.async_wait([this](const boost::system::error_code& error) { OnExpiry(error); });
    }

    void OnExpiry(const boost::system::error_code& error) {
        if (error) {
            return; // cancelled
        }
        const SManualClock::time_point due = m_timer.expiry();
        m_firings.Fire(m_index, static_cast<std::uint64_t>(due.time_since_epoch().count()));
        m_timer.expires_at(due + SManualClock::duration(m_interval));
        Wait();
    }

    CManualTimer m_timer;
    CFirings& m_firings;
    unsigned m_index;
    unsigned m_interval = 0;
};

class CAsio {
public:
    CAsio(CFirings& firings, const std::vector<unsigned>& intervals)
        : m_io(BOOST_ASIO_CONCURRENCY_HINT_UNSAFE), m_intervals(intervals) {
        SManualClock::s_now = m_time - 1;
        m_ticks.reserve(intervals.size());
        for (unsigned k = 0; k < intervals.size(); ++k) {
            m_ticks.emplace_back(new CAsioTick(m_io, firings, k));
        }
    }

    void Add(unsigned index) {
        m_ticks[index]->Start(m_time + m_intervals[index], m_intervals[index]);
    }
    void Del(unsigned index) { m_ticks[index]->Cancel(); }

    // The clock shows the last unit the advance covers: timers fire when their
    // expiry is not after now.
    void Advance(unsigned units) {
        m_time += units;
        SManualClock::s_now = m_time - 1;
        Settle();
    }

    void Settle() {
        if (m_io.stopped()) { // poll() stops the context when it runs out of work
            m_io.restart();
        }
        m_io.poll();
    }

private:
    boost::asio::io_context m_io;
    const std::vector<unsigned>& m_intervals;
    SManualClock::rep m_time = 0;                    // the first unit not yet covered
    std::vector<std::unique_ptr<CAsioTick>> m_ticks; // destroyed before m_io
};

// The heap: entries (due, sequence, tick), the earliest due on top, equal dues
// in the order they were pushed. A tick is its callback (a std::function, as
// such a scheduler stores them), its interval and the sequence of its one
// live entry. Unregistering a tick only forgets that sequence: the entry left
// in the heap is dropped when it comes to the top, and once the dropped
// entries outnumber the live ones the heap is rebuilt without them.
struct SHeapTick {
    std::function<void(std::uint64_t)> onTick;
    unsigned interval = 0;
    std::uint64_t sequence = 0; // of the live entry; 0 while unregistered
};

struct SDue {
    std::uint64_t due;
    std::uint64_t sequence;
    SHeapTick* tick;
};

struct SLater {
    bool operator()(const SDue& a, const SDue& b) const {
        return a.due != b.due ? a.due > b.due : a.sequence > b.sequence;
    }
};

class CDueHeap : public std::priority_queue<SDue, std::vector<SDue>, SLater> {
public:
    void DropStale() {
        c.erase(std::remove_if(
                    c.begin(), c.end(),
                    [](const SDue& entry) { return entry.tick->sequence != entry.sequence; }),
                c.end());
        std::make_heap(c.begin(), c.end(), comp);
    }
};

class CHeap {
public:
    CHeap(CFirings& firings, const std::vector<unsigned>& intervals) : m_intervals(intervals) {
        m_ticks.reserve(intervals.size());
        for (unsigned k = 0; k < intervals.size(); ++k) {
            m_ticks.emplace_back(new SHeapTick);
            m_ticks.back()->onTick = [&firings, k](std::uint64_t time) { firings.Fire(k, time); };
        }
    }

    void Add(unsigned index) {
        SHeapTick* tick = m_ticks[index].get();
        if (tick->sequence != 0) {
            return; // already registered
        }
        tick->interval = m_intervals[index];
        Schedule(tick, m_time + tick->interval);
    }

    void Del(unsigned index) {
        SHeapTick* tick = m_ticks[index].get();
        if (tick->sequence == 0) {
            return;
        }
        tick->sequence = 0;
        ++m_stale;
        if (m_stale > m_heap.size() - m_stale) {
            m_heap.DropStale();
            m_stale = 0;
        }
    }

    void Advance(unsigned units) {
        const std::uint64_t target = m_time + units;
        while (!m_heap.empty() && m_heap.top().due < target) {
            const SDue entry = m_heap.top();
            m_heap.pop();
            SHeapTick* tick = entry.tick;
            if (tick->sequence != entry.sequence) {
                --m_stale;
                continue;
            }
            tick->onTick(entry.due);
            if (tick->sequence == entry.sequence) { // not unregistered by its callback
                Schedule(tick, entry.due + tick->interval);
            }
        }
        m_time = target;
    }

    void Settle() {}

private:
    void Schedule(SHeapTick* tick, std::uint64_t due) {
        m_heap.push({due, ++m_sequence, tick});
        tick->sequence = m_sequence;
    }

    const std::vector<unsigned>& m_intervals;
    std::vector<std::unique_ptr<SHeapTick>> m_ticks;
    CDueHeap m_heap;
    std::uint64_t m_time = 0;
    std::uint64_t m_sequence = 0;
    std::size_t m_stale = 0;
};

// ---- Shared steps ----

// Registers the ticks spread over kRegistrationUnits units of time, a few at
// every unit, so that they do not all share one phase.
template <typename Scheduler>
void Register(Scheduler& scheduler, CFirings& firings, unsigned count) {
    for (unsigned unit = 0; unit < kRegistrationUnits; ++unit) {
        const unsigned end =
            static_cast<unsigned>(std::uint64_t{unit + 1} * count / kRegistrationUnits);
        for (unsigned k = static_cast<unsigned>(std::uint64_t{unit} * count / kRegistrationUnits);
             k < end; ++k) {
            scheduler.Add(k);
        }
        scheduler.Advance(1);
        firings.EndFrame();
    }
}

// The timed span: kSpan units in frames of `frame` units.
template <typename Scheduler>
void RunFrames(Scheduler& scheduler, CFirings& firings, unsigned frame) {
    for (unsigned done = 0; done < kSpan; done += frame) {
        scheduler.Advance(frame);
        firings.EndFrame();
    }
}

// ---- Start-up check ----

// kCheckTicks ticks through registration and the whole span, in frames of
// `frame` units; every 400 units (a multiple of both frame lengths) a few
// ticks are unregistered and registered again, and a few others are left
// unregistered until the next such point. Once, every tick is unregistered
// and registered again twice over, which makes the heap rebuild itself.
template <typename Scheduler> CFirings::SResult CheckRun(unsigned frame) {
    const std::vector<unsigned> intervals = Intervals(kCheckTicks);
    CFirings firings;
    Scheduler scheduler(firings, intervals);
    Register(scheduler, firings, kCheckTicks);
    std::mt19937 random(7);
    std::uniform_int_distribution<unsigned> pick(0, kCheckTicks - 1);
    std::vector<unsigned> resting;
    for (unsigned done = 0; done < kSpan; done += frame) {
        scheduler.Advance(frame);
        firings.EndFrame();
        if ((done + frame) % 400 == 0) {
            for (unsigned index : resting) {
                scheduler.Add(index);
            }
            resting.clear();
            if (done + frame == 4000) {
                for (unsigned round = 0; round < 2; ++round) {
                    for (unsigned index = 0; index < kCheckTicks; ++index) {
                        scheduler.Del(index);
                        scheduler.Add(index);
                    }
                }
            }
            for (unsigned k = 0; k < 8; ++k) {
                const unsigned index = pick(random);
                scheduler.Del(index);
                scheduler.Add(index);
            }
            for (unsigned k = 0; k < 3; ++k) {
                const unsigned index = pick(random);
                if (std::find(resting.begin(), resting.end(), index) == resting.end()) {
                    scheduler.Del(index);
                    resting.push_back(index);
                }
            }
            scheduler.Settle();
        }
    }
    return firings.Result();
}

void CheckSameFirings() {
    CFirings::SResult first;
    for (unsigned frame : {1u, kLongFrame}) {
        const CFirings::SResult ours = CheckRun<COurs>(frame);
        const CFirings::SResult asio = CheckRun<CAsio>(frame);
        const CFirings::SResult heap = CheckRun<CHeap>(frame);
        const std::string label = "check with frames of " + std::to_string(frame) + " units";
        if (ours.count == 0) {
            Fail(label.c_str(), "nothing fired");
        }
        if (!(asio == ours)) {
            Fail(label.c_str(), "Asio " + Describe(asio) + ", ours " + Describe(ours));
        }
        if (!(heap == ours)) {
            Fail(label.c_str(), "priority_queue " + Describe(heap) + ", ours " + Describe(ours));
        }
        // Both frame lengths cover the same units: the same firings in all.
        if (frame == 1) {
            first = ours;
        } else if (ours.count != first.count || ours.total != first.total) {
            Fail(label.c_str(), Describe(ours) + ", with frames of 1 unit " + Describe(first));
        }
    }
}

// Every timed run is compared with the first one of its case (all
// contenders), and (a) with (b): they cover the same units.
void CheckTimedRun(unsigned frame, const char* contender, const CFirings::SResult& result) {
    static CFirings::SResult first[2];
    static bool seen[2] = {false, false};
    static CFirings::SResult span;
    static bool spanSeen = false;
    const unsigned kind = frame == 1 ? 0 : 1;
    if (!seen[kind]) {
        first[kind] = result;
        seen[kind] = true;
    } else if (!(result == first[kind])) {
        Fail(contender,
             "timed run fired " + Describe(result) + ", an earlier run " + Describe(first[kind]));
    }
    if (!spanSeen) {
        span = result;
        spanSeen = true;
    } else if (result.count != span.count || result.total != span.total) {
        Fail(contender,
             "timed run fired " + Describe(result) + ", the other frame length " + Describe(span));
    }
}

// ---- Cases ----

// (a) and (b): kTicks ticks, registered before the clock starts; kSpan units
// in frames of `frame` units. One iteration is the whole span.
template <typename Scheduler>
void Frames(benchmark::State& state, const char* contender, unsigned frame) {
    const std::vector<unsigned> intervals = Intervals(kTicks);
    CFirings firings;
    Scheduler scheduler(firings, intervals);
    Register(scheduler, firings, kTicks);
    firings.Reset();
    for (auto _ : state) {
        RunFrames(scheduler, firings, frame);
    }
    CheckTimedRun(frame, contender, firings.Result());
    state.SetItemsProcessed(static_cast<std::int64_t>(firings.Result().count));
}

// (c) kTicks ticks registered; each pair unregisters one of them and registers
// it again (the ticks in a fixed random order). Time stands still, so nothing
// fires. Settle() runs every 1024 pairs, inside the clock: Asio's cancelled
// handlers run there.
template <typename Scheduler> void AddDel(benchmark::State& state) {
    constexpr unsigned kSettleEvery = 1024;
    const std::vector<unsigned> intervals = Intervals(kTicks);
    std::vector<unsigned> order(kTicks);
    std::iota(order.begin(), order.end(), 0u);
    std::shuffle(order.begin(), order.end(), std::mt19937(20261210));
    CFirings firings;
    Scheduler scheduler(firings, intervals);
    for (unsigned k = 0; k < kTicks; ++k) {
        scheduler.Add(k);
    }
    std::size_t next = 0;
    unsigned unsettled = 0;
    for (auto _ : state) {
        const unsigned index = order[next];
        next = next + 1 == order.size() ? 0 : next + 1;
        scheduler.Del(index);
        scheduler.Add(index);
        if (++unsettled == kSettleEvery) {
            unsettled = 0;
            scheduler.Settle();
        }
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()));
}

template <typename Scheduler> void RegisterContender(const char* name) {
    const std::string prefix = "OrvexTick/";
    benchmark::RegisterBenchmark(
        (prefix + "frame-1/" + name).c_str(),
        [name](benchmark::State& state) { Frames<Scheduler>(state, name, 1); })
        ->Iterations(1)
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark(
        (prefix + "frame-16/" + name).c_str(),
        [name](benchmark::State& state) { Frames<Scheduler>(state, name, kLongFrame); })
        ->Iterations(1)
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark((prefix + "add-del/" + name).c_str(),
                                 [](benchmark::State& state) { AddDel<Scheduler>(state); });
}

} // namespace

int main(int argc, char** argv) {
    CheckSameFirings();
    RegisterContender<COurs>("Orvex");
    RegisterContender<CAsio>("Asio");
    RegisterContender<CHeap>("priority_queue");
    return RunRegisteredBenchmarks(argc, argv);
}
