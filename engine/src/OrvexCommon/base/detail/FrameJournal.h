// The frame's journal of built, created and torn-down process-wide objects.
#ifndef ORVEX_BASE_DETAIL_FRAMEJOURNAL_H
#define ORVEX_BASE_DETAIL_FRAMEJOURNAL_H

namespace Orvex {
namespace detail {

enum class FrameObject : unsigned char {
    StartTick,
    StartNatureTime,
    ZoneOffset,
    GameClockLock,
    MemoryMapLock,
    MemoryMapRegistry,
    AllocatorManager,
    FileManager,
    PackageRegistry,
    ProfileManager,
    LogRegistry,
    LogStream,
    ErrorStream,
    TrigTable,
};

enum class FrameEvent : unsigned char { Built, Created, TornDown };

// Records one event and passes it to the trace hook when one is set. Needs no
// allocation and no dynamic initialisation, so it works from any static
// constructor or destructor.
void RecordFrameEvent(FrameEvent event, FrameObject object);

} // namespace detail
} // namespace Orvex

#endif // ORVEX_BASE_DETAIL_FRAMEJOURNAL_H
