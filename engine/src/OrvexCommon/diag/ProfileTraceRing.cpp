// One thread's recording: open sections, the ring, and the copy a reader
// takes while the owner records.
#include "OrvexCommon/diag/detail/ProfileTrace.h"

namespace Orvex {
namespace detail {

namespace {

std::uint32_t PackDepth(unsigned depth, TraceKind kind) {
    return static_cast<std::uint32_t>(depth) << 1 | static_cast<std::uint32_t>(kind);
}

} // namespace

void CTraceRing::Reset(STraceSlot* slots, unsigned capacity) {
    m_slots = slots;
    m_capacity = capacity;
    m_nextSlot = 0;
    m_depth = 0;
    m_written.store(0, std::memory_order_relaxed);
    m_lost.store(0, std::memory_order_relaxed);
    for (unsigned k = 0; k < capacity; ++k) {
        slots[k].number.store(0, std::memory_order_relaxed);
    }
}

void CTraceRing::Open(const CProfile& profile, TraceKind kind, std::int64_t now) {
    if (m_depth > 0 && m_open[m_depth - 1].profile == &profile &&
        m_open[m_depth - 1].kind == kind) {
        m_open[m_depth - 1].begin = now;
        return;
    }
    if (m_depth == kMaxTraceDepth) {
        // Its end will find nothing open: lost now.
        m_lost.store(m_lost.load(std::memory_order_relaxed) + 1, std::memory_order_relaxed);
        return;
    }
    m_open[m_depth++] = SOpenSection{&profile, now, kind};
}

void CTraceRing::Close(const CProfile& profile, TraceKind kind, std::int64_t now, bool keep) {
    unsigned depth = m_depth;
    while (depth > 0 && (m_open[depth - 1].profile != &profile || m_open[depth - 1].kind != kind)) {
        --depth;
    }
    if (depth == 0) {
        return;
    }
    m_depth = depth - 1;
    if (keep) {
        const SOpenSection& section = m_open[m_depth];
        Record(STraceEvent{profile.GetLabel(), section.begin, now, m_depth, kind});
    }
}

void CTraceRing::Record(const STraceEvent& event) {
    if (m_capacity == 0) {
        m_lost.store(m_lost.load(std::memory_order_relaxed) + 1, std::memory_order_relaxed);
        return;
    }
    const std::uint64_t number = m_written.load(std::memory_order_relaxed);
    STraceSlot& slot = m_slots[m_nextSlot];
    // Cleared first. The fields are release stores (plain stores on x86):
    // a reader whose acquire load sees one of them also sees the clearing,
    // so its second look at the number tells it the slot changed. No fence:
    // thread sanitizers do not model fences.
    slot.number.store(0, std::memory_order_relaxed);
    slot.label.store(event.label, std::memory_order_release);
    slot.begin.store(event.begin, std::memory_order_release);
    slot.end.store(event.end, std::memory_order_release);
    slot.depthAndKind.store(PackDepth(event.depth, event.kind), std::memory_order_release);
    slot.number.store(number + 1, std::memory_order_release);
    m_written.store(number + 1, std::memory_order_release);
    m_nextSlot = m_nextSlot + 1 == m_capacity ? 0 : m_nextSlot + 1;
}

CTraceRing::SSnapshot CTraceRing::Snapshot(STraceEvent* events) const {
    const std::uint64_t written = m_written.load(std::memory_order_acquire);
    const std::uint64_t first = written > m_capacity ? written - m_capacity : 0;
    SSnapshot result{first + m_lost.load(std::memory_order_relaxed), 0};
    for (std::uint64_t number = first; number < written; ++number) {
        const STraceSlot& slot = m_slots[number % m_capacity];
        const std::uint64_t before = slot.number.load(std::memory_order_acquire);
        STraceEvent event;
        event.label = slot.label.load(std::memory_order_acquire);
        event.begin = slot.begin.load(std::memory_order_acquire);
        event.end = slot.end.load(std::memory_order_acquire);
        const std::uint32_t packed = slot.depthAndKind.load(std::memory_order_acquire);
        if (before != number + 1 || slot.number.load(std::memory_order_relaxed) != before) {
            ++result.dropped; // overwritten by a newer event meanwhile
            continue;
        }
        event.depth = packed >> 1;
        event.kind = static_cast<TraceKind>(packed & 1);
        events[result.count++] = event;
    }
    return result;
}

} // namespace detail
} // namespace Orvex
