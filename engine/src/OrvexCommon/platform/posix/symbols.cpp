// The symbol handler on POSIX needs no preparation: names are read from the
// loaded objects when they are asked for.
#include "OrvexCommon/platform/OrvexSys.h"

namespace Orvex {
namespace sys {

void InitializeSymbolHandler() {}

} // namespace sys
} // namespace Orvex
