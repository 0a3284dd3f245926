// The 32-bit block hash: Jenkins' lookup2 with initial value 0.
#include "OrvexCommon/text/OrvexText.h"

namespace Orvex {

namespace {

// Little-endian 32-bit word from 4 bytes of any alignment; compilers turn the
// byte assembly into a single load on little-endian machines.
inline std::uint32_t LoadWord(const unsigned char* bytes) {
    return static_cast<std::uint32_t>(bytes[0]) | static_cast<std::uint32_t>(bytes[1]) << 8 |
           static_cast<std::uint32_t>(bytes[2]) << 16 | static_cast<std::uint32_t>(bytes[3]) << 24;
}

inline void Mix(std::uint32_t& a, std::uint32_t& b, std::uint32_t& c) {
    a = (a - b - c) ^ (c >> 13);
    b = (b - c - a) ^ (a << 8);
    c = (c - a - b) ^ (b >> 13);
    a = (a - b - c) ^ (c >> 12);
    b = (b - c - a) ^ (a << 16);
    c = (c - a - b) ^ (b >> 5);
    a = (a - b - c) ^ (c >> 3);
    b = (b - c - a) ^ (a << 10);
    c = (c - a - b) ^ (b >> 15);
}

} // namespace

std::uint32_t OrvexHash(const void* data, unsigned size) {
    const unsigned char* bytes = static_cast<const unsigned char*>(data);
    std::uint32_t a = 0x9E3779B9u;
    std::uint32_t b = 0x9E3779B9u;
    std::uint32_t c = 0;
    unsigned remaining = size;
    while (remaining >= 12) {
        a += LoadWord(bytes);
        b += LoadWord(bytes + 4);
        c += LoadWord(bytes + 8);
        Mix(a, b, c);
        bytes += 12;
        remaining -= 12;
    }
    c += size;
    // The tail: bytes 0-3 into a, 4-7 into b, 8-10 into c above its low byte,
    // which holds the length.
    switch (remaining) {
    case 11:
        c += static_cast<std::uint32_t>(bytes[10]) << 24;
        [[fallthrough]];
    case 10:
        c += static_cast<std::uint32_t>(bytes[9]) << 16;
        [[fallthrough]];
    case 9:
        c += static_cast<std::uint32_t>(bytes[8]) << 8;
        [[fallthrough]];
    case 8:
        b += static_cast<std::uint32_t>(bytes[7]) << 24;
        [[fallthrough]];
    case 7:
        b += static_cast<std::uint32_t>(bytes[6]) << 16;
        [[fallthrough]];
    case 6:
        b += static_cast<std::uint32_t>(bytes[5]) << 8;
        [[fallthrough]];
    case 5:
        b += bytes[4];
        [[fallthrough]];
    case 4:
        a += static_cast<std::uint32_t>(bytes[3]) << 24;
        [[fallthrough]];
    case 3:
        a += static_cast<std::uint32_t>(bytes[2]) << 16;
        [[fallthrough]];
    case 2:
        a += static_cast<std::uint32_t>(bytes[1]) << 8;
        [[fallthrough]];
    case 1:
        a += bytes[0];
        [[fallthrough]];
    default:
        break;
    }
    Mix(a, b, c);
    return c;
}

} // namespace Orvex
