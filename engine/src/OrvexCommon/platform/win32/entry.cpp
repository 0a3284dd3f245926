// The library's entry on Windows. The runtime runs the frame's load-time
// builders before this is called; the entry switches off the per-thread
// notifications, so host threads starting and ending never call into us, and
// notes the detach, which comes before the runtime runs the teardown.
#include "OrvexCommon/platform/OrvexSys.h"
#include "OrvexCommon/platform/win32/Detach.h"
#include "OrvexCommon/platform/win32/WindowsHeaders.h"

namespace Orvex {
namespace sys {

std::atomic<bool> g_detaching{false};

} // namespace sys
} // namespace Orvex

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID /*reserved*/) {
    if (reason == DLL_PROCESS_ATTACH) {
        DisableThreadLibraryCalls(instance);
    } else if (reason == DLL_PROCESS_DETACH) {
        Orvex::sys::g_detaching.store(true);
    }
    return TRUE;
}
