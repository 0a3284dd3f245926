// The exported table of 512 functions.
#include "OrvexCommon/math/OrvexVirtualSlot.h"
#include "OrvexCommon/math/detail/VirtualSlotInvalid.h"

namespace Orvex {

SFunctionTable::SFunctionTable() {
    for (Function& function : functions) {
        function = &detail::InvalidFunctionCall;
    }
}

int SFunctionTable::GetFunctionCount() {
    int count = 0;
    while (count < static_cast<int>(kVirtualSlotCount) && functions[count] != nullptr) {
        ++count;
    }
    return count;
}

} // namespace Orvex
