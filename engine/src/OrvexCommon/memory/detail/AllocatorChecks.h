// The allocator's invariants, asserted on every operation in a checking build
// (ORVEX_CHECKS, on in the sanitizer presets); compiled away otherwise. A
// broken invariant prints what broke and aborts.
//
// Checked:
//   - a page's free list: every link a unit boundary of its class inside the
//     page, no unit twice, as long as the page's free count says (the headers
//     of units never handed out hold whatever the page held before, so they
//     are not checked);
//   - a pool: pages in ascending order, each owned by the class in the page
//     map, free counts adding up to the pool's;
//   - a unit leaving or entering a thread cache: a unit of a page of its
//     class; leaving, free in its page's unit states; entering, not in the
//     bin already;
//   - a bin: never above its capacity.
#ifndef ORVEX_MEMORY_DETAIL_ALLOCATORCHECKS_H
#define ORVEX_MEMORY_DETAIL_ALLOCATORCHECKS_H

#include "OrvexCommon/memory/detail/AllocatorManager.h"

#ifndef ORVEX_CHECKS
#define ORVEX_CHECKS 0
#endif

namespace Orvex {
namespace detail {

constexpr bool kAllocatorChecks = ORVEX_CHECKS != 0;

// Prints "allocator invariant broken: <what>" and aborts.
[[noreturn]] void AllocatorCheckFailed(const char* what);

// Class lock held.
void CheckPage(const SPoolClass& pool, unsigned pageIndex);
void CheckPool(const SPoolClass& pool);

// A free unit of class `index` on its way into or out of a thread cache.
void CheckCachedUnit(unsigned index, const unsigned char* unit);

struct SCacheBin;
// Before `unit` is pushed on `bin`.
void CheckBinPush(const SCacheBin& bin, const unsigned char* unit);

} // namespace detail
} // namespace Orvex

#endif // ORVEX_MEMORY_DETAIL_ALLOCATORCHECKS_H
