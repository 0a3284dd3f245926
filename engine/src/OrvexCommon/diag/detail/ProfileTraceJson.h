// A recording written as a trace-event file (JSON): one complete event ("X")
// per section with its thread, start and duration in microseconds (three
// decimals: nanoseconds), a thread-name metadata event per named thread, and
// the events lost in "otherData" and in a metadata event of each thread.
#ifndef ORVEX_DIAG_DETAIL_PROFILETRACEJSON_H
#define ORVEX_DIAG_DETAIL_PROFILETRACEJSON_H

#include "OrvexCommon/diag/detail/ProfileTrace.h"
#include "OrvexCommon/memory/OrvexMemory.h"

#include <cstdint>
#include <cstdio>

namespace Orvex {
namespace detail {

// Longest thread name kept, in bytes (a longer one is cut).
constexpr unsigned kMaxTraceThreadName = 63;

struct STraceThread {
    unsigned id;
    char name[kMaxTraceThreadName + 1]; // empty: never named
    bool ended;                         // the thread has ended
    std::uint64_t dropped;
    TOrvexVector<STraceEvent> events; // ordered by begin, outer first
};

struct STraceFile {
    unsigned processId;
    std::int64_t origin; // fine time of the session's start: time 0 in the file
    unsigned capacity;   // events kept per thread
    TOrvexVector<STraceThread> threads;
};

// Orders each thread's events by begin time, an enclosing section before the
// sections it holds.
void SortTraceEvents(STraceFile& trace);

// Writes the file; false when a write failed. Labels are written as JSON
// strings whatever bytes they hold: quotes, backslashes and control
// characters escaped, each byte that is not part of well-formed UTF-8
// replaced by U+FFFD.
bool WriteTraceJson(std::FILE* file, const STraceFile& trace);

} // namespace detail
} // namespace Orvex

#endif // ORVEX_DIAG_DETAIL_PROFILETRACEJSON_H
