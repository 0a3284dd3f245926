// The scrambling of package data: a 16-byte key XORed over the bytes, the key
// position following the byte's position in the package file, so any slice
// can be (de)scrambled on its own. Scrambling and descrambling are the same.
#ifndef ORVEX_FILE_DETAIL_SCRAMBLE_H
#define ORVEX_FILE_DETAIL_SCRAMBLE_H

#include <cstdint>

namespace Orvex {
namespace detail {

constexpr std::uint32_t kScrambleKeySize = 16;

// The key's 16 bytes, built at run time on first use from four words and a
// mask (Scramble.cpp).
const unsigned char* ScrambleKey();

// XORs byte i of `buffer` with key byte (fileOffset + i) mod 16.
void Descramble(unsigned char* buffer, std::uint32_t fileOffset, std::uint32_t length);

} // namespace detail
} // namespace Orvex

#endif // ORVEX_FILE_DETAIL_SCRAMBLE_H
