// Decoding one UTF-8 sequence, shared by IsUtf8 and Utf8ToUcs.
#ifndef ORVEX_TEXT_DETAIL_UTF8SEQUENCE_H
#define ORVEX_TEXT_DETAIL_UTF8SEQUENCE_H

#include <cstdint>
#include <type_traits>

namespace Orvex {
namespace detail {

// One wide unit as an unsigned number: 16 bits on Windows, 32 on Linux.
typedef std::make_unsigned<wchar_t>::type WideUnit;

// Decodes the sequence that starts at `text` (whose first byte is not 0) into
// `value` and returns its length in bytes, or 0 when it is invalid: a stray
// continuation byte, 0xFE or 0xFF as lead byte, or a lead byte not followed by
// enough continuation bytes (the terminator counts as a wrong byte, so nothing
// past it is read). Overlong forms are accepted. The value is accumulated in
// WideUnit, so with 16-bit units a 4-byte form keeps the low 16 bits of its
// code point. With 32-bit units a 4-byte form gives its code point, but a
// value UTF-8 cannot carry back (above U+10FFFF: every 5- and 6-byte form,
// and the 4-byte forms beyond U+10FFFF) keeps its low 16 bits, as 16-bit
// units do: one rule on every target, and every decoded unit encodes to a
// sequence that decodes to it again.
inline unsigned DecodeUtf8Sequence(const unsigned char* text, WideUnit& value) {
    const unsigned lead = text[0];
    if (lead < 0x80) {
        value = static_cast<WideUnit>(lead);
        return 1;
    }
    unsigned continuations;
    if (lead < 0xC0 || lead >= 0xFE) {
        return 0;
    } else if (lead < 0xE0) {
        continuations = 1;
    } else if (lead < 0xF0) {
        continuations = 2;
    } else if (lead < 0xF8) {
        continuations = 3;
    } else if (lead < 0xFC) {
        continuations = 4;
    } else {
        continuations = 5;
    }
    // Payload mask of the lead byte: 0x1F, 0x0F, 0x07, 0x03, 0x01.
    WideUnit accumulated = static_cast<WideUnit>(lead & (0x3Fu >> continuations));
    for (unsigned k = 1; k <= continuations; ++k) {
        const unsigned next = text[k];
        if ((next & 0xC0u) != 0x80u) {
            return 0;
        }
        accumulated = static_cast<WideUnit>((accumulated << 6) | (next & 0x3Fu));
    }
    const std::uint32_t full = accumulated; // 16-bit units never exceed the limit
    if (continuations >= 4 || full > 0x10FFFFu) {
        accumulated = static_cast<WideUnit>(accumulated & 0xFFFFu);
    }
    value = accumulated;
    return continuations + 1;
}

} // namespace detail
} // namespace Orvex

#endif // ORVEX_TEXT_DETAIL_UTF8SEQUENCE_H
