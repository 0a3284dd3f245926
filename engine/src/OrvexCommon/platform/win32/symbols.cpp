// The symbol handler on Windows: dbghelp, initialised once for this process
// without loading module symbols yet.
#include "OrvexCommon/platform/OrvexSys.h"
#include "OrvexCommon/platform/win32/WindowsHeaders.h"

#include <dbghelp.h>

namespace Orvex {
namespace sys {

void InitializeSymbolHandler() {
    SymInitialize(GetCurrentProcess(), nullptr, FALSE);
}

} // namespace sys
} // namespace Orvex
