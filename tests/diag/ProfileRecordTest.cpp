// The profiler's recording: sections driven with chosen times through the
// recording core, saved, and the file read back with an independent JSON
// reader; the ring against a model; two threads; saving while a thread
// records.
#include "OrvexCommon/diag/OrvexProfile.h"
#include "OrvexCommon/diag/detail/ProfileRecorder.h"
#include "OrvexCommon/platform/OrvexSys.h"
#include "OrvexCommon/time/detail/ClockState.h"

#include "MiniJson.h"
#include "OrvexScratch.h"
#include "OrvexTestSupport.h"
#include "ProfileRecordSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <deque>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace Orvex;
using detail::CTraceRing;
using detail::ProfileTrace;
using detail::TraceKind;
using OrvexTest::Json;

// The session's start on the fine clock: times in the file count from here.
constexpr std::int64_t kOrigin = 7000000000;

CProfile* ProcessWide(const char* label) {
    return OrvexTest::ProcessWideProfile(label, "ProfileRecordTest.cpp");
}

sys::ClockReading At(std::int64_t nanoseconds) {
    return OrvexTest::ClockAt(kOrigin, nanoseconds);
}

// A session of the process's recorder for one test, started at kOrigin.
class Session {
public:
    explicit Session(unsigned capacity) {
        EXPECT_TRUE(detail::ProfileRecorder().Start(capacity, kOrigin));
    }
    ~Session() { StopProfileRecord(); }
};

// The file SaveProfileRecord writes, read back.
Json SaveAndRead(const char* tag) {
    OrvexTest::ScratchPaths scratch;
    const std::wstring path = scratch.Add(OrvexTest::UniqueName(tag));
    EXPECT_TRUE(SaveProfileRecord(path.c_str()));
    std::ifstream file(std::filesystem::path(path), std::ios::binary);
    std::stringstream text;
    text << file.rdbuf();
    EXPECT_TRUE(OrvexTest::IsWellFormedUtf8(text.str()));
    return OrvexTest::JsonReader::Parse(text.str());
}

struct Event {
    std::string name;
    std::string cat;
    std::string ts;  // the literal text, microseconds
    std::string dur; // likewise
    unsigned depth;
};

// The complete events of thread `tid`, in the file's order.
std::vector<Event> EventsOf(const Json& file, unsigned tid) {
    std::vector<Event> events;
    for (const Json& event : file["traceEvents"].items) {
        if (event["ph"].text == "X" && event["tid"].number == tid) {
            EXPECT_EQ(event["pid"].number, sys::CurrentProcessId());
            events.push_back(Event{event["name"].text, event["cat"].text, event["ts"].text,
                                   event["dur"].text,
                                   static_cast<unsigned>(event["args"]["depth"].number)});
        }
    }
    return events;
}

// The thread-name metadata of thread `tid`.
const Json& ThreadMeta(const Json& file, unsigned tid) {
    for (const Json& event : file["traceEvents"].items) {
        if (event["ph"].text == "M" && event["name"].text == "thread_name" &&
            event["tid"].number == tid) {
            return event["args"];
        }
    }
    throw std::runtime_error("no thread_name for the thread");
}

// Each event of depth d > 0 lies inside the latest event before it of depth
// d - 1, which begins no later.
void ExpectNested(const std::vector<Event>& events) {
    std::vector<std::pair<double, double>> open; // by depth: begin, end
    for (const Event& event : events) {
        const double begin = std::stod(event.ts);
        const double end = begin + std::stod(event.dur);
        ASSERT_LE(event.depth, open.size()) << event.name;
        if (event.depth > 0) {
            EXPECT_GE(begin, open[event.depth - 1].first) << event.name;
            EXPECT_LE(end, open[event.depth - 1].second) << event.name;
        }
        open.resize(event.depth);
        open.emplace_back(begin, end);
    }
}

