// Ticks and the tick manager's timing wheel.
#include "OrvexCommon/time/OrvexTick.h"
#include "OrvexCommon/log/OrvexLog.h"

#include <cstring>
#include <ostream>

namespace Orvex {

namespace {

constexpr unsigned short kNoTickId = 0xFFFF;

} // namespace

// ---- CTick ----

CTick::CTick(bool dispatchCpp)
    : m_manager(nullptr), m_interval(0), m_nextTickTime(0), m_tickId(kNoTickId),
      m_dispatchCpp(dispatchCpp) {}

CTick::CTick(const CTick& other)
    : COrvexObject(other), COrvexPoolObject(), COrvexListNode(), m_manager(nullptr), m_interval(0),
      m_nextTickTime(0), m_tickId(kNoTickId), m_dispatchCpp(other.m_dispatchCpp) {}

CTick& CTick::operator=(const CTick& other) {
    m_dispatchCpp = other.m_dispatchCpp;
    return *this;
}

CTick::~CTick() {
    if (m_manager != nullptr) {
        m_manager->DelTick(this);
    }
    Unlink();
}

long long CTick::GetPassTime() const {
    if (m_manager == nullptr) {
        return 0;
    }
    return m_manager->GetCurUpdateTime() - static_cast<long long>(m_nextTickTime - m_interval);
}

// ---- CTickMgr ----

CTickMgr::CTickMgr() : m_currentTime(0), m_currentTick(nullptr), m_updating(false) {
    std::memset(m_enabled, 1, sizeof(m_enabled));
}

CTickMgr::~CTickMgr() {
    for (TOrvexList<CTick>& slot : m_wheel) {
        while (CTick* tick = slot.GetFirst()) {
            Unregister(tick);
        }
    }
}

void CTickMgr::AddTick(CTick* tick, unsigned int interval, unsigned short id) {
    if (tick->m_manager != nullptr) {
        GetLogStream() << "add tick duplicately" << std::endl;
        return;
    }
    if (interval == 0) {
        GetLogStream() << "cannot set 0" << std::endl;
        return;
    }
    tick->m_interval = interval;
    tick->m_tickId = id;
    tick->m_manager = this;
    InsertTick(tick, static_cast<unsigned long long>(m_currentTime) + interval);
}

void CTickMgr::DelTick(CTick* tick) {
    if (tick == nullptr) {
        return;
    }
    CTickMgr* owner = tick->m_manager != nullptr ? tick->m_manager : this;
    owner->Unregister(tick);
}

void CTickMgr::Unregister(CTick* tick) {
    tick->Unlink(); // from a slot or from a running step's set-aside list
    tick->m_manager = nullptr;
    tick->m_nextTickTime = 0;
    tick->m_interval = 0;
    tick->m_tickId = kNoTickId;
    if (m_currentTick == tick) {
        m_currentTick = nullptr;
    }
}

void CTickMgr::InsertTick(CTick* tick, unsigned long long time) {
    tick->m_nextTickTime = time;
    m_wheel[time & kSlotMask].PushBack(*tick);
}

bool CTickMgr::EnableTick(unsigned short id, bool enable) {
    m_enabled[id] = enable ? 1 : 0;
    return true;
}

void CTickMgr::Update(unsigned int elapsed) {
    if (m_updating) {
        // A step relies on its current tick staying put while a callback runs.
        GetLogStream() << "CTickMgr::Update called from a tick callback, ignored" << std::endl;
        return;
    }
    m_updating = true;
    const long long target = m_currentTime + elapsed;
    while (m_currentTime < target) {
        Step(static_cast<unsigned long long>(m_currentTime));
        m_currentTime += 1;
    }
    m_updating = false;
}

// One unit of time: fires what is due at `time` in its slot; ticks of later
// turns of the wheel are set aside and put back once the slot is drained.
void CTickMgr::Step(unsigned long long time) {
    TOrvexList<CTick> setAside;
    TOrvexList<CTick>& slot = m_wheel[time & kSlotMask];
    while (CTick* tick = slot.GetFirst()) {
        m_currentTick = tick;
        tick->Unlink();
        if (tick->m_nextTickTime != time) {
            setAside.PushBack(*tick);
            continue;
        }
        Fire(tick);
        if (m_currentTick != nullptr) { // neither deleted nor unregistered
            InsertTick(tick, time + tick->m_interval);
        }
    }
    while (CTick* tick = setAside.GetFirst()) {
        tick->Unlink();
        m_wheel[tick->m_nextTickTime & kSlotMask].PushBack(*tick);
    }
    m_currentTick = nullptr;
}

void CTickMgr::Fire(CTick* tick) {
    const unsigned short id = tick->m_tickId;
    if (!m_enabled[id]) {
        return;
    }
    // Read before the call: the callback may delete the tick and then throw.
    const unsigned interval = tick->m_interval;
    try {
        if (tick->m_dispatchCpp) {
            tick->OnCppTick();
        } else {
            tick->OnTick();
        }
    } catch (...) {
        GetLogStream() << "CTickMgr update tick error tickid = " << id
                       << ", tick interval = " << interval << std::endl;
    }
}

} // namespace Orvex
