// The library's entry on ELF systems. There is none to write: the dynamic
// loader runs the frame's load-time builders (frame/OrvexFrame.cpp) at dlopen,
// and the runtime's exit list tears the process-wide objects down at dlclose or
// exit. No per-thread hooks exist, so host threads never call into the library.
#include "OrvexCommon/platform/OrvexSys.h"
