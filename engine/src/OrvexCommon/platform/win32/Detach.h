// Whether the system is detaching the library: set by the library's entry at
// DLL_PROCESS_DETACH, before the runtime runs the library's teardown. From
// then on the thread running the teardown holds the loader lock, which every
// other thread needs in order to start or to end.
#ifndef ORVEX_PLATFORM_WIN32_DETACH_H
#define ORVEX_PLATFORM_WIN32_DETACH_H

#include <atomic>

namespace Orvex {
namespace sys {

extern std::atomic<bool> g_detaching;

} // namespace sys
} // namespace Orvex

#endif // ORVEX_PLATFORM_WIN32_DETACH_H
