// The process-wide registry of logs by name.
#ifndef ORVEX_LOG_DETAIL_LOGFILEREGISTRY_H
#define ORVEX_LOG_DETAIL_LOGFILEREGISTRY_H

namespace Orvex {
namespace detail {

class CLogFile;

// Under the registry's lock: removes `log` from the registry and destroys it.
// A log the registry does not hold is left untouched.
void ReleaseRegisteredLog(CLogFile* log);

} // namespace detail
} // namespace Orvex

#endif // ORVEX_LOG_DETAIL_LOGFILEREGISTRY_H
