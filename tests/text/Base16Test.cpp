#include "OrvexCommon/text/OrvexText.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using Orvex::Uint82Base16;

const unsigned char kBytes[] = {0x01, 0xAB, 0};

TEST(Uint82Base16, BufferSizes) {
    char out[8];
    std::fill(out, out + 8, 'X');
    EXPECT_EQ(5u, Uint82Base16(kBytes, out, 5));
    EXPECT_STREQ("01ab", out);

    std::fill(out, out + 8, 'X');
    EXPECT_EQ(5u, Uint82Base16(kBytes, out, 4));
    EXPECT_EQ("01abX", std::string(out, 5));

    std::fill(out, out + 8, 'X');
    EXPECT_EQ(3u, Uint82Base16(kBytes, out, 3));
    EXPECT_EQ(std::string("01\0X", 4), std::string(out, 4));

    std::fill(out, out + 8, 'X');
    EXPECT_EQ(1u, Uint82Base16(kBytes, out, 1));
    EXPECT_EQ('\0', out[0]);
    EXPECT_EQ(1u, Uint82Base16(kBytes, out, 0));
    EXPECT_EQ('\0', out[0]);
}

TEST(Uint82Base16, NullsAndEveryByteValue) {
    char out[4];
    EXPECT_EQ(0u, Uint82Base16(nullptr, out, 4));
    EXPECT_EQ(0u, Uint82Base16(kBytes, nullptr, 4));
    EXPECT_EQ(1u, Uint82Base16(reinterpret_cast<const unsigned char*>(""), out, 4));
    EXPECT_EQ('\0', out[0]);

    static const char kDigits[] = "0123456789abcdef";
    for (unsigned value = 1; value < 256; ++value) {
        const unsigned char one[] = {static_cast<unsigned char>(value), 0};
        ASSERT_EQ(3u, Uint82Base16(one, out, 4));
        EXPECT_EQ(kDigits[value >> 4], out[0]);
        EXPECT_EQ(kDigits[value & 15], out[1]);
    }
}

} // namespace
