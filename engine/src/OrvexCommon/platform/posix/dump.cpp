// Crash dumps on POSIX: being written.
#include "OrvexCommon/platform/OrvexSys.h"

namespace Orvex {
namespace sys {

void WriteProcessDump(EXCEPTION_POINTERS*, const wchar_t*, bool) {}

} // namespace sys
} // namespace Orvex
