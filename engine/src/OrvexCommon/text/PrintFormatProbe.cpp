// Reads off std::snprintf how this C runtime writes the cases where runtimes
// differ (detail/PrintFormat.h). A case whose text is neither known form
// stays false, so its calls keep going to the runtime.
#include "OrvexCommon/text/detail/PrintFormat.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>

namespace Orvex {
namespace detail {

namespace {

template <typename... Args> bool Writes(const char* expected, const char* format, Args... args) {
    char text[128];
    const int length = std::snprintf(text, sizeof text, format, args...);
    return length == static_cast<int>(std::strlen(expected)) && std::strcmp(text, expected) == 0;
}

// Exact decimal expansions with ties to even, the spellings of infinities and
// NaN, two-digit exponents: what std::to_chars gives.
bool FloatsLikeToChars() {
    const double inf = std::numeric_limits<double>::infinity();
    const double nan = std::numeric_limits<double>::quiet_NaN();
    return Writes("1.250e+01 1.0E-300 inf -INF nan NAN 1e-05 0.0001", "%.3e %.1E %f %F %e %G %g %g",
                  12.5, 1e-300, inf, -inf, nan, nan, 1e-5, 1e-4) &&
           Writes("0.2 0.12 2 0.10000000000000000555", "%.1f %.2f %.0f %.20f", 0.25, 0.125, 2.5,
                  0.1);
}

} // namespace

SPrintTraits ProbePrintTraits() {
    SPrintTraits traits;
    const double negativeNan = std::copysign(std::numeric_limits<double>::quiet_NaN(), -1.0);
    if (FloatsLikeToChars()) {
        if (Writes("-nan -NAN", "%f %G", negativeNan, negativeNan)) {
            traits.floats = true;
            traits.nanSign = true;
        } else if (Writes("nan +nan  NAN", "%f %+e % G", negativeNan, negativeNan, negativeNan)) {
            traits.floats = true;
        }
    }
    traits.pointers = Writes("(nil) 0x1abc |  0x1abc|0x1abc  |", "%p %p |%8p|%-8p|",
                             static_cast<void*>(nullptr), reinterpret_cast<void*>(0x1abc),
                             reinterpret_cast<void*>(0x1abc), reinterpret_cast<void*>(0x1abc));
    traits.octalZeroKept = Writes("0", "%#.0o", 0u);
    traits.generalWidth =
        Writes("  1000|100000    |0000100000", "%6g|%-10g|%010g", 1000.0, 100000.0, 100000.0);
    traits.unsignedWithoutSign =
        Writes("12|12|12|c|14|C", "% u|%+u|%+ u|% x|% o|%+X", 12u, 12u, 12u, 12u, 12u, 12u);
    return traits;
}

} // namespace detail
} // namespace Orvex
