// The objects the library builds at load, for the subsystems that own them.
#ifndef ORVEX_FRAME_DETAIL_LOADTIMEOBJECTS_H
#define ORVEX_FRAME_DETAIL_LOADTIMEOBJECTS_H

#include "OrvexCommon/filesystem/detail/MemoryMapRegistry.h"
#include "OrvexCommon/platform/OrvexSys.h"

#include <atomic>
#include <cstdint>

namespace Orvex {
namespace detail {

// 1. The millisecond clock read once at load.
std::uint64_t ProcessStartTick();

// 2. Calendar time at load in milliseconds (re-based by the clock setters).
std::atomic<std::int64_t>& StartNatureTime();

// 3. The time-zone offset in milliseconds (cached; changed by the setters).
std::atomic<std::int64_t>& ZoneOffset();

// 4. The lock of the game clock.
sys::RecursiveLock* GameClockLock();

// 5. The lock of the memory-map registry.
sys::RecursiveLock* MemoryMapLock();

// 6. The memory-map registry.
MemoryMapRegistry& GetMemoryMapRegistry();

} // namespace detail
} // namespace Orvex

#endif // ORVEX_FRAME_DETAIL_LOADTIMEOBJECTS_H
