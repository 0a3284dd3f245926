// Stack capture on Windows with StackWalk64.
//
// 32-bit x86: started from this routine's own program counter, frame and
// stack pointers; the build keeps frame pointers, so each step follows the
// saved frame-pointer chain.
// x86-64: started from a context captured in this routine; each step unwinds
// through the module's table of function entries, which every function of
// this toolchain has. The entries come from the system's own lookup, not from
// the symbol handler: that one knows only the modules it has loaded, which
// happens lazily, when a name is first asked for.
#include "OrvexCommon/platform/OrvexSys.h"
#include "OrvexCommon/platform/win32/WindowsHeaders.h"

#include <dbghelp.h>

namespace Orvex {
namespace sys {
namespace {

ADDRESS64 FlatAddress(DWORD64 offset) {
    ADDRESS64 address;
    ZeroMemory(&address, sizeof(address));
    address.Offset = offset;
    address.Mode = AddrModeFlat;
    return address;
}

#if defined(__x86_64__)
PVOID CALLBACK FunctionEntryOf(HANDLE, DWORD64 address) {
    DWORD64 imageBase = 0;
    return RtlLookupFunctionEntry(address, &imageBase, nullptr);
}

DWORD64 CALLBACK ModuleBaseOf(HANDLE, DWORD64 address) {
    HMODULE module = nullptr;
    const DWORD flags =
        GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT;
    if (!GetModuleHandleExW(flags, reinterpret_cast<LPCWSTR>(static_cast<DWORD_PTR>(address)),
                            &module)) {
        return 0;
    }
    return reinterpret_cast<DWORD_PTR>(module);
}

constexpr DWORD kMachine = IMAGE_FILE_MACHINE_AMD64;
#else
constexpr PFUNCTION_TABLE_ACCESS_ROUTINE64 FunctionEntryOf = SymFunctionTableAccess64;
constexpr PGET_MODULE_BASE_ROUTINE64 ModuleBaseOf = SymGetModuleBase64;
constexpr DWORD kMachine = IMAGE_FILE_MACHINE_I386;
#endif

// Walks from `frame`; stores frames first..last-1 and returns how many were
// stored. `context` is updated by each step on x86-64, unused on x86.
unsigned WalkFrames(STACKFRAME64& frame, void* context, void** out, unsigned first, unsigned last) {
    const HANDLE process = GetCurrentProcess();
    const HANDLE thread = GetCurrentThread();
    unsigned index = 0;
    for (; index < last; ++index) {
        if (!StackWalk64(kMachine, process, thread, &frame, context, nullptr, FunctionEntryOf,
                         ModuleBaseOf, nullptr) ||
            frame.AddrPC.Offset == 0 ||
            (kMachine == IMAGE_FILE_MACHINE_I386 && frame.AddrFrame.Offset == 0)) {
            break;
        }
        if (index >= first) {
            out[index - first] =
                reinterpret_cast<void*>(static_cast<DWORD_PTR>(frame.AddrPC.Offset));
        }
    }
    return index > first ? index - first : 0;
}

} // namespace

__attribute__((noinline)) unsigned CaptureStack(void** out, unsigned first, unsigned last) {
    if (first >= last) {
        return 0;
    }
    STACKFRAME64 frame;
    ZeroMemory(&frame, sizeof(frame));
#if defined(__x86_64__)
    CONTEXT context;
    ZeroMemory(&context, sizeof(context));
    context.ContextFlags = CONTEXT_FULL;
    RtlCaptureContext(&context);
    frame.AddrPC = FlatAddress(context.Rip);
    frame.AddrFrame = FlatAddress(context.Rsp);
    frame.AddrStack = FlatAddress(context.Rsp);
    return WalkFrames(frame, &context, out, first, last);
#else
    void* stackPointer;
    __asm__ __volatile__("movl %%esp, %0" : "=r"(stackPointer));
    frame.AddrPC = FlatAddress(reinterpret_cast<DWORD_PTR>(OrvexCallerAddress()));
    frame.AddrFrame = FlatAddress(reinterpret_cast<DWORD_PTR>(__builtin_frame_address(0)));
    frame.AddrStack = FlatAddress(reinterpret_cast<DWORD_PTR>(stackPointer));
    return WalkFrames(frame, nullptr, out, first, last);
#endif
}

// The walk above is already the platform's own: this frame becomes frame 0
// by asking it for one frame more.
__attribute__((noinline)) unsigned CaptureStackWithUnwinder(void** out, unsigned first,
                                                            unsigned last) {
    if (first >= last) {
        return 0;
    }
    const unsigned stored = CaptureStack(out, first + 1, last + 1);
    __asm__ __volatile__("" ::: "memory");
    return stored;
}

} // namespace sys
} // namespace Orvex
