// Text and number helpers: the 32-bit hash of byte blocks, UTF-8 validation,
// UTF-8 <-> wide text, bytes to lowercase hex, and number parsing and
// bit-level numeric conversions.
//
// Wide text: each wchar_t unit is one character. Where wchar_t has 16 bits
// (Windows) there are no surrogate pairs in either direction. Where it has 32
// bits, a unit above 0xFFFF is a full code point: UcsToUtf8 writes it as a
// 4-byte sequence and Utf8ToUcs decodes 4-byte sequences to it.
//
// None of these functions keeps state, allocates or locks; all are safe to
// call from any thread.
//
// OrvexHash reads its 12-byte blocks as little-endian words assembled from
// bytes (one load on x86). The UTF-8 converters copy runs of ASCII with a
// single compare per unit and decode other sequences with the one decoder of
// detail/Utf8Sequence.h.
#ifndef ORVEX_TEXT_ORVEXTEXT_H
#define ORVEX_TEXT_ORVEXTEXT_H

#include "OrvexCommon/base/OrvexExport.h"

#include <cstdint>

namespace Orvex {

// ---- Hash, UTF-8 and hex ----

// The 32-bit hash of `size` bytes (the lookup2 construction, initial value 0).
// The empty block hashes to 0xBD49D10D, "abc" to 0x251E4793.
ORVEX_API std::uint32_t OrvexHash(const void* data, unsigned size);

// True when every multi-byte sequence of the zero-terminated text is well
// formed (overlong forms and 5- and 6-byte forms included). Null is false.
ORVEX_API bool IsUtf8(const char* text);

// Decodes UTF-8 into at most `count` wide units and terminates the result when
// room is left. Returns the units written plus one: count + 1 means the buffer
// filled up and holds no terminator. Decoding stops (terminated) at the first
// invalid sequence. Null src or dst: returns 0, writes nothing.
ORVEX_API unsigned Utf8ToUcs(const char* src, wchar_t* dst, unsigned count);

// Encodes wide text as UTF-8 into at most `size` bytes; a character that does
// not fit whole is not started. Terminates the result when room is left and
// returns the bytes written plus one. Null src or dst: returns 0.
ORVEX_API unsigned UcsToUtf8(const wchar_t* src, char* dst, unsigned size);

// Writes each byte of the zero-terminated byte string as two lowercase hex
// digits into at most `size` characters, terminating when room is left.
// Returns the digits written plus one. Null src or dst: returns 0.
ORVEX_API unsigned Uint82Base16(const unsigned char* src, char* dst, unsigned size);

// ---- Number parsing ----
// Locale-independent and identical on every target; decimal only (no
// hexadecimal floats, no inf or nan). Leading white space, an optional sign,
// then digits (for the floating forms the usual decimal and exponent forms);
// conversion stops at the first character that does not fit and text without
// a number gives 0. Integer results beyond the type's range are clamped to its
// limits. A null pointer gives 0. The wide forms convert their first 63 UTF-8
// bytes (cut at a character boundary) and parse those.

ORVEX_API int OrvexA2I(const char* text);
ORVEX_API int OrvexA2I(const wchar_t* text);
ORVEX_API long long OrvexA2I64(const char* text);
ORVEX_API long long OrvexA2I64(const wchar_t* text);
ORVEX_API double OrvexA2F(const char* text);
ORVEX_API double OrvexA2F(const wchar_t* text);

// ---- Numeric helpers (integer operations only) ----

// floor(sqrt(value)) for every 32-bit value.
ORVEX_API unsigned short sqrti(unsigned value);

// The value as a double, exactly.
ORVEX_API double u2d(unsigned value);

// The float truncated toward zero. Meant for magnitudes below 2^31; from 2^31
// up to 2^32 the result wraps, and magnitudes of 2^32 and more, infinities and
// NaN give 0.
ORVEX_API int f2i(float value);

// The float truncated toward zero as unsigned, for values from 0 up to 2^32; a
// negative value gives the two's complement of its truncated magnitude. Beyond
// that domain it gives 0 like f2i.
ORVEX_API unsigned f2u(float value);

} // namespace Orvex

#endif // ORVEX_TEXT_ORVEXTEXT_H