// One step of a script: a section of `profile` begins or ends at `time` ns.
struct Step {
    CProfile* profile;
    TraceKind kind;
    bool begin;
    std::int64_t time;
};

void Play(const std::vector<Step>& script) {
    for (const Step& step : script) {
        if (step.begin) {
            ProfileTrace::Begin(*step.profile, step.kind, At(step.time));
        } else {
            ProfileTrace::End(*step.profile, step.kind, At(step.time));
        }
    }
}

TEST(ProfileRecord, ScriptedSectionsAreWrittenWithTheirTimesAndNesting) {
    static const char frame[] = "record: frame";
    static const char update[] = "record: update";
    static const char work[] = "record: work";
    static const char step[] = "record: step";
    CProfile* f = ProcessWide(frame);
    CProfile* u = ProcessWide(update);
    CProfile* w = ProcessWide(work);
    CProfile* s = ProcessWide(step);
    const long long hitsBefore = f->GetHitCount();
    Session session(64);
    const TraceKind hit = TraceKind::Hit, block = TraceKind::Block;
    Play({{f, hit, true, 1000},
          {u, hit, true, 1500},
          {u, hit, false, 2750},
          {w, block, true, 3000},
          {s, hit, true, 3100},
          {s, hit, false, 3601},
          {s, hit, true, 4000},
          {s, hit, false, 8999},
          {w, block, false, 9000},
          {f, hit, false, 10000},
          {f, hit, true, 20000},
          {f, hit, false, 2020000},
          {u, hit, false, 2100000}, // not open: nothing
          {f, hit, true, 3000000},
          {f, hit, true, 3000500}, // begun again: starts over
          {f, hit, false, 3001000}});
    const Json file = SaveAndRead("scripted");
    const std::vector<Event> expected = {
        {frame, "hit", "1.000", "9.000", 0},    {update, "hit", "1.500", "1.250", 1},
        {work, "block", "3.000", "6.000", 1},   {step, "hit", "3.100", "0.501", 2},
        {step, "hit", "4.000", "4.999", 2},     {frame, "hit", "20.000", "2000.000", 0},
        {frame, "hit", "3000.500", "0.500", 0},
    };
    const std::vector<Event> events = EventsOf(file, sys::CurrentThreadId());
    ASSERT_EQ(events.size(), expected.size());
    for (std::size_t k = 0; k < expected.size(); ++k) {
        EXPECT_EQ(events[k].name, expected[k].name) << k;
        EXPECT_EQ(events[k].cat, expected[k].cat) << k;
        EXPECT_EQ(events[k].ts, expected[k].ts) << k;
        EXPECT_EQ(events[k].dur, expected[k].dur) << k;
        EXPECT_EQ(events[k].depth, expected[k].depth) << k;
    }
    ExpectNested(events);
    // The counters measured the same hits (the block added one hit of its own).
    EXPECT_EQ(f->GetHitCount() - hitsBefore, 3);
    EXPECT_EQ(file["displayTimeUnit"].text, "ms");
    EXPECT_EQ(file["otherData"]["droppedEvents"].number, 0);
    EXPECT_EQ(file["otherData"]["eventsPerThread"].number, 64);
    EXPECT_EQ(ThreadMeta(file, sys::CurrentThreadId())["droppedEvents"].number, 0);
}

