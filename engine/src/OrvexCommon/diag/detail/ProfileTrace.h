// The profiler's recording on one thread: the sections it has open and a ring
// of the sections it finished, with their times on the fine clock.
//
// Only the owning thread opens, closes and records, without a lock. Another
// thread reads the ring (Snapshot) while the owner goes on: each slot carries
// the number of the event in it, cleared before the owner rewrites the slot's
// fields (release stores, read with acquire loads), so a reader keeps only
// slots whose number it saw unchanged before and after reading them (a
// sequence lock per slot). Every shared field is an atomic;
// the owner's open sections are its alone.
#ifndef ORVEX_DIAG_DETAIL_PROFILETRACE_H
#define ORVEX_DIAG_DETAIL_PROFILETRACE_H

#include "OrvexCommon/diag/OrvexProfile.h"

#include <atomic>
#include <cstdint>

namespace Orvex {
namespace detail {

// What a recorded section was opened by.
enum class TraceKind : unsigned char {
    Hit,   // CheckBegin .. CheckEnd
    Block, // StartDetailBlock .. EndDetailBlock
};

// One finished section as a reader gets it. Times are nanoseconds on the
// fine clock (sys::ReadMonotonicClocks).
struct STraceEvent {
    const char* label;
    std::int64_t begin;
    std::int64_t end;
    unsigned depth; // sections open around it on its thread when it began
    TraceKind kind;
};

// Sections open at once on one thread; one more is not recorded (it counts
// as dropped).
constexpr unsigned kMaxTraceDepth = 64;

// A ring slot: the event's fields, each an atomic so that a reader racing the
// owner reads values, never a torn word.
struct STraceSlot {
    std::atomic<std::uint64_t> number; // the event's number + 1; 0 while rewritten
    std::atomic<const char*> label;
    std::atomic<std::int64_t> begin;
    std::atomic<std::int64_t> end;
    std::atomic<std::uint32_t> depthAndKind; // depth << 1 | kind
};

class CTraceRing {
public:
    // An empty ring over `slots` (`capacity` of them, storage the caller
    // owns; 0 slots: every event is dropped).
    void Reset(STraceSlot* slots, unsigned capacity);

    // ---- The owner's side ----

    // Opens a section at `now`. The section on top of the stack, when it is
    // the same profile and kind, is started again instead (a begin whose end
    // never came).
    void Open(const CProfile& profile, TraceKind kind, std::int64_t now);
    // Closes the innermost open section of this profile and kind at `now`,
    // and any opened inside it that never closed; records it when `keep`.
    // Without such an open section nothing happens.
    void Close(const CProfile& profile, TraceKind kind, std::int64_t now, bool keep);

    // ---- Any thread's side ----

    struct SSnapshot {
        std::uint64_t dropped; // events lost: overwritten, too deep, no storage
        unsigned count;        // events stored in `events`, oldest first
    };
    // Copies the events still in the ring, oldest first, into `events` (room
    // for Capacity() of them). An event the owner overwrites during the copy
    // is left out and counted as dropped.
    SSnapshot Snapshot(STraceEvent* events) const;

    unsigned Capacity() const { return m_capacity; }

private:
    struct SOpenSection {
        const CProfile* profile;
        std::int64_t begin;
        TraceKind kind;
    };

    void Record(const STraceEvent& event);

    STraceSlot* m_slots;
    unsigned m_capacity;
    unsigned m_nextSlot;                  // the owner's: where the next event goes
    unsigned m_depth;                     // the owner's: open sections
    std::atomic<std::uint64_t> m_written; // events recorded since the reset
    std::atomic<std::uint64_t> m_lost;    // too deep or without storage
    SOpenSection m_open[kMaxTraceDepth];
};

} // namespace detail
} // namespace Orvex

#endif // ORVEX_DIAG_DETAIL_PROFILETRACE_H
