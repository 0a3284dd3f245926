// The fatal end of a second CreateProfile with a registered label.
#include "OrvexCommon/diag/OrvexDiag.h"
#include "OrvexCommon/diag/OrvexStack.h"
#include "OrvexCommon/diag/detail/ProfileMgr.h"
#include "OrvexCommon/log/OrvexLog.h"
#include "OrvexCommon/platform/OrvexSys.h"

namespace Orvex {
namespace detail {

void ReportDuplicateProfile(void** stack, unsigned count, unsigned line) {
    PrintStack(stack, count, static_cast<int>(line), GetErrStream());
    OrvexException("CreateProfile with exist name!!", "engine\\src\\OrvexCommon\\OrvexProfile",
                   __DATE__, __TIME__, line, "Orvex::CProfileMgr::CreateProfile", true);
    // Nobody could be asked. Carrying on would hand the caller a profile that
    // is not its own, and re-throwing would raise whatever exception the
    // caller happens to be handling; so the process ends here, abnormally and
    // without the library's teardown.
    sys::AbortProcess();
}

} // namespace detail
} // namespace Orvex
