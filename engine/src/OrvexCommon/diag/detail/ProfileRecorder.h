// The profiler's recording: sessions, every thread's ring, the writer's copy.
//
// A session runs from StartProfileRecord to the next start; recording is on
// from the start to StopProfileRecord. Each thread that records while it is
// on gets a record (its id, its name, a ring of the session's capacity),
// found through a platform thread slot and kept in the recorder's list. A
// record outlives its thread, so that a session's file holds the threads that
// have ended too; records of ended threads whose session is over are freed at
// their thread's exit or at the next start, the rest at teardown.
//
// Threads: the recording path takes no lock. The list, a record's session,
// ring storage, name and end flag change under the recorder's lock, and
// always by the record's own thread except at thread exit and teardown;
// readers hold the lock. A ring's events are read while their thread records
// (see ProfileTrace.h).
#ifndef ORVEX_DIAG_DETAIL_PROFILERECORDER_H
#define ORVEX_DIAG_DETAIL_PROFILERECORDER_H

#include "OrvexCommon/diag/detail/ProfileTrace.h"
#include "OrvexCommon/diag/detail/ProfileTraceJson.h"
#include "OrvexCommon/platform/OrvexSys.h"

#include <atomic>
#include <cstdint>
#include <cstdio>

namespace Orvex {
namespace detail {

// The running session of the process-wide recorder, 0 while recording is off:
// the one value the measuring operations read when they do not record.
extern std::atomic<std::uint32_t> g_recordingSession;

inline bool IsRecording() {
    return g_recordingSession.load(std::memory_order_relaxed) != 0;
}

// Events a thread may keep: a ring of this many slots stays far below 2 GiB.
constexpr unsigned kMaxTraceCapacity = 1u << 24;

class CProfileRecorder {
public:
    CProfileRecorder();
    // Gives up the thread-exit calls, then frees every record.
    ~CProfileRecorder();
    CProfileRecorder(const CProfileRecorder&) = delete;
    CProfileRecorder& operator=(const CProfileRecorder&) = delete;

    // A new session at fine time `origin`, each thread keeping `capacity`
    // events; the previous session's events are given up. False, with
    // recording off, for a capacity of 0 or above kMaxTraceCapacity, or when
    // there was no thread slot to be had.
    bool Start(unsigned capacity, std::int64_t origin);
    void Stop();

    // The calling thread's ring in the running session, made or renewed on
    // its first use there; null while recording is off, and for a thread
    // whose record could not be made.
    CTraceRing* CurrentRing();

    // Names the calling thread in the files (made for it if need be).
    void NameThread(const char* name);

    // The last session's events of every thread, in the file's form; false
    // when no memory is left for the copy. Events of a session never started
    // are none.
    bool Collect(STraceFile& file) const;

private:
    struct SThreadRecord;

    SThreadRecord* Renew(SThreadRecord* record);
    SThreadRecord* MakeRecord();
    void Unlink(SThreadRecord* record);
    static void FreeRecord(SThreadRecord* record);
    static void AtThreadExit(void* value);

    sys::OwnedLock m_lock;
    sys::ThreadSlot* m_slot; // null when the platform had none left
    SThreadRecord* m_records;
    std::uint32_t m_session; // the last session started, 0 before the first
    std::atomic<bool> m_on;
    unsigned m_capacity;
    std::int64_t m_origin;
};

// The process's recorder, created on first use (by the recording functions)
// and destroyed at unload. Its sessions are the ones g_recordingSession shows.
CProfileRecorder& ProfileRecorder();

// The recording half of the measuring operations, given the time instead of
// reading the clock (as ProfileTiming is for the counters), so that tests
// drive it with chosen times. Only while recording is on.
struct ProfileTrace {
    // CheckBegin (Hit) and StartDetailBlock (Block) at a given time.
    static void Begin(CProfile& profile, TraceKind kind, sys::ClockReading now);
    // The same now: the clocks are read once the thread's ring is had.
    static void BeginNow(CProfile& profile, TraceKind kind);
    // CheckEnd (Hit) and EndDetailBlock (Block).
    static void End(CProfile& profile, TraceKind kind, sys::ClockReading now);
};

} // namespace detail
} // namespace Orvex

#endif // ORVEX_DIAG_DETAIL_PROFILERECORDER_H
