// Numeric conversions done with integer operations only: no floating-point
// conversion instruction, no rounding-mode change, no library call.
#include "OrvexCommon/text/OrvexText.h"

#include <cstring>

namespace Orvex {

unsigned short sqrti(unsigned value) {
    // Digit-by-digit square root, two bits of the value at a time.
    std::uint32_t root = 0;
    std::uint32_t remainder = 0;
    for (int shift = 30; shift >= 0; shift -= 2) {
        remainder = (remainder << 2) | ((value >> shift) & 3u);
        root <<= 1;
        const std::uint32_t trial = 2 * root + 1;
        if (remainder >= trial) {
            remainder -= trial;
            root += 1;
        }
    }
    return static_cast<unsigned short>(root);
}

double u2d(unsigned value) {
    if (value == 0) {
        return 0.0;
    }
    // value = 1.f x 2^top exactly: at most 32 significant bits fit the 52-bit
    // fraction, so the bits are placed, never rounded.
    const int top = 31 - __builtin_clz(value);
    const std::uint64_t fraction =
        (static_cast<std::uint64_t>(value) << (52 - top)) & ((std::uint64_t(1) << 52) - 1);
    const std::uint64_t bits = (static_cast<std::uint64_t>(1023 + top) << 52) | fraction;
    double result;
    std::memcpy(&result, &bits, sizeof(result));
    return result;
}

namespace {

// The truncated magnitude of a float, from its bits, as a 32-bit pattern.
// Magnitudes of 2^32 and above (and NaN, infinities) give 0.
std::uint32_t TruncatedMagnitude(std::uint32_t bits) {
    const std::uint32_t exponent = (bits >> 23) & 0xFFu;
    const std::uint32_t mantissa = (bits & 0x7FFFFFu) | 0x800000u;
    if (exponent < 127) {
        return 0; // below 1: zero and subnormal numbers included
    }
    if (exponent >= 150) {
        const std::uint32_t shift = exponent - 150;
        return shift < 9 ? mantissa << shift : 0;
    }
    return mantissa >> (150 - exponent);
}

std::uint32_t FloatBits(float value) {
    std::uint32_t bits;
    std::memcpy(&bits, &value, sizeof(bits));
    return bits;
}

std::uint32_t TruncateToPattern(float value) {
    const std::uint32_t bits = FloatBits(value);
    const std::uint32_t magnitude = TruncatedMagnitude(bits);
    return (bits & 0x80000000u) ? 0u - magnitude : magnitude;
}

} // namespace

int f2i(float value) {
    return static_cast<int>(TruncateToPattern(value));
}

unsigned f2u(float value) {
    return TruncateToPattern(value);
}

} // namespace Orvex
