// The frame's journal: a fixed array of events, replayed to a trace hook.
#include "OrvexCommon/base/detail/FrameJournal.h"
#include "OrvexCommon/base/OrvexBase.h"

#include <atomic>
#include <cstddef>
#include <cstdio>

namespace Orvex {
namespace detail {

namespace {

struct JournalEntry {
    FrameEvent event;
    FrameObject object;
};

// Constant-initialised: usable before any dynamic initialiser runs. Events past
// the capacity still reach a live hook, they are only not replayed.
constexpr std::size_t kJournalCapacity = 128;
JournalEntry g_journal[kJournalCapacity];
std::atomic<std::size_t> g_journalLength{0};
std::atomic<FrameTraceFun> g_traceFun{nullptr};

const char* ObjectName(FrameObject object) {
    switch (object) {
    case FrameObject::StartTick:
        return "start tick";
    case FrameObject::StartNatureTime:
        return "start nature time";
    case FrameObject::ZoneOffset:
        return "zone offset";
    case FrameObject::GameClockLock:
        return "game-clock lock";
    case FrameObject::MemoryMapLock:
        return "memory-map lock";
    case FrameObject::MemoryMapRegistry:
        return "memory-map registry";
    case FrameObject::AllocatorManager:
        return "allocator manager";
    case FrameObject::FileManager:
        return "file manager";
    case FrameObject::PackageRegistry:
        return "package registry";
    case FrameObject::ProfileManager:
        return "profile manager";
    case FrameObject::LogRegistry:
        return "log registry";
    case FrameObject::LogStream:
        return "log stream";
    case FrameObject::ErrorStream:
        return "error stream";
    case FrameObject::TrigTable:
        return "trigonometric table";
    }
    return "unknown object";
}

const char* EventVerb(FrameEvent event) {
    switch (event) {
    case FrameEvent::Built:
        return "built";
    case FrameEvent::Created:
        return "created";
    case FrameEvent::TornDown:
        return "torn down";
    }
    return "unknown event";
}

void Deliver(FrameTraceFun fun, const JournalEntry& entry) {
    char text[64];
    std::snprintf(text, sizeof(text), "%s %s", EventVerb(entry.event), ObjectName(entry.object));
    fun(text);
}

} // namespace

void RecordFrameEvent(FrameEvent event, FrameObject object) {
    const JournalEntry entry{event, object};
    const std::size_t slot = g_journalLength.load(std::memory_order_relaxed);
    if (slot < kJournalCapacity) {
        g_journal[slot] = entry;
        g_journalLength.store(slot + 1, std::memory_order_release);
    }
    if (FrameTraceFun fun = g_traceFun.load(std::memory_order_acquire)) {
        Deliver(fun, entry);
    }
}

} // namespace detail

void SetFrameTraceFun(FrameTraceFun fun) {
    detail::g_traceFun.store(fun, std::memory_order_release);
    if (fun == nullptr) {
        return;
    }
    const std::size_t length = detail::g_journalLength.load(std::memory_order_acquire);
    for (std::size_t index = 0; index < length; ++index) {
        detail::Deliver(fun, detail::g_journal[index]);
    }
}

FrameTraceFun GetFrameTraceFun() {
    return detail::g_traceFun.load(std::memory_order_acquire);
}

} // namespace Orvex
