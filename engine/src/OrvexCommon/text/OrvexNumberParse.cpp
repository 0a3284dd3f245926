// Text to numbers. Parsing is locale-independent (a '.' is always the decimal
// point), identical on every target, and never reads past the terminator.
#include "OrvexCommon/text/OrvexText.h"

#include <charconv>
#include <cstring>
#include <limits>
#include <system_error>

namespace Orvex {

namespace {

inline bool IsBlank(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

inline bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

// The text after leading white space and an optional sign; `negative` tells
// which sign was read.
const char* SkipBlanksAndSign(const char* text, bool& negative) {
    while (IsBlank(*text)) {
        ++text;
    }
    negative = *text == '-';
    if (*text == '-' || *text == '+') {
        ++text;
    }
    return text;
}

// The decimal integer at the start of text, clamped to [minimum, maximum].
template <typename Integer> Integer ParseClamped(const char* text) {
    if (text == nullptr) {
        return 0;
    }
    bool negative;
    const char* digits = SkipBlanksAndSign(text, negative);
    const char* end = digits;
    while (IsDigit(*end)) {
        ++end;
    }
    // Magnitude as unsigned, so that the most negative value parses exactly.
    typedef typename std::make_unsigned<Integer>::type Magnitude;
    Magnitude magnitude = 0;
    const auto parsed = std::from_chars(digits, end, magnitude);
    const Magnitude limit = negative ? Magnitude(std::numeric_limits<Integer>::max()) + 1u
                                     : Magnitude(std::numeric_limits<Integer>::max());
    if (parsed.ec == std::errc::result_out_of_range || magnitude > limit) {
        magnitude = limit;
    }
    return negative ? static_cast<Integer>(Magnitude(0) - magnitude)
                    : static_cast<Integer>(magnitude);
}

// Length of the longest prefix of `text` in the form digits [. digits]
// [e [sign] digits] with at least one digit before the exponent; 0 if none.
std::size_t DecimalPrefixLength(const char* text) {
    const char* cursor = text;
    bool sawDigit = false;
    while (IsDigit(*cursor)) {
        ++cursor;
        sawDigit = true;
    }
    if (*cursor == '.') {
        ++cursor;
        while (IsDigit(*cursor)) {
            ++cursor;
            sawDigit = true;
        }
    }
    if (!sawDigit) {
        return 0;
    }
    if (*cursor == 'e' || *cursor == 'E') {
        const char* exponent = cursor + 1;
        if (*exponent == '+' || *exponent == '-') {
            ++exponent;
        }
        if (IsDigit(*exponent)) {
            while (IsDigit(*exponent)) {
                ++exponent;
            }
            cursor = exponent;
        }
    }
    return static_cast<std::size_t>(cursor - text);
}

// The exponent part of a decimal number (after 'e' or 'E'), saturated far
// beyond any double's range; 0 when there is none.
long long DecimalExponent(const char* cursor, const char* end) {
    while (cursor < end && *cursor != 'e' && *cursor != 'E') {
        ++cursor;
    }
    if (cursor == end) {
        return 0;
    }
    ++cursor;
    const bool negative = *cursor == '-';
    if (*cursor == '-' || *cursor == '+') {
        ++cursor;
    }
    long long value = 0;
    for (; cursor < end && value < 1000000; ++cursor) {
        value = value * 10 + (*cursor - '0');
    }
    return negative ? -value : value;
}

// True when the decimal number (a prefix that DecimalPrefixLength accepted) is
// at least 1 in magnitude: tells overflow from underflow when the value does
// not fit a double.
bool IsAtLeastOne(const char* number, std::size_t length) {
    const char* end = number + length;
    const char* cursor = number;
    while (cursor < end && *cursor == '0') {
        ++cursor;
    }
    long long leadingPower; // the power of ten of the first non-zero digit
    if (cursor < end && IsDigit(*cursor)) {
        const char* integerEnd = cursor;
        while (integerEnd < end && IsDigit(*integerEnd)) {
            ++integerEnd;
        }
        leadingPower = integerEnd - cursor - 1;
    } else {
        if (cursor < end && *cursor == '.') {
            ++cursor;
        }
        const char* fraction = cursor;
        while (cursor < end && *cursor == '0') {
            ++cursor;
        }
        if (cursor == end || !IsDigit(*cursor)) {
            return false; // the number is zero
        }
        leadingPower = -(cursor - fraction) - 1;
    }
    return leadingPower + DecimalExponent(number, end) >= 0;
}

double ParseDouble(const char* text) {
    if (text == nullptr) {
        return 0.0;
    }
    bool negative;
    const char* number = SkipBlanksAndSign(text, negative);
    const std::size_t length = DecimalPrefixLength(number);
    if (length == 0) {
        return 0.0;
    }
    double value = 0.0;
    const auto parsed = std::from_chars(number, number + length, value);
    if (parsed.ec == std::errc::result_out_of_range) {
        // Overflow gives infinity and underflow zero, as the C runtime does.
        value = IsAtLeastOne(number, length) ? std::numeric_limits<double>::infinity() : 0.0;
    }
    return negative ? -value : value;
}

// The first 63 UTF-8 bytes of wide text (cut at a character boundary),
// terminated, in `buffer`.
struct NarrowedText {
    char buffer[64] = {};
    explicit NarrowedText(const wchar_t* text) {
        if (text != nullptr) {
            UcsToUtf8(text, buffer, sizeof(buffer) - 1);
        }
    }
    const char* get(const wchar_t* original) const { return original ? buffer : nullptr; }
};

} // namespace

int OrvexA2I(const char* text) {
    return ParseClamped<int>(text);
}

int OrvexA2I(const wchar_t* text) {
    return OrvexA2I(NarrowedText(text).get(text));
}

long long OrvexA2I64(const char* text) {
    return ParseClamped<long long>(text);
}

long long OrvexA2I64(const wchar_t* text) {
    return OrvexA2I64(NarrowedText(text).get(text));
}

double OrvexA2F(const char* text) {
    return ParseDouble(text);
}

double OrvexA2F(const wchar_t* text) {
    return OrvexA2F(NarrowedText(text).get(text));
}

} // namespace Orvex
