// Stack capture on Windows: StackWalk64 for a 32-bit x86 process, started
// from this routine's own registers. The build keeps frame pointers, so each
// step follows the saved frame-pointer chain.
#include "OrvexCommon/platform/OrvexSys.h"
#include "OrvexCommon/platform/win32/WindowsHeaders.h"

#include <dbghelp.h>

namespace Orvex {
namespace sys {
namespace {

// The starting frame: a program counter inside CaptureStack and its frame
// and stack pointers, in flat addressing.
STACKFRAME64 StartingFrame(void* programCounter, void* framePointer, void* stackPointer) {
    STACKFRAME64 frame;
    ZeroMemory(&frame, sizeof(frame));
    frame.AddrPC.Offset = reinterpret_cast<DWORD>(programCounter);
    frame.AddrPC.Mode = AddrModeFlat;
    frame.AddrFrame.Offset = reinterpret_cast<DWORD>(framePointer);
    frame.AddrFrame.Mode = AddrModeFlat;
    frame.AddrStack.Offset = reinterpret_cast<DWORD>(stackPointer);
    frame.AddrStack.Mode = AddrModeFlat;
    return frame;
}

} // namespace

__attribute__((noinline)) unsigned CaptureStack(void** out, unsigned first, unsigned last) {
    if (first >= last) {
        return 0;
    }
    void* framePointer = __builtin_frame_address(0);
    void* stackPointer;
    __asm__ __volatile__("movl %%esp, %0" : "=r"(stackPointer));
    STACKFRAME64 frame = StartingFrame(OrvexCallerAddress(), framePointer, stackPointer);
    const HANDLE process = GetCurrentProcess();
    const HANDLE thread = GetCurrentThread();
    unsigned index = 0;
    for (; index < last; ++index) {
        if (!StackWalk64(IMAGE_FILE_MACHINE_I386, process, thread, &frame, nullptr, nullptr,
                         SymFunctionTableAccess64, SymGetModuleBase64, nullptr) ||
            frame.AddrFrame.Offset == 0) {
            break;
        }
        if (index >= first) {
            out[index - first] = reinterpret_cast<void*>(static_cast<DWORD>(frame.AddrPC.Offset));
        }
    }
    return index > first ? index - first : 0;
}

} // namespace sys
} // namespace Orvex
