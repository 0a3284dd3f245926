// The load-time builders, which build for the subsystems below the objects
// those declare (time/detail/ClockState.h, filesystem/detail/
// MemoryMapRegistry.h). They live in this one translation unit because
// C++ runs the dynamic initialisers of one unit in order of definition, which
// is the only start-up order the library has: the runtime's own start-up,
// then these six, then the platform's entry (DllMain on Windows). Objects with
// a destructor register it with the runtime's exit list as they complete, so
// at unload they go in reverse: after every object created later on first use.
#include "OrvexCommon/base/detail/FrameJournal.h"
#include "OrvexCommon/filesystem/detail/MemoryMapRegistry.h"
#include "OrvexCommon/memory/detail/AllocatorManager.h"
#include "OrvexCommon/time/detail/ClockState.h"
#include "OrvexCommon/time/detail/ZoneTime.h"

#include <cstdio>
#include <cstdlib>

namespace Orvex {
namespace detail {

namespace {

std::uint64_t BuildStartTick() {
    const std::uint64_t tick = sys::MonotonicMilliseconds();
    RecordFrameEvent(FrameEvent::Built, FrameObject::StartTick);
    return tick;
}

// Calendar milliseconds corrected by the ticks that passed since the start
// tick was read, so that calendar and tick describe the same instant.
std::int64_t BuildStartNatureTime(std::uint64_t startTick) {
    const std::int64_t calendar = sys::CalendarSeconds() * 1000;
    const std::uint64_t tick = sys::MonotonicMilliseconds();
    RecordFrameEvent(FrameEvent::Built, FrameObject::StartNatureTime);
    return calendar + static_cast<std::int64_t>(startTick - tick);
}

std::int64_t BuildZoneOffset() {
    const std::int64_t zone = ComputeZoneTime();
    RecordFrameEvent(FrameEvent::Built, FrameObject::ZoneOffset);
    return zone;
}

// A lock built at load and destroyed at unload. Without room for a lock the
// library cannot keep its guarantees, so the load stops with a message.
class LoadTimeLock {
public:
    explicit LoadTimeLock(FrameObject object)
        : m_object(object), m_lock(sys::CreateRecursiveLock()) {
        if (m_lock == nullptr) {
            std::fputs("OrvexCommon2: no memory for a load-time lock\n", stderr);
            std::abort();
        }
        RecordFrameEvent(FrameEvent::Built, m_object);
    }
    ~LoadTimeLock() {
        sys::DestroyRecursiveLock(m_lock);
        RecordFrameEvent(FrameEvent::TornDown, m_object);
    }
    LoadTimeLock(const LoadTimeLock&) = delete;
    LoadTimeLock& operator=(const LoadTimeLock&) = delete;

    sys::RecursiveLock* get() const { return m_lock; }

private:
    FrameObject m_object;
    sys::RecursiveLock* m_lock;
};

// ---- The six builders, in order ----
const std::uint64_t g_startTick = BuildStartTick();
std::atomic<std::int64_t> g_startNatureTime{BuildStartNatureTime(g_startTick)};
std::atomic<std::int64_t> g_zoneOffset{BuildZoneOffset()};
LoadTimeLock g_gameClockLock{FrameObject::GameClockLock};
LoadTimeLock g_memoryMapLock{FrameObject::MemoryMapLock};
MemoryMapRegistry g_memoryMapRegistry;

} // namespace

MemoryMapRegistry::MemoryMapRegistry() {
    // An empty map allocates nothing, so the allocator manager is reached here
    // explicitly: it must be created (and registered for teardown) while this
    // object is built, so that it outlives every container it supplies.
    AllocatorManager();
    RecordFrameEvent(FrameEvent::Built, FrameObject::MemoryMapRegistry);
}

MemoryMapRegistry::~MemoryMapRegistry() {
    RecordFrameEvent(FrameEvent::TornDown, FrameObject::MemoryMapRegistry);
}

std::uint64_t ProcessStartTick() {
    return g_startTick;
}
std::atomic<std::int64_t>& StartNatureTime() {
    return g_startNatureTime;
}
std::atomic<std::int64_t>& ZoneOffset() {
    return g_zoneOffset;
}
sys::RecursiveLock* GameClockLock() {
    return g_gameClockLock.get();
}
sys::RecursiveLock* MemoryMapLock() {
    return g_memoryMapLock.get();
}
MemoryMapRegistry& GetMemoryMapRegistry() {
    return g_memoryMapRegistry;
}

} // namespace detail
} // namespace Orvex