// A ring's copy after `count` events (the k-th begins at k) in a ring of
// `capacity`.
TEST(ProfileRecord, AFullRingDropsTheOldestAndCountsThem) {
    static const char label[] = "record: ring";
    CProfile* profile = ProcessWide(label);
    for (unsigned capacity : {1u, 3u, 4u, 7u}) {
        for (unsigned count : {0u, capacity - 1, capacity, capacity + 1, 3 * capacity + 2}) {
            std::vector<detail::STraceSlot> slots(capacity);
            CTraceRing ring;
            ring.Reset(slots.data(), capacity);
            for (unsigned k = 0; k < count; ++k) {
                ring.Open(*profile, TraceKind::Hit, k);
                ring.Close(*profile, TraceKind::Hit, k + 1, true);
            }
            std::vector<detail::STraceEvent> events(capacity);
            const CTraceRing::SSnapshot taken = ring.Snapshot(events.data());
            const unsigned kept = std::min(count, capacity);
            ASSERT_EQ(taken.count, kept) << capacity << " " << count;
            EXPECT_EQ(taken.dropped, count - kept);
            for (unsigned k = 0; k < kept; ++k) {
                EXPECT_EQ(events[k].begin, count - kept + k);
                EXPECT_EQ(events[k].end, count - kept + k + 1);
            }
        }
    }
    // The same through a session and its file.
    Session session(3);
    for (std::int64_t k = 0; k < 5; ++k) {
        ProfileTrace::Begin(*profile, TraceKind::Hit, At(k * 1000));
        ProfileTrace::End(*profile, TraceKind::Hit, At(k * 1000 + 10));
    }
    const Json file = SaveAndRead("ring");
    const std::vector<Event> events = EventsOf(file, sys::CurrentThreadId());
    ASSERT_EQ(events.size(), 3u);
    EXPECT_EQ(events[0].ts, "2.000");
    EXPECT_EQ(events[2].ts, "4.000");
    EXPECT_EQ(file["otherData"]["droppedEvents"].number, 2);
    EXPECT_EQ(ThreadMeta(file, sys::CurrentThreadId())["droppedEvents"].number, 2);
}

// The ring's rules written plainly: the open sections as a vector, the kept
// events as a bounded deque.
class RingModel {
public:
    explicit RingModel(unsigned capacity) : m_capacity(capacity) {}
    void Open(int profile, int kind, std::int64_t now) {
        if (!m_open.empty() && m_open.back().profile == profile && m_open.back().kind == kind) {
            m_open.back().begin = now;
        } else if (m_open.size() == detail::kMaxTraceDepth) {
            ++m_dropped;
        } else {
            m_open.push_back({profile, kind, now});
        }
    }
    void Close(int profile, int kind, std::int64_t now, bool keep) {
        for (std::size_t k = m_open.size(); k-- > 0;) {
            if (m_open[k].profile == profile && m_open[k].kind == kind) {
                const Section section = m_open[k];
                m_open.resize(k);
                if (keep) {
                    m_events.push_back({section.begin, now, static_cast<unsigned>(k)});
                    if (m_events.size() > m_capacity) {
                        m_events.pop_front();
                        ++m_dropped;
                    }
                }
                return;
            }
        }
    }
    struct Kept {
        std::int64_t begin, end;
        unsigned depth;
    };
    const std::deque<Kept>& Events() const { return m_events; }
    std::uint64_t Dropped() const { return m_dropped; }

private:
    struct Section {
        int profile, kind;
        std::int64_t begin;
    };
    unsigned m_capacity;
    std::vector<Section> m_open;
    std::deque<Kept> m_events;
    std::uint64_t m_dropped = 0;
};

