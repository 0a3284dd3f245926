// A printf formatter for the conversions log lines use, writing what the C
// runtime's vsnprintf writes, byte for byte, in a fraction of its time (no
// locale lookups per conversion, no stream machinery, floats through
// std::to_chars).
//
// Handled: conversions d i u x X o c s p f F e E g G and %%, the flags - + space
// # 0, widths and precisions (digits or *), and the lengths hh h l ll j z t
// (and L on floats that a double holds exactly). Everything else (%n, %a,
// wide characters and strings, positional arguments, the ' and I flags,
// MSVC-style lengths, unknown conversions, a null %s, a decimal point other
// than '.', a rounding mode other than to nearest, fields past kMaxPrintField,
// a total past INT_MAX) is left to the runtime: FormatPrint returns
// kPrintFallback and the caller hands the whole call to vsnprintf, with its
// own va_list, which FormatPrint never consumes.
//
// Where runtimes write the same conversion differently, SPrintTraits says
// which way this one does; ProbePrintTraits reads it off std::snprintf once,
// so a runtime that writes a case some other way sends that case back to
// itself.
#ifndef ORVEX_TEXT_DETAIL_PRINTFORMAT_H
#define ORVEX_TEXT_DETAIL_PRINTFORMAT_H

#include <cstdarg>
#include <cstddef>

namespace Orvex {
namespace detail {

struct SPrintTraits {
    // Floats as std::to_chars writes them: inf and nan spelled so, exponents
    // of at least two digits.
    bool floats = false;
    // A NaN with its sign bit set prints "-nan"; without this the runtime
    // prints every NaN as positive ("+nan" under the + flag).
    bool nanSign = false;
    // %p as "0x" and lowercase hex digits, "(nil)" for null (with a width or
    // '-' at most; other flags and precisions go to the runtime).
    bool pointers = false;
    // "%#.0o" of zero writes "0"; without this it writes nothing.
    bool octalZeroKept = false;
    // %g and %G pad to their width; without this the runtime pads some
    // values (those whose fixed form dropped zeros) short, so a %g with a
    // width goes to it.
    bool generalWidth = false;
    // The space and plus flags put no sign before an unsigned conversion
    // (u, o, x, X); without this the runtime writes one there, so such a field
    // goes to it.
    bool unsignedWithoutSign = false;
    // The current decimal point, read before each float conversion; null:
    // std::localeconv's, which is not safe while other threads call it.
    const char* (*decimalPoint)() = nullptr;
};

// What the C runtime's std::snprintf does in each case of SPrintTraits.
SPrintTraits ProbePrintTraits();

// The widest width or precision formatted here (a float's precision
// included); a wider field goes to the runtime.
constexpr int kMaxPrintField = 1000;

// FormatPrint's answer when the runtime must format the call.
constexpr int kPrintFallback = -2;

// Formats as std::vsnprintf(out, capacity, format, args) would: at most
// capacity - 1 bytes and a terminator (nothing when capacity is 0), and
// returns the length of the whole text, or kPrintFallback. `args` is read
// through a copy and stays unread.
int FormatPrint(char* out, std::size_t capacity, const char* format, va_list args,
                const SPrintTraits& traits);

} // namespace detail
} // namespace Orvex

#endif // ORVEX_TEXT_DETAIL_PRINTFORMAT_H
