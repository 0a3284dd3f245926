// The log lines' formatter against the C runtime's vsnprintf: the input
// builds a valid format of up to three arguments (flags, widths and
// precisions, '*' included, lengths, conversions, text between) and the
// arguments themselves, and both must write the same bytes and return the
// same length into an output buffer of a size the input picks. A fallback to
// the runtime counts as agreement only through the runtime's own output.
#include "FuzzInput.h"
#include "OrvexCommon/text/detail/PrintFormat.h"

#include <algorithm>
#include <cfloat>
#include <climits>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>
#include <string>

namespace {

using Orvex::detail::FormatPrint;
using Orvex::detail::kPrintFallback;
using Orvex::detail::SPrintTraits;

// The argument types a conversion reads, as the runtime reads them on this
// (LP64) target: j, z and t name long-sized types.
enum class Kind : unsigned char { Int, Long, LongLong, Double, LongDouble, Pointer };

struct Slot {
    Kind kind = Kind::Int;
    bool star = false; // a width or precision given by '*': i is set
    int i = 0;
    long l = 0;
    long long q = 0;
    double d = 0;
    long double e = 0;
    const char* p = "";
};

constexpr int kSlots = 3;

// Reads the input byte by byte; past its end every byte is 0.
class Bytes {
public:
    explicit Bytes(const std::vector<char>& bytes) : m_bytes(bytes) {}
    unsigned char Next() {
        return m_at < m_bytes.size() ? static_cast<unsigned char>(m_bytes[m_at++]) : 0;
    }
    std::uint64_t Word(int size) {
        std::uint64_t value = 0;
        for (int k = 0; k < size; ++k) {
            value = value << 8 | Next();
        }
        return value;
    }
    bool Done() const { return m_at >= m_bytes.size(); }

private:
    const std::vector<char>& m_bytes;
    std::size_t m_at = 0;
};

const double kSpecialDoubles[] = {0.0,
                                  -0.0,
                                  0.5,
                                  2.5,
                                  0.125,
                                  999999.5,
                                  9.9995,
                                  1e21,
                                  1e-5,
                                  DBL_MAX,
                                  DBL_MIN,
                                  DBL_TRUE_MIN,
                                  std::numeric_limits<double>::infinity(),
                                  -std::numeric_limits<double>::infinity(),
                                  std::numeric_limits<double>::quiet_NaN(),
                                  -std::numeric_limits<double>::quiet_NaN()};

const long long kSpecialIntegers[] = {0, 1, -1, INT_MIN, INT_MAX, LLONG_MIN, LLONG_MAX, 255, 256};

// The value of a slot: raw input bits, or a value at a limit.
void FillValue(Slot& slot, Bytes& bytes, const char* text) {
    const unsigned char choice = bytes.Next();
    const long long special = kSpecialIntegers[choice % (sizeof kSpecialIntegers / 8)];
    const bool raw = choice >= 64;
    const std::uint64_t bits = bytes.Word(8);
    slot.i = raw ? static_cast<int>(bits) : static_cast<int>(special);
    slot.l = raw ? static_cast<long>(bits) : static_cast<long>(special);
    slot.q = raw ? static_cast<long long>(bits) : special;
    if (raw) {
        std::memcpy(&slot.d, &bits, sizeof slot.d);
        if (choice >= 160) {
            // Values of ordinary size, where rounding meets carries and ties.
            slot.d = static_cast<double>(static_cast<long long>(bits >> 20) % 100000000) /
                     std::ldexp(1.0, static_cast<int>(bits & 31));
        }
    } else {
        slot.d = kSpecialDoubles[choice % (sizeof kSpecialDoubles / sizeof(double))];
    }
    slot.e = choice & 1 ? static_cast<long double>(slot.d) : slot.d + 1.0L / 3;
    slot.p = choice % 5 == 0 ? "" : text;
}

const char* const kLengths[] = {"", "", "", "", "hh", "h", "l", "ll", "j", "z", "t", "L", "q"};

// The type a conversion with this length reads; false for combinations left
// out (wide characters and strings, %n).
bool KindOf(char conversion, const std::string& length, Kind& kind) {
    if (std::strchr("diuxXo", conversion) != nullptr) {
        if (length.empty() || length == "hh" || length == "h") {
            kind = Kind::Int;
        } else if (length == "l" || length == "j" || length == "z" || length == "t") {
            kind = Kind::Long;
        } else {
            kind = Kind::LongLong;
        }
        return true;
    }
    if (std::strchr("fFeEgGaA", conversion) != nullptr) {
        kind = length == "L" ? Kind::LongDouble : Kind::Double;
        return length.empty() || length == "l" || length == "L";
    }
    if (conversion == 'c') {
        kind = Kind::Int;
        return length.empty();
    }
    kind = Kind::Pointer; // s and p
    return length.empty();
}

// Appends one conversion and the slots it reads; false when the slots run
// out.
bool AppendConversion(std::string& format, Slot* slots, int& used, Bytes& bytes) {
    const unsigned char flags = bytes.Next();
    const unsigned char shape = bytes.Next();
    const unsigned char widthByte = bytes.Next();
    const unsigned char precisionByte = bytes.Next();
    static const char kConversions[] = "diuxXocspfFeEgGaA%";
    const char conversion = kConversions[bytes.Next() % (sizeof kConversions - 1)];
    if (conversion == '%') {
        format += "%%";
        return true;
    }
    std::string field = "%";
    for (int k = 0; k < 5; ++k) {
        if (flags & 1 << k) {
            field += "-+ #0"[k];
        }
    }
    const bool starWidth = (shape & 3) == 3;
    const bool starPrecision = (shape >> 2 & 3) == 3;
    const std::string length = kLengths[(shape >> 4) % (sizeof kLengths / sizeof *kLengths)];
    Kind kind;
    if (!KindOf(conversion, length, kind)) {
        return true; // a combination left out: nothing appended
    }
    const int needed = 1 + (starWidth ? 1 : 0) + (starPrecision ? 1 : 0);
    if (used + needed > kSlots) {
        return false;
    }
    // Widths and precisions: small ones mostly, some near the limits.
    const auto count = [](unsigned char byte) {
        return byte < 200 ? byte % 40 : byte < 250 ? 990 + byte % 20 : 1100;
    };
    if (starWidth) {
        field += '*';
        slots[used].star = true;
        slots[used++].i = static_cast<signed char>(widthByte) * ((widthByte & 1) ? 9 : 1);
    } else if ((shape & 3) != 0) {
        field += std::to_string(count(widthByte));
    }
    if (starPrecision) {
        field += ".*";
        slots[used].star = true;
        slots[used++].i = static_cast<signed char>(precisionByte) * ((precisionByte & 1) ? 9 : 1);
    } else if ((shape >> 2 & 3) == 1) {
        field += '.';
    } else if ((shape >> 2 & 3) == 2) {
        field += '.' + std::to_string(count(precisionByte));
    }
    format += field + length + conversion;
    slots[used++].kind = kind;
    return true;
}

int Ours(char* out, std::size_t capacity, const SPrintTraits& traits, const char* format, ...) {
    va_list args;
    va_start(args, format);
    int length = FormatPrint(out, capacity, format, args, traits);
    if (length == kPrintFallback) {
        length = std::vsnprintf(out, capacity, format, args);
    }
    va_end(args);
    return length;
}

int Runtime(char* out, std::size_t capacity, const char* format, ...) {
    va_list args;
    va_start(args, format);
    const int length = std::vsnprintf(out, capacity, format, args);
    va_end(args);
    return length;
}

template <typename... Args>
void Compare(const char* format, std::size_t capacity, const SPrintTraits& traits, Args... args) {
    std::unique_ptr<char[]> ours(new char[capacity + 1]);
    std::unique_ptr<char[]> runtime(new char[capacity + 1]);
    std::memset(ours.get(), 'o', capacity + 1);
    std::memset(runtime.get(), 'r', capacity + 1);
    const int oursLength = Ours(ours.get(), capacity, traits, format, args...);
    const int runtimeLength = Runtime(runtime.get(), capacity, format, args...);
    // The bytes written, terminator included (a %c may have written zeros).
    const std::size_t held =
        capacity == 0 || runtimeLength < 0
            ? 0
            : std::min(static_cast<std::size_t>(runtimeLength), capacity - 1) + 1;
    if (oursLength != runtimeLength || ours[held] != 'o' ||
        std::memcmp(ours.get(), runtime.get(), held) != 0) {
        std::fprintf(stderr, "format \"%s\", capacity %zu: ours %d \"%.*s\", runtime %d \"%.*s\"\n",
                     format, capacity, oursLength, static_cast<int>(held), ours.get(),
                     runtimeLength, static_cast<int>(held), runtime.get());
        std::abort();
    }
}

// Passes the slots as arguments of their own types, all three of them (the
// format reads a prefix).
template <typename... Args>
void Dispatch(const Slot* slot, const char* format, std::size_t capacity,
              const SPrintTraits& traits, Args... args) {
    if constexpr (sizeof...(Args) == kSlots) {
        Compare(format, capacity, traits, args...);
    } else {
        switch (slot->kind) {
        case Kind::Int:
            Dispatch(slot + 1, format, capacity, traits, args..., slot->i);
            break;
        case Kind::Long:
            Dispatch(slot + 1, format, capacity, traits, args..., slot->l);
            break;
        case Kind::LongLong:
            Dispatch(slot + 1, format, capacity, traits, args..., slot->q);
            break;
        case Kind::Double:
            Dispatch(slot + 1, format, capacity, traits, args..., slot->d);
            break;
        case Kind::LongDouble:
            Dispatch(slot + 1, format, capacity, traits, args..., slot->e);
            break;
        case Kind::Pointer:
            Dispatch(slot + 1, format, capacity, traits, args..., slot->p);
            break;
        }
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const SPrintTraits traits = Orvex::detail::ProbePrintTraits();
    FuzzInput input(data, size);
    const std::size_t capacity = input.TakeSize() % 1200;
    const std::vector<char> rest = input.RestAsText();
    Bytes bytes(rest);
    // The text %s prints: up to 80 bytes of the input's end, in a buffer of
    // its exact size.
    const std::size_t textSize = std::min<std::size_t>(bytes.Next() % 81, rest.size() - 1);
    std::unique_ptr<char[]> text(new char[textSize + 1]);
    std::memcpy(text.get(), rest.data() + (rest.size() - 1 - textSize), textSize);
    text[textSize] = '\0';

    std::string format;
    Slot slots[kSlots];
    int used = 0;
    while (!bytes.Done() && format.size() < 200) {
        const unsigned char step = bytes.Next();
        if (step < 96) {
            // Literal text, without '%'.
            const char c = static_cast<char>(step % 95 + 32);
            format += c == '%' ? '~' : c;
        } else if (!AppendConversion(format, slots, used, bytes)) {
            break;
        }
    }
    for (Slot& slot : slots) {
        if (!slot.star) {
            FillValue(slot, bytes, text.get());
        }
    }
    Dispatch(slots, format.c_str(), capacity, traits);
    return 0;
}