TEST(ProfileRecord, TheRingFollowsItsModelThroughRandomSections) {
    static const char a[] = "model: a", b[] = "model: b", c[] = "model: c";
    CProfile* profiles[] = {ProcessWide(a), ProcessWide(b), ProcessWide(c)};
    for (unsigned seed = 1; seed <= 8; ++seed) {
        std::mt19937 random(seed);
        const unsigned capacity = 1 + random() % 20;
        std::vector<detail::STraceSlot> slots(capacity);
        CTraceRing ring;
        ring.Reset(slots.data(), capacity);
        RingModel model(capacity);
        std::int64_t now = 0;
        for (int op = 0; op < 4000; ++op) {
            const int profile = static_cast<int>(random() % 3);
            const int kind = static_cast<int>(random() % 2);
            now += random() % 50;
            // Runs of opens now and then, so that the depth limit is met.
            const bool open = (op / 500) % 4 == 3 ? random() % 8 != 0 : random() % 2 == 0;
            if (open) {
                ring.Open(*profiles[profile], static_cast<TraceKind>(kind), now);
                model.Open(profile, kind, now);
            } else {
                const bool keep = random() % 10 != 0;
                ring.Close(*profiles[profile], static_cast<TraceKind>(kind), now, keep);
                model.Close(profile, kind, now, keep);
            }
            if (op % 97 != 0) {
                continue;
            }
            std::vector<detail::STraceEvent> events(capacity);
            const CTraceRing::SSnapshot taken = ring.Snapshot(events.data());
            ASSERT_EQ(taken.count, model.Events().size()) << seed << " " << op;
            ASSERT_EQ(taken.dropped, model.Dropped()) << seed << " " << op;
            for (unsigned k = 0; k < taken.count; ++k) {
                EXPECT_EQ(events[k].begin, model.Events()[k].begin);
                EXPECT_EQ(events[k].end, model.Events()[k].end);
                EXPECT_EQ(events[k].depth, model.Events()[k].depth);
            }
        }
    }
}

TEST(ProfileRecord, TwoThreadsAreWrittenTheEndedOneToo) {
    static const char mainLabel[] = "threads: main";
    static const char outer[] = "threads: outer";
    static const char inner[] = "threads: inner";
    Session session(16);
    SetProfileThreadName("test \"main\"");
    Play({{ProcessWide(mainLabel), TraceKind::Hit, true, 100},
          {ProcessWide(mainLabel), TraceKind::Hit, false, 900}});
    unsigned otherId = 0;
    std::thread other([&] {
        otherId = sys::CurrentThreadId();
        SetProfileThreadName("second");
        Play({{ProcessWide(outer), TraceKind::Block, true, 200},
              {ProcessWide(inner), TraceKind::Hit, true, 300},
              {ProcessWide(inner), TraceKind::Hit, false, 450},
              {ProcessWide(outer), TraceKind::Block, false, 700}});
    });
    other.join();
    const Json file = SaveAndRead("threads");
    const unsigned mainId = sys::CurrentThreadId();
    ASSERT_NE(otherId, mainId);
    const std::vector<Event> mine = EventsOf(file, mainId);
    const std::vector<Event> theirs = EventsOf(file, otherId);
    ASSERT_EQ(mine.size(), 1u);
    EXPECT_EQ(mine[0].name, mainLabel);
    EXPECT_EQ(mine[0].dur, "0.800");
    ASSERT_EQ(theirs.size(), 2u);
    EXPECT_EQ(theirs[0].name, outer);
    EXPECT_EQ(theirs[0].cat, "block");
    EXPECT_EQ(theirs[0].depth, 0u);
    EXPECT_EQ(theirs[1].name, inner);
    EXPECT_EQ(theirs[1].ts, "0.300");
    EXPECT_EQ(theirs[1].depth, 1u);
    ExpectNested(theirs);
    EXPECT_EQ(ThreadMeta(file, mainId)["name"].text, "test \"main\"");
    EXPECT_FALSE(ThreadMeta(file, mainId)["ended"].boolean);
    EXPECT_EQ(ThreadMeta(file, otherId)["name"].text, "second");
    EXPECT_TRUE(ThreadMeta(file, otherId)["ended"].boolean);
    EXPECT_EQ(file["otherData"]["threads"].number, 2);
}

