// The user's question on Windows: the error box, owned by no window so that
// it works from any thread, including one without a message loop.
#include "OrvexCommon/platform/OrvexSys.h"
#include "OrvexCommon/platform/win32/WindowsHeaders.h"

#include <cstdio>

namespace Orvex {
namespace sys {

Answer AskUser(const wchar_t* report, bool fatal) {
    const UINT style = fatal ? MB_ICONERROR : (MB_ICONERROR | MB_ABORTRETRYIGNORE);
    switch (MessageBoxW(nullptr, report != nullptr ? report : L"", L"Exception", style)) {
    case IDOK:
        return Answer::Ok;
    case IDABORT:
        return Answer::Abort;
    case IDRETRY:
        return Answer::Retry;
    case IDIGNORE:
        return Answer::Ignore;
    default:
        // Documented failure is 0, but a box that cannot be built (no
        // display) may come back as -1 from the dialog underneath.
        return Answer::None;
    }
}

void EndProcess(int code) {
    std::fflush(nullptr);
    // ExitProcess would run every module's detach handlers, the library's
    // teardown among them.
    TerminateProcess(GetCurrentProcess(), static_cast<UINT>(code));
    for (;;) {
        Sleep(INFINITE); // the call above does not return for this process
    }
}

void AbortProcess() {
    EndProcess(3);
}

void BreakIntoDebugger() {
    DebugBreak();
}

} // namespace sys
} // namespace Orvex
