// A profile's counters: the measuring operations and the getters. Nothing
// here locks; one thread at a time uses a profile.
#include "OrvexCommon/diag/OrvexProfile.h"
#include "OrvexCommon/diag/detail/ProfileMgr.h"
#include "OrvexCommon/diag/detail/ProfileRecorder.h"
#include "OrvexCommon/diag/detail/ProfileTiming.h"
#include "OrvexCommon/time/OrvexClock.h"

#include <cstdint>
#include <new>

namespace Orvex {

namespace detail {

namespace {

bool IsFull(const TOrvexVector<long long>& details, unsigned int capacity) {
    return details.size() >= capacity;
}

// Appends without letting a pool out of memory reach the measured code: the
// entry is then lost, the counters are not. No allocation happens once the
// list has been full, because dropping the oldest keeps the storage.
void Append(TOrvexVector<long long>& details, unsigned int capacity, long long value) {
    if (IsFull(details, capacity)) {
        details.erase(details.begin());
    }
    try {
        details.push_back(value);
    } catch (const std::bad_alloc&) {
    }
}

} // namespace

void ProfileTiming::CountHit(CProfile& profile, long long duration) {
    if (duration > profile.m_max) {
        profile.m_max = duration;
    }
    if (duration < profile.m_min) {
        profile.m_min = duration;
    }
    ++profile.m_hitCount;
}

void ProfileTiming::EndHit(CProfile& profile, long long now) {
    const long long duration = now - profile.m_beginTime;
    profile.m_total += duration;
    profile.m_lastDelta = duration;
    CountHit(profile, duration);
    if (profile.m_detailCapacity != 0 && duration >= kLongHit) {
        Append(*profile.m_details, profile.m_detailCapacity, duration);
    }
}

void ProfileTiming::OpenBlock(CProfile& profile) {
    if (profile.m_detailCapacity != 0) {
        Append(*profile.m_details, profile.m_detailCapacity, 0);
    }
}

void ProfileTiming::EndPiece(CProfile& profile, long long now) {
    // Without an open block there is no entry to add to (always so for a
    // profile without details): the piece is ignored.
    if (profile.m_details->empty()) {
        return;
    }
    const long long duration = now - profile.m_beginTime;
    profile.m_total += duration;
    profile.m_details->back() += duration;
}

void ProfileTiming::CloseBlock(CProfile& profile) {
    // Likewise a block that was never opened.
    if (profile.m_details->empty()) {
        return;
    }
    CountHit(profile, profile.m_details->back());
}

} // namespace detail

CProfile::CProfile(const char* file, unsigned int line, const char* function, const char* label,
                   unsigned int detailCapacity)
    : m_fileName(file), m_functionName(function), m_label(label), m_line(line), m_beginTime(0),
      m_total(0), m_max(0), m_min(0xFFFFFFFFll), m_lastDelta(0), m_context(0),
      m_detailCapacity(detailCapacity), m_details(nullptr), m_hitCount(0) {}

CProfile::~CProfile() {
    if (m_details != nullptr) {
        DeletePooledObject(m_details);
    }
}

CProfile& CProfile::operator=(const CProfile& other) {
    if (this == &other) {
        return *this;
    }
    // The list first: should it run out of memory, nothing has changed yet.
    // Each profile keeps its own list, so teardown releases each list once.
    // The label stays: it is the key this profile is registered under, and
    // the registry's walk finds a profile's successor by it.
    *m_details = *other.m_details;
    m_fileName = other.m_fileName;
    m_functionName = other.m_functionName;
    m_line = other.m_line;
    m_beginTime = other.m_beginTime;
    m_total = other.m_total;
    m_max = other.m_max;
    m_min = other.m_min;
    m_lastDelta = other.m_lastDelta;
    m_context = other.m_context;
    m_detailCapacity = other.m_detailCapacity;
    m_hitCount = other.m_hitCount;
    return *this;
}

// ---- Measuring: the clock is read only where the result is used ----
// While recording, the section's ends go through ProfileTrace, which reads
// both clocks at once.

void CProfile::CheckBegin() {
    if (detail::IsRecording()) {
        detail::ProfileTrace::BeginNow(*this, detail::TraceKind::Hit);
        return;
    }
    detail::ProfileTiming::Begin(*this, GetProcessTime());
}

void CProfile::CheckEnd() {
    if (detail::IsRecording()) {
        detail::ProfileTrace::End(*this, detail::TraceKind::Hit, sys::ReadMonotonicClocks());
        return;
    }
    if (detail::ProfileMgr().IsEnabled()) {
        detail::ProfileTiming::EndHit(*this, GetProcessTime());
    }
}

void CProfile::StartDetailBlock() {
    if (detail::IsRecording()) {
        detail::ProfileTrace::BeginNow(*this, detail::TraceKind::Block);
        return;
    }
    if (detail::ProfileMgr().IsEnabled()) {
        detail::ProfileTiming::OpenBlock(*this);
    }
}

void CProfile::EndDetailBlock() {
    if (detail::IsRecording()) {
        detail::ProfileTrace::End(*this, detail::TraceKind::Block, sys::ReadMonotonicClocks());
        return;
    }
    if (detail::ProfileMgr().IsEnabled()) {
        detail::ProfileTiming::CloseBlock(*this);
    }
}

void CProfile::StartAddDetail() {
    detail::ProfileTiming::Begin(*this, GetProcessTime());
}

void CProfile::EndAddDetail() {
    if (detail::ProfileMgr().IsEnabled()) {
        detail::ProfileTiming::EndPiece(*this, GetProcessTime());
    }
}

// ---- Reading ----

bool CProfile::Detail() const {
    return m_detailCapacity != 0;
}

long long CProfile::GetDeltaTime(long long index) const {
    if (index >= static_cast<long long>(m_details->size())) {
        return 0;
    }
    return m_details->at(static_cast<std::uint32_t>(index));
}

const char* CProfile::GetLabel() const {
    return m_label;
}
const char* CProfile::GetFileName() const {
    return m_fileName;
}
const char* CProfile::GetFunctionName() const {
    return m_functionName;
}
unsigned int CProfile::GetLine() const {
    return m_line;
}
long long CProfile::GetTotalCpuTick() const {
    return m_total;
}
long long CProfile::GetHitCount() const {
    return m_hitCount;
}
long long CProfile::GetTotalCount() const {
    return m_hitCount;
}
long long CProfile::GetMax() const {
    return m_max;
}
long long CProfile::GetMin() const {
    return m_min;
}
long long CProfile::GetCurDelta() const {
    return m_lastDelta;
}
unsigned int CProfile::GetContext() const {
    return m_context;
}
void CProfile::SetContext(unsigned int context) {
    m_context = context;
}

} // namespace Orvex
