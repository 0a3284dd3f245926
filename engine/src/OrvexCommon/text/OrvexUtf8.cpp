// UTF-8 validation and conversion between UTF-8 and wide text.
#include "OrvexCommon/text/OrvexText.h"
#include "OrvexCommon/text/detail/Utf8Sequence.h"

#include <cstddef>
#include <cstdint>

namespace Orvex {

using detail::DecodeUtf8Sequence;
using detail::WideUnit;

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

namespace {

// The decoder reads the text as signed bytes: ASCII without the terminator is
// then every positive value and a continuation byte (0x80-0xBF) every value
// below -0x40, so each of the tests made on every byte is a single compare.
typedef signed char Byte;

inline bool IsAscii(Byte byte) {
    return byte > 0;
}
inline bool IsContinuation(Byte byte) {
    return byte < -0x40;
}

// Lead bytes of the 2-byte forms (C0-DF) and of the 3-byte forms (E0-EF).
inline bool IsLeadOf2(Byte byte) {
    return static_cast<unsigned>(byte + 0x40) < 0x20u;
}
inline bool IsLeadOf3(Byte byte) {
    return static_cast<unsigned>(byte + 0x20) < 0x10u;
}

// The byte as a number from 0 to 0xFF, for the arithmetic of decoding.
inline unsigned Bits(Byte byte) {
    return static_cast<unsigned char>(byte);
}

// A wide unit from 1 to 0x7F.
inline bool IsAscii(wchar_t unit) {
    return static_cast<WideUnit>(unit) - 1u < 0x7Fu;
}

// Copies up to 8 leading ASCII characters (bytes or wide units) and returns
// how many. The caller makes sure there is room for 8; each one is read only
// once the one before it proved not to be the terminator.
template <typename In, typename Out> inline unsigned CopyAscii8(const In* in, Out* out) {
    for (unsigned k = 0; k < 8; ++k) {
        if (!IsAscii(in[k])) {
            return k;
        }
        out[k] = static_cast<Out>(in[k]);
    }
    return 8;
}

// Copies the ASCII run at `in`, 8 characters a round while there is room for
// 8, then one at a time while there is room at all.
template <typename In, typename Out>
inline void CopyAsciiRun(const In*& in, Out*& out, Out* const end) {
    while (end - out >= 8) {
        const unsigned copied = CopyAscii8(in, out);
        in += copied;
        out += copied;
        if (copied != 8) {
            return;
        }
    }
    while (out != end && IsAscii(*in)) {
        *out++ = static_cast<Out>(*in++);
    }
}

// Runs of sequences of one length, most of non-Latin text, have a loop of
// their own, two sequences a round to halve its bookkeeping. The payload bits
// come out of one sum, the marker bits of every byte being known.
template <unsigned Length> struct SequenceOf;
template <> struct SequenceOf<2> {
    static bool At(const Byte* in) { return IsLeadOf2(in[0]) && IsContinuation(in[1]); }
    static wchar_t Value(const Byte* in) {
        return static_cast<wchar_t>((Bits(in[0]) << 6) + Bits(in[1]) - 0x3080u);
    }
};
template <> struct SequenceOf<3> {
    static bool At(const Byte* in) {
        return IsLeadOf3(in[0]) && IsContinuation(in[1]) && IsContinuation(in[2]);
    }
    static wchar_t Value(const Byte* in) {
        return static_cast<wchar_t>((Bits(in[0]) << 12) + (Bits(in[1]) << 6) + Bits(in[2]) -
                                    0xE2080u);
    }
};

// The caller checked the first sequence and that there is room for it.
template <unsigned Length>
inline void DecodeRun(const Byte*& cursor, wchar_t*& out, wchar_t* const end) {
    using Sequence = SequenceOf<Length>;
    for (;;) {
        out[0] = Sequence::Value(cursor);
        if (out + 1 == end || !Sequence::At(cursor + Length)) {
            cursor += Length;
            out += 1;
            return;
        }
        out[1] = Sequence::Value(cursor + Length);
        cursor += 2 * Length;
        out += 2;
        if (out == end || !Sequence::At(cursor)) {
            return;
        }
    }
}

// Decodes into [out, end) until the buffer is full or the text stops at its
// terminator or an invalid sequence; returns where the output stopped. Each
// byte is read only once the bytes before it proved not to be the terminator.
wchar_t* DecodeInto(const Byte* cursor, wchar_t* out, wchar_t* const end) {
    while (out != end) {
        const Byte lead = cursor[0];
        if (IsAscii(lead)) {
            CopyAsciiRun(cursor, out, end);
        } else if (SequenceOf<2>::At(cursor)) {
            DecodeRun<2>(cursor, out, end);
        } else if (SequenceOf<3>::At(cursor)) {
            DecodeRun<3>(cursor, out, end);
        } else {
            // The terminator, the longer forms and every invalid sequence.
            WideUnit value;
            const unsigned length =
                lead == 0
                    ? 0
                    : DecodeUtf8Sequence(reinterpret_cast<const unsigned char*>(cursor), value);
            if (length == 0) {
                break;
            }
            *out++ = static_cast<wchar_t>(value);
            cursor += length;
        }
    }
    return out;
}

} // namespace

unsigned Utf8ToUcs(const char* src, wchar_t* dst, unsigned count) {
    if (src == nullptr || dst == nullptr) {
        return 0;
    }
    wchar_t* const end = dst + count;
    wchar_t* const out = DecodeInto(reinterpret_cast<const Byte*>(src), dst, end);
    if (out == end) {
        return count + 1; // full: no terminator written
    }
    *out = 0;
    return static_cast<unsigned>(out - dst) + 1;
}

namespace {

// The replacement character, for 32-bit units that no UTF-8 form can carry.
constexpr WideUnit kReplacementCharacter = 0xFFFD;

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

inline void Put2(WideUnit unit, unsigned char* out) {
    out[0] = static_cast<unsigned char>(0xC0 | (unit >> 6));
    out[1] = static_cast<unsigned char>(0x80 | (unit & 0x3F));
}

inline void Put3(WideUnit unit, unsigned char* out) {
    out[0] = static_cast<unsigned char>(0xE0 | (unit >> 12));
    out[1] = static_cast<unsigned char>(0x80 | ((unit >> 6) & 0x3F));
    out[2] = static_cast<unsigned char>(0x80 | (unit & 0x3F));
}

inline void Put4(WideUnit unit, unsigned char* out) {
    out[0] = static_cast<unsigned char>(0xF0 | (unit >> 18));
    out[1] = static_cast<unsigned char>(0x80 | ((unit >> 12) & 0x3F));
    out[2] = static_cast<unsigned char>(0x80 | ((unit >> 6) & 0x3F));
    out[3] = static_cast<unsigned char>(0x80 | (unit & 0x3F));
}

inline void EncodeUnit(WideUnit unit, unsigned length, unsigned char* out) {
    switch (length) {
    case 1:
        out[0] = static_cast<unsigned char>(unit);
        break;
    case 2:
        Put2(unit, out);
        break;
    case 3:
        if (const std::uint32_t value = unit; value > 0xFFFF) {
            unit = kReplacementCharacter; // a wide unit beyond U+10FFFF
        }
        Put3(unit, out);
        break;
    default:
        Put4(unit, out);
        break;
    }
}

// Units with 2-byte forms (0x80-0x7FF) and with 3-byte forms (0x800-0xFFFF).
inline bool IsUnitOf2(WideUnit unit) {
    return unit - 0x80u < 0x780u;
}

inline bool IsUnitOf3(WideUnit unit) {
    return unit - 0x800u < 0xF800u;
}

// The encoder works while at least 8 bytes of room are left: then any
// character, or 8 ASCII ones, fit without a check of their own.
constexpr std::ptrdiff_t kEncodeRoom = 8;

// Runs of units of one UTF-8 length, most of non-Latin text, have a loop of
// their own, two units a round to halve its bookkeeping. `budget` counts the
// units that still leave kEncodeRoom bytes before the one after them; the
// caller checked the first unit and that the room is there.
template <unsigned Length> struct RunOf;
template <> struct RunOf<2> {
    static bool Has(wchar_t unit) { return IsUnitOf2(static_cast<WideUnit>(unit)); }
    static void Put(wchar_t unit, unsigned char* out) { Put2(static_cast<WideUnit>(unit), out); }
};
template <> struct RunOf<3> {
    static bool Has(wchar_t unit) { return IsUnitOf3(static_cast<WideUnit>(unit)); }
    static void Put(wchar_t unit, unsigned char* out) { Put3(static_cast<WideUnit>(unit), out); }
};

template <unsigned Length>
inline void EncodeRun(const wchar_t*& src, unsigned char*& out, unsigned char* const end) {
    using Run = RunOf<Length>;
    std::ptrdiff_t budget = (end - out - kEncodeRoom) / static_cast<std::ptrdiff_t>(Length) + 1;
    for (;;) {
        Run::Put(src[0], out);
        if (--budget == 0 || !Run::Has(src[1])) {
            src += 1;
            out += Length;
            return;
        }
        Run::Put(src[1], out + Length);
        src += 2;
        out += 2 * Length;
        if (--budget == 0 || !Run::Has(src[0])) {
            return;
        }
    }
}

// Encodes while the room lasts; stops early at the terminator. Advances `src`
// past what it encoded and returns where the output stopped.
inline unsigned char* EncodeWithRoom(const wchar_t*& src, unsigned char* out,
                                     unsigned char* const end) {
    while (end - out >= kEncodeRoom) {
        const WideUnit unit = static_cast<WideUnit>(*src);
        if (IsAscii(*src)) {
            CopyAsciiRun(src, out, end);
        } else if (IsUnitOf2(unit)) {
            EncodeRun<2>(src, out, end);
        } else if (IsUnitOf3(unit)) {
            EncodeRun<3>(src, out, end);
        } else if (unit == 0) {
            break;
        } else {
            const unsigned length = EncodedLength(unit);
            EncodeUnit(unit, length, out);
            out += length;
            ++src;
        }
    }
    return out;
}

// The last bytes of the buffer: a character that does not fit whole is not
// started.
inline unsigned char* EncodeExact(const wchar_t* src, unsigned char* out,
                                  unsigned char* const end) {
    for (WideUnit unit; (unit = static_cast<WideUnit>(*src)) != 0; ++src) {
        const unsigned length = EncodedLength(unit);
        if (length > static_cast<unsigned>(end - out)) {
            break;
        }
        EncodeUnit(unit, length, out);
        out += length;
    }
    return out;
}

} // namespace

unsigned UcsToUtf8(const wchar_t* src, char* dst, unsigned size) {
    if (src == nullptr || dst == nullptr) {
        return 0;
    }
    unsigned char* const begin = reinterpret_cast<unsigned char*>(dst);
    unsigned char* const end = begin + size;
    unsigned char* out = EncodeWithRoom(src, begin, end);
    out = EncodeExact(src, out, end);
    if (out != end) {
        *out = 0;
    }
    return static_cast<unsigned>(out - begin) + 1;
}

} // namespace Orvex
