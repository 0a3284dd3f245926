// Stack capture on POSIX: the C++ runtime's unwinder, which follows the call
// frame information every object carries for exceptions, so frame pointers
// are not needed.
#include "OrvexCommon/platform/OrvexSys.h"

#include <unwind.h>

namespace Orvex {
namespace sys {
namespace {

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

} // namespace

// The first context the unwinder reports is this function's own frame, which
// is frame 0; noinline keeps it a frame of its own.
__attribute__((noinline)) unsigned CaptureStack(void** out, unsigned first, unsigned last) {
    if (first >= last) {
        return 0;
    }
    SCapture capture{out, first, last, 0};
    _Unwind_Backtrace(StoreFrame, &capture);
    // Keeps the call above from becoming a tail call, which would drop this
    // frame from the walk.
    __asm__ __volatile__("" ::: "memory");
    return capture.index > first ? capture.index - first : 0;
}

} // namespace sys
} // namespace Orvex
