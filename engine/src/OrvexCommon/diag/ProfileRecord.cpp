// The recording functions of the profiler's interface, and the recording
// half of the measuring operations.
#include "OrvexCommon/diag/OrvexProfile.h"
#include "OrvexCommon/diag/detail/ProfileMgr.h"
#include "OrvexCommon/diag/detail/ProfileRecorder.h"
#include "OrvexCommon/diag/detail/ProfileTiming.h"
#include "OrvexCommon/filesystem/detail/FileReplace.h"
#include "OrvexCommon/time/detail/ClockState.h"

#include <new>

namespace Orvex {

namespace detail {

namespace {

void OpenSection(CProfile& profile, TraceKind kind, CTraceRing* ring, sys::ClockReading now) {
    if (kind == TraceKind::Hit) {
        ProfileTiming::Begin(profile, ProcessTimeAt(now.milliseconds));
    } else if (ProfileMgr().IsEnabled()) {
        ProfileTiming::OpenBlock(profile);
    }
    if (ring != nullptr) {
        ring->Open(profile, kind, static_cast<std::int64_t>(now.nanoseconds));
    }
}

} // namespace

void ProfileTrace::Begin(CProfile& profile, TraceKind kind, sys::ClockReading now) {
    OpenSection(profile, kind, ProfileRecorder().CurrentRing(), now);
}

void ProfileTrace::BeginNow(CProfile& profile, TraceKind kind) {
    // The ring first: a thread's first section of a session takes its ring
    // (storage for the whole capacity), and that must not count as the
    // section's time.
    CTraceRing* ring = ProfileRecorder().CurrentRing();
    OpenSection(profile, kind, ring, sys::ReadMonotonicClocks());
}

void ProfileTrace::End(CProfile& profile, TraceKind kind, sys::ClockReading now) {
    // A disabled manager counts nothing, and the timeline shows what it counts.
    const bool enabled = ProfileMgr().IsEnabled();
    if (enabled && kind == TraceKind::Hit) {
        ProfileTiming::EndHit(profile, ProcessTimeAt(now.milliseconds));
    } else if (enabled) {
        ProfileTiming::CloseBlock(profile);
    }
    if (CTraceRing* ring = ProfileRecorder().CurrentRing()) {
        ring->Close(profile, kind, static_cast<std::int64_t>(now.nanoseconds), enabled);
    }
}

namespace {

bool WriteTrace(std::FILE* stream, const void* trace) {
    return WriteTraceJson(stream, *static_cast<const STraceFile*>(trace));
}

} // namespace

} // namespace detail

bool StartProfileRecord(unsigned int capacity) {
    const sys::ClockReading now = sys::ReadMonotonicClocks();
    return detail::ProfileRecorder().Start(capacity, static_cast<std::int64_t>(now.nanoseconds));
}

void StopProfileRecord() {
    if (detail::IsRecording()) {
        detail::ProfileRecorder().Stop();
    }
}

bool IsProfileRecording() {
    return detail::IsRecording();
}

bool SaveProfileRecord(const wchar_t* fileName) {
    if (fileName == nullptr) {
        return false;
    }
    try {
        detail::STraceFile trace;
        if (!detail::ProfileRecorder().Collect(trace)) {
            return false;
        }
        detail::SortTraceEvents(trace);
        return detail::SaveByReplacing(fileName, detail::WriteTrace, &trace);
    } catch (const std::bad_alloc&) {
        return false;
    }
}

void SetProfileThreadName(const char* name) {
    detail::ProfileRecorder().NameThread(name);
}

} // namespace Orvex
