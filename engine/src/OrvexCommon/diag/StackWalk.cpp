// GetStack and the caller-address routine. GetStack is frame 1 of the walk, so
// it must stay a function of its own: never inlined, and its call of the
// platform's walker never a tail call.
#include "OrvexCommon/diag/OrvexStack.h"
#include "OrvexCommon/memory/detail/AllocatorManager.h"
#include "OrvexCommon/platform/OrvexSys.h"

namespace Orvex {

__attribute__((noinline)) unsigned GetStack(void** addresses, unsigned short skip,
                                            unsigned short depth) {
    // The Windows walker consults the symbol handler, which the allocator
    // manager sets up.
    detail::AllocatorManager();
    if (depth <= skip) {
        return 0;
    }
    const unsigned short first = static_cast<unsigned short>(skip + 1);
    const unsigned short last = static_cast<unsigned short>(depth + 1);
    const unsigned stored = sys::CaptureStack(addresses, first, last);
    __asm__ __volatile__("" ::: "memory");
    return stored;
}

EipFun GetEipFun() {
    static const EipFun routine = &sys::OrvexCallerAddress;
    return routine;
}

} // namespace Orvex
