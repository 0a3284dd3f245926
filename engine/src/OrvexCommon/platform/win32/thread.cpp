// Threads on Windows: the handle is the one _beginthreadex returns.
#include "OrvexCommon/platform/OrvexSys.h"
#include "OrvexCommon/platform/win32/WindowsHeaders.h"

#include <cstdlib>
#include <process.h>

namespace Orvex {
namespace sys {

namespace {

// _beginthreadex wants a __stdcall procedure: the portable one rides along.
struct ThreadStart {
    ThreadProc proc;
    void* context;
};

unsigned __stdcall RunThread(void* record) {
    const ThreadStart start = *static_cast<ThreadStart*>(record);
    std::free(record);
    return start.proc(start.context);
}

} // namespace

Thread* StartThread(ThreadProc proc, void* context, unsigned stackSize) {
    if (proc == nullptr) {
        return nullptr;
    }
    ThreadStart* start = static_cast<ThreadStart*>(std::malloc(sizeof(ThreadStart)));
    if (start == nullptr) {
        return nullptr;
    }
    *start = ThreadStart{proc, context};
    const uintptr_t handle = _beginthreadex(nullptr, stackSize, RunThread, start, 0, nullptr);
    if (handle == 0) {
        std::free(start);
    }
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

void SleepMilliseconds(unsigned milliseconds) {
    Sleep(milliseconds);
}

} // namespace sys
} // namespace Orvex
