// The library frame: what exists from load to unload.
//
// At load the library builds, in this order: the process-start tick, the
// process-start calendar time, the time-zone offset, the game-clock lock, the
// memory-map lock and the memory-map registry (whose first use creates the
// allocator manager). Every other process-wide object is created on first use
// and torn down at unload in reverse order of first use, before the load-time
// objects, which go in reverse order of building. The journal of these events
// and its trace hook are in OrvexBase.h.
#ifndef ORVEX_FRAME_ORVEXFRAME_H
#define ORVEX_FRAME_ORVEXFRAME_H

#include "OrvexCommon/base/OrvexBase.h"

#endif // ORVEX_FRAME_ORVEXFRAME_H
