// The module list of the platform's symbol handler: the modules made known
// to it so far, filled by the symbol lookups.
#ifndef ORVEX_DIAG_DETAIL_SYMBOLSTATE_H
#define ORVEX_DIAG_DETAIL_SYMBOLSTATE_H

#include "OrvexCommon/platform/OrvexSys.h"

#include <cstdint>

namespace Orvex {
namespace detail {

// Trivially constructible, so it is readable before and after its lifetime:
// its lock is null then, and lookups find nothing. The array is a heap block.
struct SSymbolState {
    sys::RecursiveLock* lock;
    unsigned moduleCount;
    unsigned moduleCapacity;
    std::uint64_t* moduleBases;
};

// The state, created empty on first use after the allocator manager (which
// sets up the platform's symbol handler) and given back at unload before it,
// so that unloading and loading the library again loses no storage.
SSymbolState& SymbolState();

} // namespace detail
} // namespace Orvex

#endif // ORVEX_DIAG_DETAIL_SYMBOLSTATE_H
