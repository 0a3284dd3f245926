// The log lines' formatter against this target's own std::vsnprintf: every
// row of the tables below is formatted by both, whole and cut short, and must
// give the same bytes and the same length; rows the formatter handles must
// not fall back to the runtime.
#include "OrvexCommon/text/detail/PrintFormat.h"

#include <gtest/gtest.h>

#include <cfloat>
#include <climits>
#include <cmath>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <limits>
#include <random>
#include <string>

namespace {

using Orvex::detail::FormatPrint;
using Orvex::detail::kPrintFallback;
using Orvex::detail::ProbePrintTraits;
using Orvex::detail::SPrintTraits;

const SPrintTraits& Traits() {
    static const SPrintTraits traits = ProbePrintTraits();
    return traits;
}

constexpr std::size_t kCapacity = 1400;

struct Printed {
    std::string text; // what the buffer holds (a capacity of 0 leaves it untouched)
    int length;
    bool fellBack = false;
};

std::string Held(const char* buffer, std::size_t capacity) {
    return capacity == 0 ? std::string(buffer, 1) : std::string(buffer);
}

// As a log line is printed: ours, then the runtime on a fallback.
Printed Ours(std::size_t capacity, const char* format, ...) {
    char buffer[kCapacity];
    std::memset(buffer, '#', sizeof buffer);
    va_list args;
    va_start(args, format);
    Printed printed;
    printed.length = FormatPrint(buffer, capacity, format, args, Traits());
    if (printed.length == kPrintFallback) {
        // The list must still be unread.
        printed.fellBack = true;
        printed.length = std::vsnprintf(buffer, capacity, format, args);
    }
    va_end(args);
    printed.text = Held(buffer, capacity);
    return printed;
}

Printed Runtime(std::size_t capacity, const char* format, ...) {
    char buffer[kCapacity];
    std::memset(buffer, '#', sizeof buffer);
    va_list args;
    va_start(args, format);
    Printed printed;
    printed.length = std::vsnprintf(buffer, capacity, format, args);
    va_end(args);
    printed.text = Held(buffer, capacity);
    return printed;
}

// Who must format a row: the formatter itself, the runtime, or either (the
// few cases the formatter hands back for some values only).
enum class Path { Ours, Runtime, Either };

// Formats with both at several capacities.
template <typename... Args> void Expect(Path path, const char* format, Args... args) {
    for (const std::size_t capacity : {kCapacity, std::size_t(0), std::size_t(1), std::size_t(5)}) {
        const Printed ours = Ours(capacity, format, args...);
        const Printed runtime = Runtime(capacity, format, args...);
        EXPECT_EQ(runtime.text, ours.text) << "format \"" << format << "\", capacity " << capacity;
        EXPECT_EQ(runtime.length, ours.length) << "format \"" << format << "\"";
        if (path != Path::Either) {
            EXPECT_EQ(path == Path::Runtime, ours.fellBack) << "format \"" << format << "\"";
        }
    }
}

Path FloatPath() {
    return Traits().floats ? Path::Ours : Path::Runtime;
}

// A width given in the format (after its flags).
bool HasWidth(const char* format) {
    const char* at = std::strchr(format, '%') + 1;
    at += std::strspn(at, "-+ #0");
    return *at == '*' || (*at >= '1' && *at <= '9');
}

// %g: with a width it goes to a runtime that pads it short; under '#' to
// every runtime when the exponent reaches the precision (some values only).
Path FloatPath(const char* format) {
    const bool general = std::strpbrk(format, "gG") != nullptr;
    if (!Traits().floats || (general && HasWidth(format) && !Traits().generalWidth)) {
        return Path::Runtime;
    }
    return general && std::strchr(format, '#') != nullptr ? Path::Either : Path::Ours;
}

TEST(PrintFormat, EveryTargetFormatsFloatsItself) {
    // Both runtimes write exact decimal expansions; a probe that says
    // otherwise would silently send every float back to them.
    EXPECT_TRUE(Traits().floats);
}

TEST(PrintFormat, SignedIntegers) {
    const int values[] = {0, 1, -1, 7, -42, 1000000, INT_MAX, INT_MIN, INT_MIN + 1};
    const char* formats[] = {"%d",    "%i",     "%5d",    "%-5d|", "%05d",    "%+d",    "% d",
                             "%+ d",  "%.0d",   "%.3d",   "%8.3d", "%-8.3d|", "%08.3d", "%+.0d",
                             "% 05d", "%-+6d|", "%0-6d|", "%#d",   "%12.11d", "%.12d"};
    for (const char* format : formats) {
        for (const int value : values) {
            Expect(Path::Ours, format, value);
        }
    }
    Expect(Path::Ours, "%*d|%-*d|%*d", 6, -3, 6, 3, -6, 3);
    Expect(Path::Ours, "%.*d|%.*d|%*.*d", 4, 5, -1, 0, 7, 3, -8);
}

TEST(PrintFormat, UnsignedIntegers) {
    const unsigned values[] = {0u, 1u, 7u, 8u, 255u, 4096u, 0x80000000u, UINT_MAX};
    const char* formats[] = {"%u",    "%x",     "%X",    "%o",    "%#x",     "%#X",       "%#o",
                             "%#.0o", "%#.0x",  "%.0x",  "%.0o",  "%#08x",   "%#8x",      "%-#8x|",
                             "%#.5x", "%#.5o",  "%08o",  "%+u",   "% x",     "%#08o",     "%#3o",
                             "%.0u",  "%-12X|", "%012u", "%#.1o", "%#10.4x", "%#-10.4o|", "% u",
                             "%+ u",  "% 5o",   "%+#X"};
    for (const char* format : formats) {
        // A runtime that signs unsigned conversions keeps those fields.
        const bool signFlag = std::strpbrk(format, "+ ") != nullptr;
        const Path path = signFlag && !Traits().unsignedWithoutSign ? Path::Runtime : Path::Ours;
        for (const unsigned value : values) {
            Expect(path, format, value);
        }
    }
    const Path lengths = Traits().unsignedWithoutSign ? Path::Ours : Path::Runtime;
    Expect(lengths, "% lu|%+ llu|% zu|% ju|% tu|% hhu|% hu", ULONG_MAX, ULLONG_MAX, SIZE_MAX,
           UINTMAX_MAX, static_cast<std::size_t>(12), 300, 70000);
}

TEST(PrintFormat, LengthModifiers) {
    Expect(Path::Ours, "%hhd %hhd %hhu %hhx", 300, -129, 511, 0x1ff);
    Expect(Path::Ours, "%hd %hd %hu %ho", 70000, -32769, 70000, 0x1ffff);
    Expect(Path::Ours, "%ld %ld %lu %lx %lo", LONG_MIN, LONG_MAX, ULONG_MAX, ULONG_MAX, 8ul);
    Expect(Path::Ours, "%lld %lld %llu %llx %llX %llo", LLONG_MIN, LLONG_MAX, ULLONG_MAX,
           ULLONG_MAX, 0xabcdef0123456789ull, ULLONG_MAX);
    Expect(Path::Ours, "%jd %jd %ju %jx", INTMAX_MIN, INTMAX_MAX, UINTMAX_MAX, UINTMAX_MAX);
    Expect(Path::Ours, "%zu %zx %zd", SIZE_MAX, SIZE_MAX, static_cast<std::ptrdiff_t>(-1));
    Expect(Path::Ours, "%td %td %tu", PTRDIFF_MIN, PTRDIFF_MAX, static_cast<std::size_t>(5));
    Expect(Path::Ours, "%+20lld|%-#22llo|%025llu", LLONG_MIN, ULLONG_MAX, ULLONG_MAX);
}

TEST(PrintFormat, CharactersAndStrings) {
    for (const char* format : {"%c", "%3c", "%-3c|", "%03c", "%.0c"}) {
        for (const int value : {int('a'), int(' '), 0xe9, 0x141}) {
            Expect(Path::Ours, format, value);
        }
    }
    const std::string longText(1500, 'w');
    const char* texts[] = {"", "a", "hello", "h\xc3\xa9llo w\xc3\xb6rld", longText.c_str()};
    const char* formats[] = {"%s",     "%.0s", "%.2s",   "%10s", "%-10s|",
                             "%10.3s", "%05s", "%-.4s|", "%+s",  "%#s"};
    for (const char* format : formats) {
        for (const char* text : texts) {
            Expect(Path::Ours, format, text);
        }
    }
    // A precision reads no byte past itself: the text need not be terminated.
    const char unterminated[3] = {'x', 'y', 'z'};
    Expect(Path::Ours, "%.3s|%.2s", unterminated, unterminated);
    Expect(Path::Ours, "%*s|%-*s|%.*s", 8, "ab", 8, "ab", 1, "ab");
    Expect(Path::Ours, "100%% %%d %s%%", "x");
    Expect(Path::Ours, "no conversion at all");
    Expect(Path::Ours, "");
}

TEST(PrintFormat, Pointers) {
    int local = 0;
    const Path path = Traits().pointers ? Path::Ours : Path::Runtime;
    for (const char* format : {"%p", "%20p", "%-20p|"}) {
        Expect(path, format, static_cast<void*>(&local));
        Expect(path, format, reinterpret_cast<void*>(1));
        Expect(path, format, reinterpret_cast<void*>(UINTPTR_MAX));
        Expect(path, format, static_cast<void*>(nullptr));
    }
    // Flags and precisions on %p are the runtime's own.
    Expect(Path::Runtime, "%#p %+p", static_cast<void*>(&local), static_cast<void*>(&local));
    Expect(Path::Runtime, "%.20p", static_cast<void*>(&local));
}

const double kFloats[] = {0.0,
                          -0.0,
                          1.0,
                          -1.0,
                          0.5,
                          1.5,
                          2.5,
                          0.125,
                          0.375,
                          0.1,
                          1.0 / 3.0,
                          -2.0 / 3.0,
                          123456.789,
                          9.9995,
                          999999.5,
                          9999995.0,
                          100000.0,
                          1e6,
                          1e-5,
                          1e-4,
                          0.000123456,
                          1e15,
                          1e16,
                          9007199254740993.0,
                          1e21,
                          1e300,
                          -1e300,
                          1e-300,
                          DBL_MIN,
                          DBL_TRUE_MIN,
                          5e-324,
                          DBL_MAX,
                          -DBL_MAX,
                          std::numeric_limits<double>::infinity(),
                          -std::numeric_limits<double>::infinity(),
                          std::numeric_limits<double>::quiet_NaN(),
                          std::copysign(std::numeric_limits<double>::quiet_NaN(), -1.0)};

TEST(PrintFormat, Floats) {
    const char* formats[] = {
        "%f",    "%.0f",  "%.1f",  "%.2f",  "%.10f",  "%#.0f",  "%e",        "%.0e",
        "%#.0e", "%.3e",  "%E",    "%g",    "%.0g",   "%.1g",   "%.3g",      "%.10g",
        "%.17g", "%#g",   "%#.3g", "%#.0g", "%G",     "%10.3f", "%-10.3f|",  "%010.3f",
        "%+f",   "% f",   "%+.3e", "% g",   "%010g",  "%-12e|", "%+010.2f",  "%F",
        "%.60f", "%.40e", "%.30g", "%lf",   "%.300f", "%#.12G", "%- 14.5E|", "%030.20e"};
    for (const char* format : formats) {
        for (const double value : kFloats) {
            Expect(FloatPath(format), format, value);
        }
    }
    Expect(FloatPath(), "%#g %#.3g %#.0g", 999999.4, 0.000125, 2.0);
    Expect(Traits().floats ? Path::Runtime : FloatPath(), "%#g", 999999.5);
    Expect(Traits().floats ? Path::Runtime : FloatPath(), "%#.3G", 1e3);
    Expect(FloatPath(), "%*.*f|%-*.*e|%.*g", 12, 3, 2.5, 12, 2, -0.125, -1, 1e-7);
    // The values a runtime pads short in %g.
    for (const char* format : {"%6g", "%-10g|", "%010g", "%+010.8g", "%5G"}) {
        for (const double value : {1000.0, 10000.0, 100000.0, 1e6, 1200.0}) {
            Expect(FloatPath(format), format, value);
        }
    }
}

TEST(PrintFormat, LongDoublesThatADoubleHolds) {
    Expect(FloatPath(), "%Lf %Le %Lg", 1.5L, -0.125L, static_cast<long double>(1e300));
    // Values a double cannot hold go to the runtime.
    Expect(Path::Runtime, "%Lf", 1.0L + LDBL_EPSILON);
}

// Random bit patterns: every kind of double, at the precisions log lines use
// and at some that need every digit.
TEST(PrintFormat, RandomDoubles) {
    std::mt19937_64 random(20261209);
    const char* formats[] = {"%f", "%.3f", "%e", "%.12e", "%g", "%.15g", "%#.4g", "%.40f"};
    for (int i = 0; i < 4000; ++i) {
        const std::uint64_t bits = random();
        double value;
        std::memcpy(&value, &bits, sizeof value);
        // Also values of ordinary size, where rounding ties and carries meet.
        const double ordinary =
            static_cast<double>(static_cast<std::int64_t>(bits >> 24) % 2000000) /
            std::ldexp(1.0, static_cast<int>(bits & 15));
        for (const char* format : formats) {
            Expect(FloatPath(format), format, value);
            Expect(FloatPath(format), format, ordinary);
        }
    }
}

TEST(PrintFormat, MixedLines) {
    Expect(FloatPath(), "%s %d %f", "some words of a log line", 12345, -3.25);
    Expect(FloatPath(), "[%-8s] %5.1f%% of %u items, %#x flags, %c%c", "loader", 99.95, 17u, 0x40u,
           'o', 'k');
    Expect(Path::Ours, "%s=%d;%s=%lld;", "a", 1, "b", -2ll);
}

TEST(PrintFormat, WhatTheRuntimeFormats) {
    Expect(Path::Runtime, "%a", 1.0);
    Expect(Path::Runtime, "%d %ls", 1, L"wide");
    Expect(Path::Runtime, "%lc", static_cast<wint_t>(L'w'));
    Expect(Path::Runtime, "%d %5%", 3);
    Expect(Path::Runtime, "%2$d %1$d", 1, 2);
    Expect(Path::Runtime, "%s", static_cast<const char*>(nullptr));
    Expect(Path::Runtime, "%hf", 1.0);
    Expect(Path::Runtime, "%Ld", 1ll);
    Expect(Path::Runtime, "%lld %1001d", 1ll, 5);
    Expect(Path::Runtime, "%.1001f", 1.0);
    Expect(Path::Runtime, "%*d", 5000, 5);
    Expect(Path::Runtime, "%.*f", 5000, 1.0);
    Expect(Path::Runtime, "%d %y", 5);
    Expect(Path::Runtime, "trailing %");
}

// A decimal point other than '.' hands floats (and only floats) back to the
// runtime; the traits' reader is asked instead of the C runtime's record.
TEST(PrintFormat, AskTheDecimalPointReaderBeforeEachFloat) {
    if (!Traits().floats) {
        GTEST_SKIP() << "this runtime formats every float itself";
    }
    static int asked = 0;
    SPrintTraits comma = Traits();
    comma.decimalPoint = [] { return ++asked, ","; };
    SPrintTraits dot = Traits();
    dot.decimalPoint = [] { return ++asked, "."; };
    char buffer[64];
    const auto print = [&](const SPrintTraits& traits, const char* format, ...) {
        va_list args;
        va_start(args, format);
        const int length = FormatPrint(buffer, sizeof buffer, format, args, traits);
        va_end(args);
        return length;
    };
    EXPECT_EQ(print(comma, "%d %f", 1, 1.5), kPrintFallback);
    EXPECT_EQ(print(comma, "%d %s", 1, "x"), 3);
    EXPECT_EQ(asked, 1);
    EXPECT_EQ(print(dot, "%.1f %g", 1.5, 2.5), 7);
    EXPECT_STREQ(buffer, "1.5 2.5");
    EXPECT_EQ(asked, 3);
}

} // namespace
