// Bytes to lowercase hexadecimal text.
#include "OrvexCommon/text/OrvexText.h"

namespace Orvex {

unsigned Uint82Base16(const unsigned char* src, char* dst, unsigned size) {
    if (src == nullptr || dst == nullptr) {
        return 0;
    }
    static const char kDigits[] = "0123456789abcdef";
    unsigned digits = 0; // always even: two per source byte
    while (*src != 0 && digits + 1 < size) {
        dst[digits] = kDigits[*src >> 4];
        dst[digits + 1] = kDigits[*src & 0x0F];
        digits += 2;
        ++src;
    }
    if (digits < size) {
        dst[digits] = 0;
    }
    return digits + 1;
}

} // namespace Orvex
