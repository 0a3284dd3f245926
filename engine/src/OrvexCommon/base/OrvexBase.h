// The base every layer stands on: the export macro and the frame's journal.
//
// The library keeps a journal of what it builds at load, creates on first use
// and tears down at unload, so that hosts and tests can see what happened and
// in which order. Each event is one short text:
//   "built <object>"      a load-time object was built
//   "created <object>"    a process-wide object was created on first use
//   "torn down <object>"  an object was destroyed at unload
#ifndef ORVEX_BASE_ORVEXBASE_H
#define ORVEX_BASE_ORVEXBASE_H

#include "OrvexCommon/base/OrvexExport.h"

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

#endif // ORVEX_BASE_ORVEXBASE_H
