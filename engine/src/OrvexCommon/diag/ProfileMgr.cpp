// The profile manager: creation, the registry walk, the enabled flag and the
// teardown of every profile at unload.
#include "OrvexCommon/diag/detail/ProfileMgr.h"
#include "OrvexCommon/base/detail/FrameJournal.h"
#include "OrvexCommon/diag/OrvexStack.h"

#include <new>

namespace Orvex {
namespace detail {

namespace {

// The stack shown for a duplicate label: from the caller of CreateProfile
// outwards, at most this many frames.
constexpr unsigned short kDuplicateStackSkip = 2;
constexpr unsigned short kDuplicateStackDepth = 258;
constexpr unsigned kDuplicateStackFrames = kDuplicateStackDepth - kDuplicateStackSkip;

} // namespace

CProfileMgr& ProfileMgr() {
    static CProfileMgr manager;
    return manager;
}

CProfileMgr::CProfileMgr() : m_enabled(true) {
    RecordFrameEvent(FrameEvent::Created, FrameObject::ProfileManager);
}

CProfileMgr::~CProfileMgr() {
    // Each profile gives back its detail list, then itself; the entries go
    // one by one. The lock and then the registry follow as members.
    while (!m_registry.empty()) {
        const auto first = m_registry.begin();
        CProfile* profile = first->second;
        m_registry.erase(first);
        profile->~CProfile();
        OrvexFree(profile);
    }
    RecordFrameEvent(FrameEvent::TornDown, FrameObject::ProfileManager);
}

CProfile* CProfileMgr::CreateProfile(const char* file, unsigned int line, const char* function,
                                     const char* label, unsigned int detailCapacity) {
    unsigned checkLine;
    {
        sys::ScopedLock hold(m_lock.get());
        checkLine = __LINE__ + 1; // the line of the duplicate test, for the report
        if (m_registry.find(label) == m_registry.end()) {
            return Register(file, line, function, label, detailCapacity);
        }
    }
    // A label given twice: reported outside the lock, since the report may
    // wait for an answer. The stack is taken here so that it starts at our
    // caller.
    void* stack[kDuplicateStackFrames];
    const unsigned count = GetStack(stack, kDuplicateStackSkip, kDuplicateStackDepth);
    ReportDuplicateProfile(stack, count, checkLine);
}

CProfile* CProfileMgr::Register(const char* file, unsigned int line, const char* function,
                                const char* label, unsigned int detailCapacity) {
    CProfile::DetailList* details = NewPooledObject<CProfile::DetailList>();
    void* memory = details == nullptr ? nullptr : OrvexAlloc(sizeof(CProfile));
    if (memory == nullptr) {
        if (details != nullptr) {
            DeletePooledObject(details);
        }
        return nullptr;
    }
    CProfile* profile = new (memory) CProfile(file, line, function, label, detailCapacity);
    profile->m_details = details;
    try {
        m_registry.emplace(label, profile);
    } catch (const std::bad_alloc&) {
        // Not recorded: a null or unregistered entry would break the walk.
        profile->~CProfile();
        OrvexFree(profile);
        return nullptr;
    }
    return profile;
}

CProfile* CProfileMgr::GetFirstProfile() {
    sys::ScopedLock hold(m_lock.get());
    return m_registry.empty() ? nullptr : m_registry.begin()->second;
}

CProfile* CProfileMgr::GetNextProfile(CProfile* profile) {
    if (profile == nullptr) {
        return nullptr;
    }
    sys::ScopedLock hold(m_lock.get());
    auto found = m_registry.find(profile->m_label);
    if (found == m_registry.end() || ++found == m_registry.end()) {
        return nullptr;
    }
    return found->second;
}

CProfile* CProfileMgr::GetProfile(const char* label) {
    sys::ScopedLock hold(m_lock.get());
    const auto found = m_registry.find(label);
    return found == m_registry.end() ? nullptr : found->second;
}

void CProfileMgr::EnableProfile(bool enable) {
    m_enabled.store(enable, std::memory_order_relaxed);
}

} // namespace detail

IProfileMgr& GetProfileMgr() {
    return detail::ProfileMgr();
}

} // namespace Orvex
