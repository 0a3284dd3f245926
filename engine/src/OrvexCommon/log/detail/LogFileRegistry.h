// The process-wide registry of logs by name: one CLogFile per name stem
// (LogNameStemLength), in a map under the registry's own lock, built on first
// use and torn down at unload after closing every log. A log's own lock
// covers the switch check, the buffered fwrite and the size. Lock order: the
// registry's lock, then a log's (FlushAllLog), never the other way round.
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
