// The printf formatter of detail/PrintFormat.h: one pass over the format,
// each conversion read into a field description and written through a sink
// that keeps the first capacity - 1 bytes and counts the rest.
#include "OrvexCommon/text/detail/PrintFormat.h"
#include "OrvexCommon/text/detail/PrintSink.h"

#include <climits>
#include <cstdint>
#include <cstring>
#include <type_traits>

namespace Orvex {
namespace detail {

namespace {

inline bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

// Digits of a width or precision; null past kMaxPrintField.
const char* ReadCount(const char* at, int& value) {
    int result = 0;
    while (IsDigit(*at)) {
        result = result * 10 + (*at - '0');
        if (result > kMaxPrintField) {
            return nullptr;
        }
        ++at;
    }
    value = result;
    return at;
}

const char* ReadFlags(const char* at, SField& field) {
    for (;; ++at) {
        switch (*at) {
        case '-':
            field.left = true;
            break;
        case '+':
            field.plus = true;
            break;
        case ' ':
            field.space = true;
            break;
        case '#':
            field.alt = true;
            break;
        case '0':
            field.zero = true;
            break;
        default:
            return at;
        }
    }
}

// Width and precision, from the format or from int arguments (a negative
// width means '-', a negative precision none).
const char* ReadWidthAndPrecision(const char* at, SField& field, SArgs& args) {
    if (*at == '*') {
        const int width = va_arg(args.list, int);
        if (width < -kMaxPrintField || width > kMaxPrintField) {
            return nullptr;
        }
        field.left = field.left || width < 0;
        field.width = width < 0 ? -width : width;
        ++at;
    } else if ((at = ReadCount(at, field.width)) == nullptr) {
        return nullptr;
    }
    if (*at != '.') {
        return at;
    }
    ++at;
    if (*at == '*') {
        const int precision = va_arg(args.list, int);
        if (precision > kMaxPrintField) {
            return nullptr;
        }
        field.precision = precision < 0 ? -1 : precision;
        return at + 1;
    }
    return ReadCount(at, field.precision);
}

const char* ReadLength(const char* at, SField& field) {
    switch (*at) {
    case 'h':
        if (at[1] == 'h') {
            field.length = 'H';
            return at + 2;
        }
        field.length = 'h';
        return at + 1;
    case 'l':
        if (at[1] == 'l') {
            field.length = 'q';
            return at + 2;
        }
        field.length = 'l';
        return at + 1;
    case 'j':
    case 'z':
    case 't':
    case 'L':
        field.length = *at;
        return at + 1;
    default:
        return at;
    }
}

} // namespace

// ---- Padding ----

// Writes sign, prefix, zeros and body within the field's width: spaces
// before (or after, under '-'), or zeros after the sign and prefix when
// `zeroPad`.
void PutPadded(SSink& sink, const SField& field, char sign, const char* prefix,
               std::size_t prefixSize, std::size_t zeros, const char* body, std::size_t bodySize,
               bool zeroPad) {
    const std::size_t content = (sign != 0 ? 1 : 0) + prefixSize + zeros + bodySize;
    const std::size_t width = static_cast<std::size_t>(field.width);
    const std::size_t pad = width > content ? width - content : 0;
    if (pad != 0 && !field.left && !zeroPad) {
        Fill(sink, ' ', pad);
    }
    if (sign != 0) {
        Put(sink, &sign, 1);
    }
    Put(sink, prefix, prefixSize);
    if (pad != 0 && !field.left && zeroPad) {
        Fill(sink, '0', pad);
    }
    Fill(sink, '0', zeros);
    Put(sink, body, bodySize);
    if (pad != 0 && field.left) {
        Fill(sink, ' ', pad);
    }
}

// ---- Integers ----

constexpr char kDigitPairs[] = "00010203040506070809"
                               "10111213141516171819"
                               "20212223242526272829"
                               "30313233343536373839"
                               "40414243444546474849"
                               "50515253545556575859"
                               "60616263646566676869"
                               "70717273747576777879"
                               "80818283848586878889"
                               "90919293949596979899";

// The digits of `value` in `base`, written backwards from `end`; returns
// their start.
char* WriteDigits(char* end, std::uint64_t value, unsigned base, bool upper) {
    if (base == 10) {
        while (value >= 100) {
            const unsigned pair = static_cast<unsigned>(value % 100) * 2;
            value /= 100;
            *--end = kDigitPairs[pair + 1];
            *--end = kDigitPairs[pair];
        }
        if (value >= 10) {
            const unsigned pair = static_cast<unsigned>(value) * 2;
            *--end = kDigitPairs[pair + 1];
            *--end = kDigitPairs[pair];
        } else {
            *--end = static_cast<char>('0' + value);
        }
        return end;
    }
    const char* digits = upper ? "0123456789ABCDEF" : "0123456789abcdef";
    const unsigned shift = base == 16 ? 4 : 3;
    do {
        *--end = digits[value & (base - 1)];
        value >>= shift;
    } while (value != 0);
    return end;
}

namespace {

// Sign, "0x" or the octal zero, the precision's zeros (filled, not stored),
// digits.
void PutInteger(SSink& sink, const SField& field, std::uint64_t magnitude, bool negative,
                const SPrintTraits& traits) {
    const char conversion = field.conversion;
    const bool isSigned = conversion == 'd' || conversion == 'i';
    const unsigned base = conversion == 'o'                          ? 8
                          : (conversion == 'x' || conversion == 'X') ? 16
                                                                     : 10;
    char text[24];
    char* const end = text + sizeof text;
    char* start = end;
    // A zero precision with a zero value writes no digit.
    if (magnitude != 0 || field.precision != 0) {
        start = WriteDigits(end, magnitude, base, conversion == 'X');
    }
    const std::size_t digits = static_cast<std::size_t>(end - start);
    const std::size_t precision =
        field.precision < 0 ? 0 : static_cast<std::size_t>(field.precision);
    std::size_t zeros = precision > digits ? precision - digits : 0;
    const char* prefix = "";
    std::size_t prefixSize = 0;
    if (field.alt && base == 8) {
        // The first digit must be a zero; "%#.0o" of zero is the one case
        // runtimes disagree on.
        const bool startsWithZero = zeros != 0 || (digits != 0 && *start == '0');
        if (!startsWithZero && (digits != 0 || traits.octalZeroKept)) {
            zeros = 1;
        }
    } else if (field.alt && base == 16 && magnitude != 0) {
        prefix = conversion == 'X' ? "0X" : "0x";
        prefixSize = 2;
    }
    char sign = 0;
    if (isSigned) {
        sign = negative ? '-' : field.plus ? '+' : field.space ? ' ' : 0;
    }
    PutPadded(sink, field, sign, prefix, prefixSize, zeros, start, digits,
              field.zero && !field.left && field.precision < 0);
}

template <typename Signed>
void SplitSigned(Signed value, std::uint64_t& magnitude, bool& negative) {
    negative = value < 0;
    magnitude =
        negative ? 0 - static_cast<std::uint64_t>(value) : static_cast<std::uint64_t>(value);
}

// Reads the integer argument the length names; false for a length that
// integers do not take here.
bool ReadInteger(const SField& field, SArgs& args, std::uint64_t& magnitude, bool& negative) {
    typedef std::make_signed<std::size_t>::type SignedSize;
    typedef std::make_unsigned<std::ptrdiff_t>::type UnsignedDiff;
    negative = false;
    if (field.conversion == 'd' || field.conversion == 'i') {
        switch (field.length) {
        case 0:
            SplitSigned(va_arg(args.list, int), magnitude, negative);
            return true;
        case 'H':
            SplitSigned(static_cast<signed char>(va_arg(args.list, int)), magnitude, negative);
            return true;
        case 'h':
            SplitSigned(static_cast<short>(va_arg(args.list, int)), magnitude, negative);
            return true;
        case 'l':
            SplitSigned(va_arg(args.list, long), magnitude, negative);
            return true;
        case 'q':
            SplitSigned(va_arg(args.list, long long), magnitude, negative);
            return true;
        case 'j':
            SplitSigned(va_arg(args.list, std::intmax_t), magnitude, negative);
            return true;
        case 'z':
            SplitSigned(va_arg(args.list, SignedSize), magnitude, negative);
            return true;
        case 't':
            SplitSigned(va_arg(args.list, std::ptrdiff_t), magnitude, negative);
            return true;
        default:
            return false;
        }
    }
    switch (field.length) {
    case 0:
        magnitude = va_arg(args.list, unsigned);
        return true;
    case 'H':
        magnitude = static_cast<unsigned char>(va_arg(args.list, unsigned));
        return true;
    case 'h':
        magnitude = static_cast<unsigned short>(va_arg(args.list, unsigned));
        return true;
    case 'l':
        magnitude = va_arg(args.list, unsigned long);
        return true;
    case 'q':
        magnitude = va_arg(args.list, unsigned long long);
        return true;
    case 'j':
        magnitude = va_arg(args.list, std::uintmax_t);
        return true;
    case 'z':
        magnitude = va_arg(args.list, std::size_t);
        return true;
    case 't':
        magnitude = va_arg(args.list, UnsignedDiff);
        return true;
    default:
        return false;
    }
}

// ---- Characters, strings, pointers ----

void PutText(SSink& sink, const SField& field, const char* text, std::size_t size) {
    PutPadded(sink, field, 0, "", 0, 0, text, size, false);
}

bool PutString(SSink& sink, const SField& field, const char* text) {
    if (text == nullptr) {
        return false; // runtimes differ, and a precision cuts their "(null)"
    }
    std::size_t size = 0;
    if (field.precision < 0) {
        size = std::strlen(text);
    } else {
        // No byte past the precision is read: the text need not end there.
        while (size < static_cast<std::size_t>(field.precision) && text[size] != '\0') {
            ++size;
        }
    }
    PutText(sink, field, text, size);
    return true;
}

bool PutPointer(SSink& sink, const SField& field, const void* pointer, const SPrintTraits& traits) {
    if (!traits.pointers || field.plus || field.space || field.alt || field.zero ||
        field.precision >= 0) {
        return false;
    }
    if (pointer == nullptr) {
        PutText(sink, field, "(nil)", 5);
        return true;
    }
    char text[24];
    char* const end = text + sizeof text;
    const char* start = WriteDigits(end, reinterpret_cast<std::uintptr_t>(pointer), 16, false);
    PutPadded(sink, field, 0, "0x", 2, 0, start, static_cast<std::size_t>(end - start), false);
    return true;
}

// ---- One conversion ----

bool PutField(SSink& sink, const SField& field, SArgs& args, const SPrintTraits& traits) {
    switch (field.conversion) {
    case 'd':
    case 'i':
    case 'u':
    case 'o':
    case 'x':
    case 'X': {
        const bool isUnsigned = field.conversion != 'd' && field.conversion != 'i';
        if (isUnsigned && (field.space || field.plus) && !traits.unsignedWithoutSign) {
            return false;
        }
        std::uint64_t magnitude;
        bool negative;
        if (!ReadInteger(field, args, magnitude, negative)) {
            return false;
        }
        PutInteger(sink, field, magnitude, negative, traits);
        return true;
    }
    case 'c': {
        if (field.length != 0) {
            return false;
        }
        const char c = static_cast<char>(static_cast<unsigned char>(va_arg(args.list, int)));
        PutText(sink, field, &c, 1);
        return true;
    }
    case 's':
        return field.length == 0 && PutString(sink, field, va_arg(args.list, const char*));
    case 'p':
        return field.length == 0 && PutPointer(sink, field, va_arg(args.list, void*), traits);
    case 'f':
    case 'F':
    case 'e':
    case 'E':
    case 'g':
    case 'G':
        return ReadAndPutFloat(sink, field, args, traits);
    default:
        return false;
    }
}

// Formats the conversion at `at` (just past its '%'); returns the character
// after it, or null to leave the call to the runtime.
const char* FormatField(SSink& sink, const char* at, SArgs& args, const SPrintTraits& traits) {
    if (*at == '%') {
        Put(sink, "%", 1);
        return at + 1;
    }
    SField field;
    at = ReadFlags(at, field);
    at = ReadWidthAndPrecision(at, field, args);
    if (at == nullptr) {
        return nullptr;
    }
    at = ReadLength(at, field);
    field.conversion = *at;
    return PutField(sink, field, args, traits) ? at + 1 : nullptr;
}

int FormatAll(SSink& sink, const char* format, SArgs& args, const SPrintTraits& traits) {
    const char* at = format;
    for (;;) {
        // The text between conversions is short in log formats: a plain loop
        // beats a library call.
        const char* percent = at;
        while (*percent != '%' && *percent != '\0') {
            ++percent;
        }
        Put(sink, at, static_cast<std::size_t>(percent - at));
        if (*percent == '\0') {
            break;
        }
        at = FormatField(sink, percent + 1, args, traits);
        if (at == nullptr) {
            return kPrintFallback;
        }
    }
    return sink.count > static_cast<std::uint64_t>(INT_MAX) ? kPrintFallback
                                                            : static_cast<int>(sink.count);
}

} // namespace

int FormatPrint(char* out, std::size_t capacity, const char* format, va_list args,
                const SPrintTraits& traits) {
    SSink sink{out, capacity == 0 ? 0 : capacity - 1, 0};
    SArgs copy;
    va_copy(copy.list, args);
    const int produced = FormatAll(sink, format, copy, traits);
    va_end(copy.list);
    if (capacity != 0) {
        *sink.out = '\0';
    }
    return produced;
}

} // namespace detail
} // namespace Orvex
