// The process, game, nature and local clocks. Readers take no lock; the
// setters serialise on the game-clock lock built at load.
#include "OrvexCommon/time/OrvexClock.h"
#include "OrvexCommon/time/detail/ClockState.h"
#include "OrvexCommon/time/detail/ZoneTime.h"

#include <atomic>
#include <cstdint>

namespace Orvex {

namespace {

// Constant-initialised: valid before any dynamic initialiser runs.
std::atomic<std::int64_t> g_gameOffset{0};
std::atomic<bool> g_paused{false};
std::atomic<std::int64_t> g_pausedGameTime{0};

std::int64_t Elapsed() {
    return detail::ProcessTimeAt(sys::MonotonicMilliseconds());
}

} // namespace

long long GetProcessTime() {
    return Elapsed();
}

long long GetOrvexTime() {
    if (g_paused.load(std::memory_order_acquire)) {
        return g_pausedGameTime.load(std::memory_order_acquire);
    }
    return Elapsed() - g_gameOffset.load(std::memory_order_acquire);
}

void PauseOrvexTime(bool pause) {
    if (pause == g_paused.load(std::memory_order_acquire)) {
        return;
    }
    sys::ScopedLock hold(detail::GameClockLock());
    if (pause == g_paused.load()) {
        return; // another thread got here first
    }
    if (pause) {
        g_pausedGameTime.store(Elapsed() - g_gameOffset.load());
    } else {
        // The time spent paused goes into the offset.
        g_gameOffset.store(Elapsed() - g_pausedGameTime.load());
    }
    g_paused.store(pause, std::memory_order_release);
}

bool IsPauseOrvexTime() {
    return g_paused.load(std::memory_order_acquire);
}

void SetOrvexTime(long long time) {
    sys::ScopedLock hold(detail::GameClockLock());
    if (g_paused.load()) {
        g_pausedGameTime.store(time);
    } else {
        g_gameOffset.store(Elapsed() - time);
    }
}

long long GetZoneTime() {
    return detail::ComputeZoneTime();
}

void SetNatureTime(long long nature, long long zone) {
    sys::ScopedLock hold(detail::GameClockLock());
    detail::StartNatureTime().store(nature - Elapsed());
    detail::ZoneOffset().store(zone);
}

long long GetProcessStartNatureTime() {
    return detail::StartNatureTime().load();
}

long long GetNatureTime() {
    return detail::StartNatureTime().load() + Elapsed();
}

long long GetLocalTime() {
    return GetNatureTime() + detail::ZoneOffset().load();
}

long long NatureTime2LocalTime(long long time) {
    return time + detail::ZoneOffset().load();
}

long long LocalTime2NatureTime(long long time) {
    return time - detail::ZoneOffset().load();
}

} // namespace Orvex
