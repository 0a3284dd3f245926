// The float conversions of the printf formatter: std::to_chars for the
// digits, an exact integer path for the common short %f, and the runtime's
// spelling of what to_chars spells differently.
#include "OrvexCommon/text/detail/PrintSink.h"

#include <cfenv>
#include <charconv>
#include <clocale>
#include <cmath>
#include <cstdint>
#include <cstring>

namespace Orvex {
namespace detail {

namespace {

// Room for any float below kMaxPrintField digits of precision: 309 integer
// digits of the largest double, the point, the digits, an exponent.
constexpr std::size_t kFloatText = 320 + kMaxPrintField;

// ---- Floats ----

// The decimal point, the rounding mode: what the runtime reads per call.
bool FloatsAsHere(const SPrintTraits& traits) {
    if (!traits.floats || std::fegetround() != FE_TONEAREST) {
        return false;
    }
    const char* point =
        traits.decimalPoint != nullptr ? traits.decimalPoint() : std::localeconv()->decimal_point;
    return point[0] == '.' && point[1] == '\0';
}

// The exponent of text in to_chars' scientific form ("d.ddde+XX").
int ExponentOf(const char* text, const char* end) {
    const char* e = static_cast<const char*>(std::memchr(text, 'e', end - text));
    int exponent = 0;
    for (const char* at = e + 2; at < end; ++at) {
        exponent = exponent * 10 + (*at - '0');
    }
    return e[1] == '-' ? -exponent : exponent;
}

// A 128-bit unsigned number as two halves: the exact product of a double's
// significand and a power of ten.
struct SWide {
    std::uint64_t high;
    std::uint64_t low;
};

SWide Multiply(std::uint64_t a, std::uint32_t b) {
    const std::uint64_t lowProduct = (a & 0xFFFFFFFFu) * b;
    const std::uint64_t highProduct = (a >> 32) * b + (lowProduct >> 32);
    return {highProduct >> 32, (highProduct << 32) | (lowProduct & 0xFFFFFFFFu)};
}

constexpr std::uint32_t kPowersOfTen[] = {1,      10,      100,      1000,      10000,
                                          100000, 1000000, 10000000, 100000000, 1000000000};

// %f of a magnitude below 1e9 at a precision up to 9, in integer arithmetic:
// the significand times 10^precision, shifted right by the binary exponent,
// rounded to nearest with ties to even on the exact remainder (as the exact
// decimal expansion rounds). Null for other magnitudes and precisions.
char* WriteFixedShort(char* text, double magnitude, int precision) {
    if (precision > 9 || !(magnitude < 1e9)) {
        return nullptr;
    }
    std::uint64_t bits;
    std::memcpy(&bits, &magnitude, sizeof bits);
    const int biased = static_cast<int>(bits >> 52);
    std::uint64_t scaled = 0;
    if (biased != 0) { // subnormals round to 0 at these precisions
        const std::uint64_t significand = (bits & ((std::uint64_t(1) << 52) - 1)) | std::uint64_t(1)
                                                                                        << 52;
        // magnitude = significand / 2^shift, with shift >= 23 below 1e9.
        const int shift = 1075 - biased;
        const SWide product = Multiply(significand, kPowersOfTen[precision]);
        // The product is below 2^83: from a shift of 84 on, it is below half.
        if (shift < 84) {
            std::uint64_t quotient;
            std::uint64_t rest;
            std::uint64_t half;
            bool above;
            bool exactHalf;
            if (shift < 64) {
                quotient = (product.low >> shift) | (product.high << (64 - shift));
                rest = product.low & ((std::uint64_t(1) << shift) - 1);
                half = std::uint64_t(1) << (shift - 1);
                above = rest > half;
                exactHalf = rest == half;
            } else {
                quotient = product.high >> (shift - 64);
                const std::uint64_t highRest =
                    product.high & ((std::uint64_t(1) << (shift - 64)) - 1);
                // Half is 2^(shift-1): bit shift-65 of the high part when
                // shift > 64, the top bit of the low part when shift == 64.
                if (shift == 64) {
                    half = std::uint64_t(1) << 63;
                    above = product.low > half;
                    exactHalf = product.low == half;
                } else {
                    half = std::uint64_t(1) << (shift - 65);
                    above = highRest > half || (highRest == half && product.low != 0);
                    exactHalf = highRest == half && product.low == 0;
                }
            }
            scaled = quotient + ((above || (exactHalf && (quotient & 1) != 0)) ? 1 : 0);
        }
    }
    const std::uint64_t unit = kPowersOfTen[precision];
    char digits[24];
    char* const digitsEnd = digits + sizeof digits;
    const char* start = WriteDigits(digitsEnd, scaled / unit, 10, false);
    const std::size_t whole = static_cast<std::size_t>(digitsEnd - start);
    std::memcpy(text, start, whole);
    char* end = text + whole;
    if (precision != 0) {
        *end++ = '.';
        char* fractionEnd = end + precision;
        std::uint64_t fraction = scaled % unit;
        for (char* at = fractionEnd; at != end;) {
            *--at = static_cast<char>('0' + fraction % 10);
            fraction /= 10;
        }
        end = fractionEnd;
    }
    return end;
}

// %g: the shorter of %e and %f at the precision's significant digits, its
// trailing zeros dropped unless '#'. Null for the one case runtimes write
// differently: '#' on a value whose exponent reaches the precision, where
// one runtime drops the zeros when rounding carried it there.
char* WriteGeneral(char* text, char* limit, double magnitude, int precision, bool alt) {
    const int significant = precision == 0 ? 1 : precision;
    char* end =
        std::to_chars(text, limit, magnitude, std::chars_format::scientific, significant - 1).ptr;
    const int exponent = ExponentOf(text, end);
    if (alt && exponent == significant) {
        return nullptr;
    }
    char* exponentStart = end;
    if (exponent >= -4 && exponent < significant) {
        end = std::to_chars(text, limit, magnitude, std::chars_format::fixed,
                            significant - 1 - exponent)
                  .ptr;
        exponentStart = end;
    } else {
        exponentStart = static_cast<char*>(std::memchr(text, 'e', end - text));
    }
    char* point = static_cast<char*>(std::memchr(text, '.', exponentStart - text));
    if (alt) {
        if (point == nullptr) {
            std::memmove(exponentStart + 1, exponentStart, end - exponentStart);
            *exponentStart = '.';
            ++end;
        }
        return end;
    }
    if (point == nullptr) {
        return end;
    }
    char* kept = exponentStart;
    while (kept[-1] == '0') {
        --kept;
    }
    if (kept[-1] == '.') {
        --kept;
    }
    std::memmove(kept, exponentStart, end - exponentStart);
    return kept + (end - exponentStart);
}

bool PutFloat(SSink& sink, const SField& field, double value, const SPrintTraits& traits) {
    const char conversion = field.conversion;
    const bool upper = conversion == 'F' || conversion == 'E' || conversion == 'G';
    if ((conversion == 'g' || conversion == 'G') && field.width != 0 && !traits.generalWidth) {
        return false;
    }
    const bool nan = std::isnan(value);
    const bool negative = std::signbit(value) && (!nan || traits.nanSign);
    const char sign = negative ? '-' : field.plus ? '+' : field.space ? ' ' : 0;
    if (nan || std::isinf(value)) {
        const char* text = nan ? (upper ? "NAN" : "nan") : (upper ? "INF" : "inf");
        PutPadded(sink, field, sign, "", 0, 0, text, 3, false);
        return true;
    }
    const double magnitude = std::fabs(value);
    const int precision = field.precision < 0 ? 6 : field.precision;
    char text[kFloatText];
    char* const limit = text + sizeof text;
    char* end;
    if (conversion == 'f' || conversion == 'F') {
        end = WriteFixedShort(text, magnitude, precision);
        if (end == nullptr) {
            end = std::to_chars(text, limit, magnitude, std::chars_format::fixed, precision).ptr;
        }
        if (field.alt && precision == 0) {
            *end++ = '.';
        }
    } else if (conversion == 'e' || conversion == 'E') {
        end = std::to_chars(text, limit, magnitude, std::chars_format::scientific, precision).ptr;
        if (field.alt && precision == 0) {
            std::memmove(text + 2, text + 1, end - (text + 1));
            text[1] = '.';
            ++end;
        }
    } else {
        end = WriteGeneral(text, limit, magnitude, precision, field.alt);
        if (end == nullptr) {
            return false;
        }
    }
    if (upper) {
        char* e = static_cast<char*>(std::memchr(text, 'e', end - text));
        if (e != nullptr) {
            *e = 'E';
        }
    }
    PutPadded(sink, field, sign, "", 0, 0, text, static_cast<std::size_t>(end - text),
              field.zero && !field.left);
    return true;
}

} // namespace

bool ReadAndPutFloat(SSink& sink, const SField& field, SArgs& args, const SPrintTraits& traits) {
    if (field.length == 'L') {
        const long double wide = va_arg(args.list, long double);
        const double value = static_cast<double>(wide);
        // Only a value a double holds exactly prints the same digits.
        if (std::isnan(wide) || static_cast<long double>(value) != wide) {
            return false;
        }
        return FloatsAsHere(traits) && PutFloat(sink, field, value, traits);
    }
    if (field.length != 0 && field.length != 'l') {
        return false;
    }
    const double value = va_arg(args.list, double);
    return FloatsAsHere(traits) && PutFloat(sink, field, value, traits);
}

} // namespace detail
} // namespace Orvex
