#include "OrvexCommon/text/OrvexText.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <vector>

namespace {

// An independent, deliberately plain lookup2: the tail is added byte by byte
// and every word is assembled from single bytes.
std::uint32_t ReferenceHash(const unsigned char* k, std::uint32_t length) {
    std::uint32_t a = 0x9e3779b9, b = 0x9e3779b9, c = 0;
    auto mix = [&]() {
        a = (a - b - c) ^ (c >> 13);
        b = (b - c - a) ^ (a << 8);
        c = (c - a - b) ^ (b >> 13);
        a = (a - b - c) ^ (c >> 12);
        b = (b - c - a) ^ (a << 16);
        c = (c - a - b) ^ (b >> 5);
        a = (a - b - c) ^ (c >> 3);
        b = (b - c - a) ^ (a << 10);
        c = (c - a - b) ^ (b >> 15);
    };
    std::uint32_t len = length;
    while (len >= 12) {
        for (int i = 0; i < 4; ++i) {
            a += std::uint32_t(k[i]) << (8 * i);
            b += std::uint32_t(k[4 + i]) << (8 * i);
            c += std::uint32_t(k[8 + i]) << (8 * i);
        }
        mix();
        k += 12;
        len -= 12;
    }
    c += length;
    for (std::uint32_t i = 0; i < len; ++i) {
        if (i < 4) {
            a += std::uint32_t(k[i]) << (8 * i);
        } else if (i < 8) {
            b += std::uint32_t(k[i]) << (8 * (i - 4));
        } else {
            c += std::uint32_t(k[i]) << (8 * (i - 7));
        }
    }
    mix();
    return c;
}

TEST(OrvexHash, CheckValues) {
    EXPECT_EQ(0xBD49D10Du, Orvex::OrvexHash("", 0));
    EXPECT_EQ(0xBD49D10Du, Orvex::OrvexHash(nullptr, 0));
    EXPECT_EQ(0x251E4793u, Orvex::OrvexHash("abc", 3));
    EXPECT_EQ(0x0B1B3EA5u, Orvex::OrvexHash("abcdefghijkl", 12));
}

TEST(OrvexHash, AgreesWithReferenceOnRandomBlocksAtEveryAlignment) {
    std::mt19937 random(20261208);
    std::vector<unsigned char> bytes(4096 + 16);
    for (auto& byte : bytes) {
        byte = static_cast<unsigned char>(random());
    }
    for (int round = 0; round < 4000; ++round) {
        const unsigned offset = random() % 8;
        // Mostly short blocks, where the tail handling matters, some long ones.
        const unsigned size = round % 10 == 0 ? random() % 4096 : random() % 40;
        const unsigned char* block = bytes.data() + offset;
        ASSERT_EQ(ReferenceHash(block, size), Orvex::OrvexHash(block, size))
            << "size " << size << " offset " << offset;
    }
}

TEST(OrvexHash, EveryTailLengthUsesEveryByte) {
    // Changing any one byte of a block of 1..35 bytes changes the hash.
    unsigned char block[35] = {};
    for (unsigned size = 1; size <= sizeof(block); ++size) {
        const std::uint32_t base = Orvex::OrvexHash(block, size);
        for (unsigned k = 0; k < size; ++k) {
            block[k] = 1;
            EXPECT_NE(base, Orvex::OrvexHash(block, size)) << size << ":" << k;
            EXPECT_EQ(ReferenceHash(block, size), Orvex::OrvexHash(block, size));
            block[k] = 0;
        }
    }
}

} // namespace
