// The library frame: what exists from load to unload.
//
// At load the library builds, in this order: the process-start tick, the
// process-start calendar time, the time-zone offset, the game-clock lock, the
// memory-map lock and the memory-map registry (whose first use creates the
// allocator manager). Every other process-wide object is created on first use
// and torn down at unload in reverse order of first use, before the load-time
// objects, which go in reverse order of building.
//
// The frame keeps a journal of these events so that hosts and tests can see
// what the library built and in which order. Each event is one short text:
//   "built <object>"      a load-time object was built
//   "created <object>"    a process-wide object was created on first use
//   "torn down <object>"  an object was destroyed at unload
#ifndef ORVEX_FRAME_ORVEXFRAME_H
#define ORVEX_FRAME_ORVEXFRAME_H

#include "OrvexCommon/frame/OrvexExport.h"

namespace Orvex {

// Receives one frame event (see above); called on the thread that caused the
// event, at unload under the loader's lock, so it must not call the library.
typedef void (*FrameTraceFun)(const char* event);

// Installs the frame's trace hook (null removes it). Installing a hook first
// replays to it every event recorded since load, then passes on new ones as
// they happen, teardown at unload included.
ORVEX_API void SetFrameTraceFun(FrameTraceFun fun);
ORVEX_API FrameTraceFun GetFrameTraceFun();

} // namespace Orvex

#endif // ORVEX_FRAME_ORVEXFRAME_H
