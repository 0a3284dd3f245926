// The invalid-call handler behind SFunctionTable and GetVirtualFunIndex.
#ifndef ORVEX_MATH_DETAIL_VIRTUALSLOTINVALID_H
#define ORVEX_MATH_DETAIL_VIRTUALSLOTINVALID_H

namespace Orvex {
namespace detail {

// Writes "Can not call a invalid function!" and a line end to the log stream,
// then throws a char* pointing at that same text.
[[noreturn]] void InvalidFunctionCall();

} // namespace detail
} // namespace Orvex

#endif // ORVEX_MATH_DETAIL_VIRTUALSLOTINVALID_H
