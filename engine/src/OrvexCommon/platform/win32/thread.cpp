// Threads on Windows: the handle is the one _beginthreadex returns.
#include "OrvexCommon/platform/OrvexSys.h"
#include "OrvexCommon/platform/win32/WindowsHeaders.h"

#include <process.h>

namespace Orvex {
namespace sys {

Thread* StartThread(ThreadProc proc, void* context, unsigned stackSize) {
    if (proc == nullptr) {
        return nullptr;
    }
    const uintptr_t handle = _beginthreadex(nullptr, stackSize, proc, context, 0, nullptr);
    return reinterpret_cast<Thread*>(handle);
}

bool JoinThread(Thread* thread, unsigned* exitCode) {
    HANDLE handle = reinterpret_cast<HANDLE>(thread);
    if (handle == nullptr || WaitForSingleObject(handle, INFINITE) == WAIT_FAILED) {
        return false;
    }
    DWORD code = 0;
    GetExitCodeThread(handle, &code);
    if (exitCode != nullptr) {
        *exitCode = code;
    }
    CloseHandle(handle);
    return true;
}

void SleepMilliseconds(unsigned milliseconds) { Sleep(milliseconds); }

} // namespace sys
} // namespace Orvex
