// Entry points whose contract reports running out of memory through their
// result (false, null, -1) rather than an exception: every public call with a
// failure value gives it when memory runs out.
#ifndef ORVEX_MEMORY_DETAIL_WITHOUTMEMORY_H
#define ORVEX_MEMORY_DETAIL_WITHOUTMEMORY_H

#include <new>
#include <utility>

namespace Orvex {
namespace detail {

// The body's result, or `fallback` when memory ran out inside it. The body
// must leave what it touched as it was when it throws.
template <typename Result, typename Body>
Result FallbackWithoutMemory(Result fallback, Body&& body) {
    try {
        return std::forward<Body>(body)();
    } catch (const std::bad_alloc&) {
        return fallback;
    }
}

} // namespace detail
} // namespace Orvex

#endif // ORVEX_MEMORY_DETAIL_WITHOUTMEMORY_H
