// DebugGenMiniDump: the platform writes the dump; nothing here may allocate or
// lock, since a crash handler calls it after a fault.
#include "OrvexCommon/diag/OrvexStack.h"
#include "OrvexCommon/platform/OrvexSys.h"

namespace Orvex {

void DebugGenMiniDump(EXCEPTION_POINTERS* exception, const wchar_t* fileName, bool fullMemory) {
    if (fileName == nullptr || fileName[0] == L'\0') {
        return;
    }
    sys::WriteProcessDump(exception, fileName, fullMemory);
}

} // namespace Orvex
