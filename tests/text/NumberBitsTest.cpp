#include "OrvexCommon/text/OrvexText.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <random>

namespace {

using Orvex::f2i;
using Orvex::f2u;
using Orvex::sqrti;
using Orvex::u2d;

float FloatFromBits(std::uint32_t bits) {
    float value;
    std::memcpy(&value, &bits, sizeof(value));
    return value;
}

TEST(Sqrti, NamedValues) {
    EXPECT_EQ(0, sqrti(0));
    EXPECT_EQ(1, sqrti(3));
    EXPECT_EQ(2, sqrti(4));
    EXPECT_EQ(32768, sqrti(1u << 30));
    EXPECT_EQ(46340, sqrti(2147483647u));
    EXPECT_EQ(65535, sqrti(4294967295u));
}

TEST(Sqrti, MatchesFloorSqrtAroundEverySquareAndOnSamples) {
    for (std::uint32_t root = 1; root <= 65535; ++root) {
        const std::uint32_t square = root * root;
        ASSERT_EQ(root, sqrti(square));
        ASSERT_EQ(root - 1, sqrti(square - 1));
        ASSERT_EQ(root, sqrti(square + root)); // still below (root + 1)^2
    }
    std::mt19937 random(7);
    for (int i = 0; i < 200000; ++i) {
        const std::uint32_t value = random();
        ASSERT_EQ(static_cast<unsigned>(std::floor(std::sqrt(static_cast<double>(value)))),
                  sqrti(value))
            << value;
    }
}

TEST(U2d, ExactForEverySampledValue) {
    EXPECT_EQ(0.0, u2d(0));
    EXPECT_EQ(1.0, u2d(1));
    EXPECT_EQ(4294967295.0, u2d(4294967295u));
    EXPECT_EQ(2147483648.0, u2d(2147483648u));
    EXPECT_EQ(2147483647.0, u2d(2147483647u));
    for (int bit = 0; bit < 32; ++bit) {
        const std::uint32_t power = 1u << bit;
        ASSERT_EQ(static_cast<double>(power), u2d(power));
        ASSERT_EQ(static_cast<double>(power - 1), u2d(power - 1));
        ASSERT_EQ(static_cast<double>(power | 1u), u2d(power | 1u));
    }
    std::mt19937 random(11);
    for (int i = 0; i < 200000; ++i) {
        const std::uint32_t value = random();
        ASSERT_EQ(static_cast<double>(value), u2d(value)) << value;
    }
}

TEST(F2i, NamedValues) {
    EXPECT_EQ(-3, f2i(-3.7f));
    EXPECT_EQ(0, f2i(0.999f));
    EXPECT_EQ(0, f2i(0.0f));
    EXPECT_EQ(0, f2i(-0.0f));
    EXPECT_EQ(16777216, f2i(16777217.0f));
    EXPECT_EQ(-2147483647 - 1, f2i(-2147483648.0f));
    EXPECT_EQ(0, f2i(FloatFromBits(1))); // smallest subnormal
    EXPECT_EQ(3000000000u, f2u(3000000000.0f));
    EXPECT_EQ(4294967040u, f2u(4294967040.0f)); // largest float below 2^32
    EXPECT_EQ(0u - 5u, f2u(-5.5f));
}

TEST(F2i, MatchesTruncationOverTheDomain) {
    // Every 61st float bit pattern of each sign whose magnitude is below 2^31.
    for (std::uint64_t bits = 0; bits < 0x4F000000u; bits += 61) {
        const float positive = FloatFromBits(static_cast<std::uint32_t>(bits));
        const float negative = FloatFromBits(static_cast<std::uint32_t>(bits) | 0x80000000u);
        ASSERT_EQ(static_cast<int>(positive), f2i(positive)) << bits;
        ASSERT_EQ(static_cast<int>(negative), f2i(negative)) << bits;
    }
}

TEST(F2u, MatchesTruncationOverTheDomain) {
    // Every 61st positive pattern below 2^32, and the wrap of negative values.
    for (std::uint64_t bits = 0; bits < 0x4F800000u; bits += 61) {
        const float value = FloatFromBits(static_cast<std::uint32_t>(bits));
        ASSERT_EQ(static_cast<std::uint32_t>(static_cast<std::int64_t>(value)), f2u(value)) << bits;
    }
    for (std::uint64_t bits = 0x80000000u; bits < 0xCF000000u; bits += 997) {
        const float value = FloatFromBits(static_cast<std::uint32_t>(bits));
        ASSERT_EQ(static_cast<std::uint32_t>(static_cast<std::int64_t>(value)), f2u(value)) << bits;
    }
}

TEST(F2i, OutsideTheDomainIsSafe) {
    // Magnitudes of 2^32 and more, infinities and NaN give 0 (and, under
    // UBSan, show that no shift goes out of range).
    EXPECT_EQ(0, f2i(4294967296.0f));
    EXPECT_EQ(0, f2i(1e20f));
    EXPECT_EQ(0, f2i(-1e38f));
    EXPECT_EQ(0u, f2u(FloatFromBits(0x7F800000u))); // infinity
    EXPECT_EQ(0u, f2u(FloatFromBits(0x7FC00000u))); // NaN
}

} // namespace