TEST(ProfileRecord, LabelsOfAnyBytesAreWrittenAsJsonStrings) {
    // Raw label bytes and the text the file must give back: escapes undone,
    // every byte outside well-formed UTF-8 as U+FFFD.
    static const char quote[] = "say \"hi\"\\now";
    static const char controls[] = "tab\there\nnew\x01\x1f end";
    static const char wide[] = "caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80";
    static const char broken[] = "a\xFF"
                                 "b\xC0\xAF"
                                 "c\xED\xA0\x80"
                                 "d\xE2\x82";
    static const char slash[] = "</script>";
    const struct {
        const char* label;
        const char* text;
    } cases[] = {
        {quote, "say \"hi\"\\now"},
        {controls, "tab\there\nnew\x01\x1f end"},
        {wide, "caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80"},
        {broken, "a\xEF\xBF\xBD"
                 "b\xEF\xBF\xBD\xEF\xBF\xBD"
                 "c\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"
                 "d\xEF\xBF\xBD\xEF\xBF\xBD"},
        {slash, "</script>"},
    };
    Session session(16);
    std::int64_t now = 0;
    for (const auto& item : cases) {
        ProfileTrace::Begin(*ProcessWide(item.label), TraceKind::Hit, At(now += 10));
        ProfileTrace::End(*ProcessWide(item.label), TraceKind::Hit, At(now += 10));
    }
    const std::vector<Event> events = EventsOf(SaveAndRead("labels"), sys::CurrentThreadId());
    ASSERT_EQ(events.size(), std::size(cases));
    for (std::size_t k = 0; k < events.size(); ++k) {
        EXPECT_EQ(events[k].name, cases[k].text) << k;
    }
}

TEST(ProfileRecord, ADisabledManagerRecordsNothingButClosesItsSections) {
    static const char off[] = "disabled: off";
    static const char on[] = "disabled: on";
    Session session(16);
    GetProfileMgr().EnableProfile(false);
    Play({{ProcessWide(on), TraceKind::Hit, true, 0},
          {ProcessWide(off), TraceKind::Block, true, 10},
          {ProcessWide(off), TraceKind::Block, false, 20}});
    GetProfileMgr().EnableProfile(true);
    Play({{ProcessWide(on), TraceKind::Hit, false, 30}});
    const std::vector<Event> events = EventsOf(SaveAndRead("disabled"), sys::CurrentThreadId());
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].name, on);
    EXPECT_EQ(events[0].depth, 0u); // the block closed: it is not around it
}

TEST(ProfileRecord, StartStopAndSaveWithTheRealClock) {
    EXPECT_FALSE(StartProfileRecord(0));
    EXPECT_FALSE(StartProfileRecord(detail::kMaxTraceCapacity + 1));
    EXPECT_FALSE(IsProfileRecording());
    static const char label[] = "real clock";
    CProfile* profile = ProcessWide(label);
    profile->CheckBegin(); // before recording: never in the file
    ASSERT_TRUE(StartProfileRecord(8));
    EXPECT_TRUE(IsProfileRecording());
    profile->CheckEnd();
    for (int k = 0; k < 3; ++k) {
        profile->CheckBegin();
        profile->StartDetailBlock();
        profile->EndDetailBlock();
        profile->CheckEnd();
    }
    StopProfileRecord();
    EXPECT_FALSE(IsProfileRecording());
    profile->CheckBegin(); // after: not recorded either
    profile->CheckEnd();
    const std::vector<Event> events = EventsOf(SaveAndRead("real"), sys::CurrentThreadId());
    ASSERT_EQ(events.size(), 6u);
    ExpectNested(events);
    for (std::size_t k = 0; k < events.size(); ++k) {
        EXPECT_EQ(events[k].cat, k % 2 == 0 ? "hit" : "block");
        EXPECT_GE(std::stod(events[k].dur), 0);
        EXPECT_GE(std::stod(events[k].ts), 0);
    }
    EXPECT_FALSE(SaveProfileRecord(L"no-such-folder-for-profile/x.json"));
    EXPECT_FALSE(SaveProfileRecord(nullptr));
}

