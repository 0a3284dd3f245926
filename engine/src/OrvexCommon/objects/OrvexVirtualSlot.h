// Which slot of a class's virtual-function table a pointer to a virtual member
// function designates, and the exported table type for such tables.
#ifndef ORVEX_OBJECTS_ORVEXVIRTUALSLOT_H
#define ORVEX_OBJECTS_ORVEXVIRTUALSLOT_H

#include "OrvexCommon/base/OrvexExport.h"

#include <cstdint>
#include <cstring>
#include <type_traits>

namespace Orvex {

// Slots a virtual-function table may have here: 0 to 511.
constexpr unsigned kVirtualSlotCount = 512;

// 512 functions taking nothing. Every entry starts as the invalid-call
// handler, which writes "Can not call a invalid function!" to the log stream
// and throws that text as a char*. Copies copy all 512 entries.
struct ORVEX_API SFunctionTable {
    typedef void (*Function)();

    SFunctionTable();
    // The index of the first null entry; 512 when none is null.
    int GetFunctionCount();

    Function functions[kVirtualSlotCount];
};

// The slot index (0-based, in table order) of the virtual member function
// that `memberFunction` holds, as MemberFunctionArg below lays it out: the
// code word in the low bits (the low 32 on a 32-bit target, all 64 on a
// 64-bit one); the high 32 bits of a 32-bit target, the adjustment of `this`,
// are not used. Nothing is called. An even code word (a function that is not
// virtual, or null), a word off a slot boundary and a slot of 512 or more
// take the invalid-call path (VirtualSlot.cpp): the line above on the log
// stream, then the throw.
ORVEX_API unsigned GetVirtualFunIndex(unsigned long long memberFunction);

// The argument of GetVirtualFunIndex for any pointer to a member function.
// Both our compilers lay one out as two words: the code word (1 + the slot's
// byte offset in the table for a virtual function, whose slots are
// sizeof(void*) apart; the function's address, always even, otherwise), then
// the adjustment of `this`. Where words are 32 bits the adjustment fills the
// high half; where they are 64 bits the code word is the whole argument. A
// virtual destructor takes two slots.
template <typename F> unsigned long long MemberFunctionArg(F memberFunction) {
    static_assert(std::is_member_function_pointer<F>::value, "a pointer to a member function");
    static_assert(sizeof(F) == 2 * sizeof(std::uintptr_t), "a code word and an adjustment");
    std::uintptr_t words[2];
    std::memcpy(words, &memberFunction, sizeof words);
    unsigned long long argument = words[0];
    if (sizeof(std::uintptr_t) == 4) {
        argument |= static_cast<unsigned long long>(words[1]) << 32;
    }
    return argument;
}

// GetVirtualFunIndex of a member-function pointer of any class.
template <typename F> unsigned GetVirtualFunIndexOf(F memberFunction) {
    return GetVirtualFunIndex(MemberFunctionArg(memberFunction));
}

} // namespace Orvex

#endif // ORVEX_OBJECTS_ORVEXVIRTUALSLOT_H
