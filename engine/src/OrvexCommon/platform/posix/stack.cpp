// Stack capture on POSIX (x86-64). Each frame is stepped by its cached rule
// (FrameRule.h): the caller's SP, return address and BP read straight from
// the stack. A frame without a rule the walk can apply (a signal frame, code
// without call frame information, an unusual prologue), or a slot outside
// the stack, hands the whole walk to the C++ runtime's unwinder, which gives
// the same frames step by step and is the reference the cached walk is
// tested against.
#include "OrvexCommon/platform/OrvexSys.h"
#include "OrvexCommon/platform/posix/FrameRule.h"

#include <cstring>
#include <unwind.h>

// Fills in its caller's frame as of the return from this call: the return
// address, SP just after the return, and BP (which this routine leaves
// alone), in that order. No frame of its own, so the entry's call frame
// information holds throughout.
extern "C" void OrvexCallerFrame(std::uintptr_t* registers);

__asm__(".pushsection .text\n"
        ".globl OrvexCallerFrame\n"
        ".hidden OrvexCallerFrame\n"
        ".type OrvexCallerFrame, @function\n"
        "OrvexCallerFrame:\n"
        "    .cfi_startproc\n"
        "    movq (%rsp), %rax\n"
        "    movq %rax, 0(%rdi)\n"
        "    leaq 8(%rsp), %rax\n"
        "    movq %rax, 8(%rdi)\n"
        "    movq %rbp, 16(%rdi)\n"
        "    ret\n"
        "    .cfi_endproc\n"
        ".size OrvexCallerFrame, .-OrvexCallerFrame\n"
        ".popsection\n");

namespace Orvex {
namespace sys {
namespace {

constexpr std::uintptr_t kWord = sizeof(void*);

// Where a frame resumes and its SP and BP there.
struct SFrameRegisters {
    std::uintptr_t resume;
    std::uintptr_t sp;
    std::uintptr_t bp;
};

// ---------------------------------------------------------------------------
// The runtime's unwinder
// ---------------------------------------------------------------------------

struct SCapture {
    void** out;
    unsigned first;
    unsigned last;
    unsigned index;
};

_Unwind_Reason_Code StoreFrame(struct _Unwind_Context* context, void* argument) {
    SCapture& capture = *static_cast<SCapture*>(argument);
    const _Unwind_Ptr resume = _Unwind_GetIP(context);
    if (resume == 0) {
        return _URC_END_OF_STACK;
    }
    if (capture.index >= capture.first) {
        capture.out[capture.index - capture.first] = reinterpret_cast<void*>(resume);
    }
    ++capture.index;
    return capture.index < capture.last ? _URC_NO_REASON : _URC_END_OF_STACK;
}

// Inlined into its caller, so that the unwinder's first frame (frame 0) is
// that caller's.
__attribute__((always_inline)) inline unsigned WalkWithUnwinder(void** out, unsigned first,
                                                                unsigned last) {
    SCapture capture{out, first, last, 0};
    _Unwind_Backtrace(StoreFrame, &capture);
    return capture.index > first ? capture.index - first : 0;
}

// ---------------------------------------------------------------------------
// The walk by cached rules
// ---------------------------------------------------------------------------

// Reads a saved slot of another frame: not a variable of this program, so
// outside what AddressSanitizer tracks.
__attribute__((no_sanitize("address"))) std::uintptr_t ReadSlot(std::uintptr_t address) {
    std::uintptr_t value;
    std::memcpy(&value, reinterpret_cast<const void*>(address), sizeof(value));
    return value;
}

// Walks from `frame` (frame 0). False when a frame needs the runtime's
// unwinder; `stored` is then meaningless.
bool WalkByRules(SFrameRegisters frame, void** out, unsigned first, unsigned last,
                 unsigned& stored) {
    const std::uintptr_t low = frame.sp;
    const std::uintptr_t high = frames::StackEndAbove(low);
    if (high == 0) {
        return false;
    }
    unsigned index = 0;
    for (;;) {
        const frames::SFrameRule rule = frames::FrameRuleFor(frame.resume);
        const frames::FrameKind kind = rule.Kind();
        if (kind == frames::kUnwinder) {
            return false;
        }
        if (index >= first) {
            out[index - first] = reinterpret_cast<void*>(frame.resume);
        }
        if (++index >= last || kind == frames::kOutermost) {
            break;
        }
        const std::uintptr_t cfa = (rule.CfaFromBp() ? frame.bp : frame.sp) + rule.CfaOffset();
        // Every slot read (the return address just below the CFA, BP some
        // words below it) lies between the first frame's SP and the stack's
        // end.
        const std::uint32_t bpSlot = rule.SavedBpSlot();
        const std::uintptr_t below = kWord * (bpSlot > 1 ? bpSlot : 1);
        if (cfa > high || cfa < low || cfa - low < below) {
            return false;
        }
        frame.resume = ReadSlot(cfa - kWord);
        if (bpSlot != 0) {
            frame.bp = ReadSlot(cfa - kWord * bpSlot);
        }
        frame.sp = cfa;
        if (frame.resume == 0) {
            break; // the runtime's unwinder ends here too, storing nothing
        }
    }
    stored = index > first ? index - first : 0;
    return true;
}

} // namespace

// Frame 0 is this function's own frame: the rule walk starts from the
// registers as of the call below, the unwinder from its own call here;
// noinline keeps it a frame of its own.
__attribute__((noinline)) unsigned CaptureStack(void** out, unsigned first, unsigned last) {
    if (first >= last) {
        return 0;
    }
    std::uintptr_t registers[3];
    OrvexCallerFrame(registers);
    const SFrameRegisters frame{registers[0], registers[1], registers[2]};
    unsigned stored = 0;
    if (!WalkByRules(frame, out, first, last, stored)) {
        stored = WalkWithUnwinder(out, first, last);
    }
    // Keeps the calls above from becoming tail calls, which would drop this
    // frame from the walk.
    __asm__ __volatile__("" ::: "memory");
    return stored;
}

__attribute__((noinline)) unsigned CaptureStackWithUnwinder(void** out, unsigned first,
                                                            unsigned last) {
    if (first >= last) {
        return 0;
    }
    const unsigned stored = WalkWithUnwinder(out, first, last);
    __asm__ __volatile__("" ::: "memory");
    return stored;
}

} // namespace sys
} // namespace Orvex
