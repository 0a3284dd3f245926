// The slot index of a virtual member function, read from its pointer.
//
// Nothing is called: the pointer's code word already says which slot a call
// would go through, and calling code that is not a virtual-call thunk (a
// non-virtual function run on an object of the wrong class) could do anything.
#include "OrvexCommon/math/OrvexVirtualSlot.h"
#include "OrvexCommon/math/detail/VirtualSlotInvalid.h"

namespace Orvex {

unsigned GetVirtualFunIndex(unsigned long long memberFunction) {
    // The low word: 32 bits on a 32-bit target, where the high ones hold the
    // adjustment of `this`.
    const std::uintptr_t code = static_cast<std::uintptr_t>(memberFunction);
    // An odd word marks a virtual function: code addresses of member
    // functions are kept even so that the two cannot be confused.
    if ((code & 1u) != 0 && (code - 1) % sizeof(void*) == 0) {
        const std::uintptr_t slot = (code - 1) / sizeof(void*);
        if (slot < kVirtualSlotCount) {
            return static_cast<unsigned>(slot);
        }
    }
    detail::InvalidFunctionCall();
}

} // namespace Orvex
