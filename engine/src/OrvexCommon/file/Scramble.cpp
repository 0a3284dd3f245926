// The package scrambling key and the XOR pass.
#include "OrvexCommon/file/detail/Scramble.h"

#include <cstring>

namespace Orvex {
namespace detail {

namespace {

// The key is not stored as bytes: four words and a mask combine at run time,
// so the key does not appear as one literal run in the binary. Changing any of
// these changes the package format.
constexpr std::uint32_t kKeyWords[4] = {0x5D2C8A41u, 0x93E4F70Bu, 0x2AB61D6Eu, 0xC70F5893u};
constexpr std::uint32_t kKeyMask = 0x6B1E37D5u;

struct KeyBytes {
    unsigned char bytes[kScrambleKeySize];

    KeyBytes() {
        for (std::uint32_t word = 0; word < 4; ++word) {
            // Each word is masked with the mask rotated by its index.
            const std::uint32_t rotation = word * 8;
            const std::uint32_t mask =
                rotation == 0 ? kKeyMask : (kKeyMask << rotation) | (kKeyMask >> (32 - rotation));
            const std::uint32_t value = kKeyWords[word] ^ mask;
            for (std::uint32_t b = 0; b < 4; ++b) {
                bytes[word * 4 + b] = static_cast<unsigned char>(value >> (8 * b));
            }
        }
    }
};

} // namespace

const unsigned char* ScrambleKey() {
    static const KeyBytes key;
    return key.bytes;
}

void Descramble(unsigned char* buffer, std::uint32_t fileOffset, std::uint32_t length) {
    const unsigned char* key = ScrambleKey();
    // The key rotated to the buffer's first byte, twice over so that 8-byte
    // words can be taken from it at any phase.
    unsigned char pattern[kScrambleKeySize * 2];
    for (std::uint32_t i = 0; i < kScrambleKeySize * 2; ++i) {
        pattern[i] = key[(fileOffset + i) % kScrambleKeySize];
    }
    std::uint32_t i = 0;
    for (; i + 8 <= length; i += 8) {
        std::uint64_t data;
        std::uint64_t mask;
        std::memcpy(&data, buffer + i, 8);
        std::memcpy(&mask, pattern + (i % kScrambleKeySize), 8);
        data ^= mask;
        std::memcpy(buffer + i, &data, 8);
    }
    for (; i < length; ++i) {
        buffer[i] ^= pattern[i % kScrambleKeySize];
    }
}

} // namespace detail
} // namespace Orvex
