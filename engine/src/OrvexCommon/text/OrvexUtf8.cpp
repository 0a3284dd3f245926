// UTF-8 validation and conversion between UTF-8 and wide text.
#include "OrvexCommon/text/OrvexText.h"
#include "OrvexCommon/text/detail/Utf8Sequence.h"

#include <cstdint>

namespace Orvex {

using detail::DecodeUtf8Sequence;
using detail::WideUnit;

namespace {

// The replacement character, for 32-bit units that no UTF-8 form can carry.
constexpr WideUnit kReplacementCharacter = 0xFFFD;

inline bool IsAsciiByte(unsigned byte) { return byte - 1u < 0x7Fu; } // 0x01-0x7F

} // namespace

bool IsUtf8(const char* text) {
    if (text == nullptr) {
        return false;
    }
    const unsigned char* cursor = reinterpret_cast<const unsigned char*>(text);
    while (*cursor != 0) {
        if (*cursor < 0x80) {
            ++cursor;
            continue;
        }
        WideUnit ignored;
        const unsigned length = DecodeUtf8Sequence(cursor, ignored);
        if (length == 0) {
            return false;
        }
        cursor += length;
    }
    return true;
}

unsigned Utf8ToUcs(const char* src, wchar_t* dst, unsigned count) {
    if (src == nullptr || dst == nullptr) {
        return 0;
    }
    const unsigned char* cursor = reinterpret_cast<const unsigned char*>(src);
    unsigned produced = 0;
    for (;;) {
        // Runs of ASCII are the common case: one compare per byte.
        while (produced < count && IsAsciiByte(*cursor)) {
            dst[produced++] = static_cast<wchar_t>(*cursor++);
        }
        if (*cursor == 0) {
            break;
        }
        if (produced >= count) {
            return produced + 1; // full: no terminator written
        }
        WideUnit value;
        const unsigned length = DecodeUtf8Sequence(cursor, value);
        if (length == 0) {
            break; // invalid sequence: the text converted so far is kept
        }
        dst[produced++] = static_cast<wchar_t>(value);
        cursor += length;
    }
    if (produced < count) {
        dst[produced] = 0;
    }
    return produced + 1;
}

namespace {

// Bytes of the UTF-8 form of one unit (units without a UTF-8 form are written
// as the replacement character, 3 bytes).
inline unsigned EncodedLength(WideUnit unit) {
    if (unit < 0x80) {
        return 1;
    }
    if (unit < 0x800) {
        return 2;
    }
    const std::uint32_t value = unit; // 16-bit units never reach the 4-byte forms
    if (value >= 0x10000 && value <= 0x10FFFF) {
        return 4;
    }
    return 3;
}

inline void EncodeUnit(WideUnit unit, unsigned length, unsigned char* out) {
    switch (length) {
    case 1:
        out[0] = static_cast<unsigned char>(unit);
        break;
    case 2:
        out[0] = static_cast<unsigned char>(0xC0 | (unit >> 6));
        out[1] = static_cast<unsigned char>(0x80 | (unit & 0x3F));
        break;
    case 3:
        if (const std::uint32_t value = unit; value > 0xFFFF) {
            unit = kReplacementCharacter; // a wide unit beyond U+10FFFF
        }
        out[0] = static_cast<unsigned char>(0xE0 | (unit >> 12));
        out[1] = static_cast<unsigned char>(0x80 | ((unit >> 6) & 0x3F));
        out[2] = static_cast<unsigned char>(0x80 | (unit & 0x3F));
        break;
    default:
        out[0] = static_cast<unsigned char>(0xF0 | (unit >> 18));
        out[1] = static_cast<unsigned char>(0x80 | ((unit >> 12) & 0x3F));
        out[2] = static_cast<unsigned char>(0x80 | ((unit >> 6) & 0x3F));
        out[3] = static_cast<unsigned char>(0x80 | (unit & 0x3F));
        break;
    }
}

} // namespace

unsigned UcsToUtf8(const wchar_t* src, char* dst, unsigned size) {
    if (src == nullptr || dst == nullptr) {
        return 0;
    }
    unsigned char* out = reinterpret_cast<unsigned char*>(dst);
    unsigned written = 0;
    for (;;) {
        WideUnit unit;
        while (written < size && (unit = static_cast<WideUnit>(*src)) - 1u < 0x7Fu) {
            out[written++] = static_cast<unsigned char>(unit);
            ++src;
        }
        unit = static_cast<WideUnit>(*src);
        if (unit == 0) {
            break;
        }
        const unsigned length = EncodedLength(unit);
        if (length > size - written) {
            break; // a character that does not fit whole is not started
        }
        EncodeUnit(unit, length, out + written);
        written += length;
        ++src;
    }
    if (written < size) {
        out[written] = 0;
    }
    return written + 1;
}

} // namespace Orvex
