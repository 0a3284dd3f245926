// The recorder: sessions, the threads' records and the copy for the writer.
#include "OrvexCommon/diag/detail/ProfileRecorder.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace Orvex {
namespace detail {

// Constant-initialised: read before any dynamic initialiser may have run.
std::atomic<std::uint32_t> g_recordingSession{0};

struct CProfileRecorder::SThreadRecord {
    CProfileRecorder* recorder;
    SThreadRecord* next; // the recorder's list
    unsigned threadId;
    std::uint32_t session; // of the ring's events; 0: none yet
    bool ended;
    char name[kMaxTraceThreadName + 1];
    STraceSlot* slots; // heap storage of the ring, null when it has none
    CTraceRing ring;
};

CProfileRecorder& ProfileRecorder() {
    static CProfileRecorder recorder;
    return recorder;
}

CProfileRecorder::CProfileRecorder()
    : m_slot(sys::CreateThreadSlot(AtThreadExit)), m_records(nullptr), m_session(0), m_on(false),
      m_capacity(0), m_origin(0) {}

CProfileRecorder::~CProfileRecorder() {
    g_recordingSession.store(0, std::memory_order_release);
    // Windows calls AtThreadExit for live threads' records here; they stay
    // in the list and go below.
    sys::DestroyThreadSlot(m_slot);
    while (SThreadRecord* record = m_records) {
        m_records = record->next;
        FreeRecord(record);
    }
}

bool CProfileRecorder::Start(unsigned capacity, std::int64_t origin) {
    if (capacity == 0 || capacity > kMaxTraceCapacity || m_slot == nullptr) {
        return false;
    }
    sys::ScopedLock hold(m_lock.get());
    // Ended threads hold only events of the session now given up.
    for (SThreadRecord* record = m_records; record != nullptr;) {
        SThreadRecord* next = record->next;
        if (record->ended) {
            Unlink(record);
            FreeRecord(record);
        }
        record = next;
    }
    m_capacity = capacity;
    m_origin = origin;
    m_session = m_session + 1 == 0 ? 1 : m_session + 1;
    m_on.store(true, std::memory_order_relaxed);
    g_recordingSession.store(m_session, std::memory_order_release);
    return true;
}

void CProfileRecorder::Stop() {
    sys::ScopedLock hold(m_lock.get());
    m_on.store(false, std::memory_order_relaxed);
    g_recordingSession.store(0, std::memory_order_release);
}

CTraceRing* CProfileRecorder::CurrentRing() {
    const std::uint32_t session = g_recordingSession.load(std::memory_order_acquire);
    if (session == 0) {
        return nullptr;
    }
    auto* record = static_cast<SThreadRecord*>(sys::GetThreadSlot(m_slot));
    if (record == nullptr || record->session != session) {
        record = Renew(record);
    }
    return record != nullptr ? &record->ring : nullptr;
}

CProfileRecorder::SThreadRecord* CProfileRecorder::MakeRecord() {
    void* storage = sys::AllocateBlock(sizeof(SThreadRecord));
    if (storage == nullptr) {
        return nullptr;
    }
    auto* record = new (storage) SThreadRecord;
    record->recorder = this;
    record->threadId = sys::CurrentThreadId();
    record->session = 0;
    record->ended = false;
    record->name[0] = 0;
    record->slots = nullptr;
    record->ring.Reset(nullptr, 0);
    record->next = m_records;
    m_records = record;
    sys::SetThreadSlot(m_slot, record);
    return record;
}

CProfileRecorder::SThreadRecord* CProfileRecorder::Renew(SThreadRecord* record) {
    sys::ScopedLock hold(m_lock.get());
    if (!m_on.load(std::memory_order_relaxed) || m_slot == nullptr) {
        return nullptr; // stopped meanwhile
    }
    if (record == nullptr && (record = MakeRecord()) == nullptr) {
        return nullptr;
    }
    if (record->ring.Capacity() != m_capacity || record->slots == nullptr) {
        sys::FreeBlock(record->slots);
        // Without storage the thread records nothing and counts its losses.
        auto* slots = static_cast<STraceSlot*>(sys::AllocateBlock(sizeof(STraceSlot) * m_capacity));
        for (unsigned k = 0; slots != nullptr && k < m_capacity; ++k) {
            new (&slots[k]) STraceSlot;
        }
        record->slots = slots;
    }
    record->ring.Reset(record->slots, record->slots != nullptr ? m_capacity : 0);
    record->session = m_session;
    return record;
}

void CProfileRecorder::NameThread(const char* name) {
    if (m_slot == nullptr) {
        return;
    }
    sys::ScopedLock hold(m_lock.get());
    auto* record = static_cast<SThreadRecord*>(sys::GetThreadSlot(m_slot));
    if (record == nullptr && (record = MakeRecord()) == nullptr) {
        return;
    }
    const std::size_t length = name != nullptr ? std::strlen(name) : 0;
    const std::size_t kept = std::min<std::size_t>(length, kMaxTraceThreadName);
    std::memcpy(record->name, name != nullptr ? name : "", kept);
    record->name[kept] = 0;
}

void CProfileRecorder::Unlink(SThreadRecord* record) {
    SThreadRecord** link = &m_records;
    while (*link != record) {
        link = &(*link)->next;
    }
    *link = record->next;
}

void CProfileRecorder::FreeRecord(SThreadRecord* record) {
    sys::FreeBlock(record->slots);
    record->~SThreadRecord();
    sys::FreeBlock(record);
}

void CProfileRecorder::AtThreadExit(void* value) {
    auto* record = static_cast<SThreadRecord*>(value);
    CProfileRecorder& recorder = *record->recorder;
    sys::ScopedLock hold(recorder.m_lock.get());
    record->ended = true;
    // Its events are kept while its session may still be written; a thread
    // ended by force may not free on its way out, so its record waits for the
    // next session or teardown.
    if (record->session != recorder.m_session && !sys::ThreadEndedByForce()) {
        recorder.Unlink(record);
        FreeRecord(record);
    }
}

bool CProfileRecorder::Collect(STraceFile& file) const {
    file.processId = sys::CurrentProcessId();
    sys::ScopedLock hold(m_lock.get());
    file.origin = m_origin;
    file.capacity = m_capacity;
    try {
        for (const SThreadRecord* record = m_records; record != nullptr; record = record->next) {
            if (m_session == 0 || record->session != m_session) {
                continue;
            }
            file.threads.emplace_back();
            STraceThread& thread = file.threads.back();
            thread.id = record->threadId;
            std::memcpy(thread.name, record->name, sizeof(thread.name));
            thread.ended = record->ended;
            thread.events.resize(record->ring.Capacity());
            const CTraceRing::SSnapshot taken = record->ring.Snapshot(thread.events.data());
            thread.events.resize(taken.count);
            thread.dropped = taken.dropped;
        }
    } catch (const std::bad_alloc&) {
        return false;
    }
    // The list holds the newest thread first; the file, the oldest.
    std::reverse(file.threads.begin(), file.threads.end());
    return true;
}

} // namespace detail
} // namespace Orvex
