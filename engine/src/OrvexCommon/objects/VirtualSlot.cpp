// The virtual slot index: the exported table of 512 functions, each the
// invalid-call handler until set, and the slot index of a virtual member
// function, read from its pointer.
//
// Nothing is called when an index is read: the pointer's code word already says which slot a call
// would go through, and calling code that is not a virtual-call thunk (a
// non-virtual function run on an object of the wrong class) could do anything.
#include "OrvexCommon/base/detail/ErrorLine.h"
#include "OrvexCommon/objects/OrvexVirtualSlot.h"

namespace Orvex {

namespace {

// Logged, then thrown as a char* that points at this same text.
char g_invalidCall[] = "Can not call a invalid function!";

[[noreturn]] void InvalidFunctionCall() {
    detail::ThrowErrorLine(g_invalidCall);
}

} // namespace

SFunctionTable::SFunctionTable() {
    for (Function& function : functions) {
        function = &InvalidFunctionCall;
    }
}

int SFunctionTable::GetFunctionCount() {
    int count = 0;
    while (count < static_cast<int>(kVirtualSlotCount) && functions[count] != nullptr) {
        ++count;
    }
    return count;
}

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
    InvalidFunctionCall();
}

} // namespace Orvex