// A thread's first section of a session takes the thread's ring, which for
// this capacity takes about a second to make: none of that is the section's.
TEST(ProfileRecord, AThreadsFirstSectionIsNotChargedForItsRing) {
    CProfile* profile = ProcessWide("first section");
    ASSERT_TRUE(StartProfileRecord(4194304));
    std::thread([profile] {
        profile->CheckBegin();
        profile->CheckEnd();
    }).join();
    StopProfileRecord();
    EXPECT_EQ(profile->GetHitCount(), 1);
    EXPECT_LT(profile->GetCurDelta(), 50); // milliseconds; well below the ring's cost
}

// A save that fails part-way (the disk fills up) returns false and leaves the
// previous file whole, with no temporary file beside it.
TEST(ProfileRecord, AFailedSaveKeepsThePreviousFile) {
    const OrvexTest::ScratchFolder folder(OrvexTest::TestScratchName(
        "oxtrace", *::testing::UnitTest::GetInstance()->current_test_info()));
    const std::wstring path = (folder.Path() / "trace.json").wstring();
    CProfile* profile = ProcessWide("a section saved many times over");
    {
        Session session(512);
        for (std::int64_t k = 0; k < 400; ++k) {
            Play({{profile, TraceKind::Hit, true, 10 * k},
                  {profile, TraceKind::Hit, false, 10 * k + 5}});
        }
    }
    ASSERT_TRUE(SaveProfileRecord(path.c_str()));
    const std::uintmax_t saved = std::filesystem::file_size(path);
    ASSERT_GT(saved, 8192u) << "the file must outgrow the limit below";
    std::ifstream first(std::filesystem::path(path), std::ios::binary);
    const std::string before((std::istreambuf_iterator<char>(first)),
                             std::istreambuf_iterator<char>());
    first.close();
    {
        OrvexTest::FileSizeLimit limit(4096);
        if (!limit.IsActive()) {
            GTEST_SKIP() << "no file size limit on this platform";
        }
        EXPECT_FALSE(SaveProfileRecord(path.c_str()));
    }
    std::ifstream second(std::filesystem::path(path), std::ios::binary);
    const std::string after((std::istreambuf_iterator<char>(second)),
                            std::istreambuf_iterator<char>());
    EXPECT_EQ(after, before);
    for (const auto& entry : std::filesystem::directory_iterator(folder.Path())) {
        EXPECT_EQ(entry.path().filename(), "trace.json") << "left behind";
    }
}

// Files saved while another thread records: each is whole JSON, and the
// recording thread's events in it are well-formed; at the end every event is
// accounted for, kept or dropped.
TEST(ProfileRecord, SavingWhileAnotherThreadRecords) {
    static const char outer[] = "busy: outer";
    static const char inner[] = "busy: inner";
    CProfile* outerProfile = ProcessWide(outer);
    CProfile* innerProfile = ProcessWide(inner);
    constexpr unsigned kCapacity = 64;
    constexpr int kRounds = 20000;
    ASSERT_TRUE(StartProfileRecord(kCapacity));
    std::atomic<unsigned> busyId{0};
    std::thread busy([&] {
        busyId.store(sys::CurrentThreadId());
        for (int k = 0; k < kRounds; ++k) {
            outerProfile->CheckBegin();
            innerProfile->CheckBegin();
            innerProfile->CheckEnd();
            outerProfile->CheckEnd();
        }
    });
    for (int save = 0; save < 20; ++save) {
        const Json file = SaveAndRead("busy");
        const std::vector<Event> events = EventsOf(file, busyId.load());
        EXPECT_LE(events.size(), kCapacity);
        for (const Event& event : events) {
            EXPECT_EQ(event.depth, event.name == outer ? 0u : 1u);
            EXPECT_GE(std::stod(event.dur), 0);
        }
    }
    busy.join();
    const Json file = SaveAndRead("busy-end");
    StopProfileRecord();
    const std::vector<Event> events = EventsOf(file, busyId.load());
    EXPECT_EQ(events.size(), kCapacity);
    EXPECT_EQ(ThreadMeta(file, busyId.load())["droppedEvents"].number, 2.0 * kRounds - kCapacity);
    ExpectNested(events);
}

} // namespace
