// The pieces of OrvexHash, for callers that hash many texts sharing a prefix:
// the state after the prefix's whole 12-byte blocks is the same for all of
// them, so it is computed once and each text only finishes from it.
#ifndef ORVEX_TEXT_DETAIL_HASHBLOCKS_H
#define ORVEX_TEXT_DETAIL_HASHBLOCKS_H

#include <cstdint>

namespace Orvex {
namespace detail {

struct SHashState {
    std::uint32_t a = 0x9E3779B9u;
    std::uint32_t b = 0x9E3779B9u;
    std::uint32_t c = 0;
};

constexpr unsigned kHashBlockSize = 12;

// Little-endian 32-bit word from 4 bytes of any alignment; compilers turn the
// byte assembly into a single load on little-endian machines.
inline std::uint32_t LoadHashWord(const unsigned char* bytes) {
    return static_cast<std::uint32_t>(bytes[0]) | static_cast<std::uint32_t>(bytes[1]) << 8 |
           static_cast<std::uint32_t>(bytes[2]) << 16 | static_cast<std::uint32_t>(bytes[3]) << 24;
}

// The mix of three words, for single words and for vectors of them alike
// (several hashes finished side by side).
template <typename Word> inline void MixHashWords(Word& a, Word& b, Word& c) {
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

inline void MixHashState(SHashState& s) {
    MixHashWords(s.a, s.b, s.c);
}

// Takes in `blocks` whole 12-byte blocks.
inline void HashWholeBlocks(SHashState& s, const unsigned char* bytes, unsigned blocks) {
    for (; blocks > 0; --blocks, bytes += kHashBlockSize) {
        s.a += LoadHashWord(bytes);
        s.b += LoadHashWord(bytes + 4);
        s.c += LoadHashWord(bytes + 8);
        MixHashState(s);
    }
}

// Adds the last `count` (under 12) bytes of a text of `total` bytes, and the
// length, before the final mix: bytes 0-3 into a, 4-7 into b, 8-10 into c
// above its low byte, which holds the length.
inline void AddHashTail(SHashState& s, const unsigned char* bytes, unsigned count, unsigned total) {
    std::uint32_t& a = s.a;
    std::uint32_t& b = s.b;
    std::uint32_t& c = s.c;
    c += total;
    switch (count) {
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
}

// The hash of a text of `total` bytes whose first blocks went into `s`:
// `rest` holds the other `restSize` bytes (whole blocks, then the tail).
inline std::uint32_t FinishHash(SHashState s, const unsigned char* rest, unsigned restSize,
                                unsigned total) {
    HashWholeBlocks(s, rest, restSize / kHashBlockSize);
    AddHashTail(s, rest + restSize / kHashBlockSize * kHashBlockSize, restSize % kHashBlockSize,
                total);
    MixHashState(s);
    return s.c;
}

} // namespace detail
} // namespace Orvex

#endif // ORVEX_TEXT_DETAIL_HASHBLOCKS_H
