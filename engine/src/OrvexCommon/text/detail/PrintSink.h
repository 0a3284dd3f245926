// The pieces the printf formatter's files share: the sink that keeps the
// first capacity - 1 bytes and counts the rest, the arguments, one field as
// the format describes it, and the writers used by more than one kind of
// conversion.
#ifndef ORVEX_TEXT_DETAIL_PRINTSINK_H
#define ORVEX_TEXT_DETAIL_PRINTSINK_H

#include "OrvexCommon/text/detail/PrintFormat.h"

#include <cstdarg>
#include <cstdint>
#include <cstring>

namespace Orvex {
namespace detail {

// The output: bytes past the room are counted, not written.
struct SSink {
    char* out;
    std::size_t room; // bytes that may still be written before the terminator
    std::uint64_t count;
};

inline void Put(SSink& sink, const char* data, std::size_t size) {
    if (size <= sink.room && size <= 8) {
        // The usual pieces of a log line (a space, a sign, a few digits) are
        // shorter than a library call.
        for (std::size_t k = 0; k < size; ++k) {
            sink.out[k] = data[k];
        }
        sink.out += size;
        sink.room -= size;
    } else if (sink.room != 0) {
        const std::size_t kept = size < sink.room ? size : sink.room;
        std::memcpy(sink.out, data, kept);
        sink.out += kept;
        sink.room -= kept;
    }
    sink.count += size;
}

inline void Fill(SSink& sink, char c, std::size_t size) {
    if (size == 0) {
        return;
    }
    if (sink.room != 0) {
        const std::size_t kept = size < sink.room ? size : sink.room;
        std::memset(sink.out, c, kept);
        sink.out += kept;
        sink.room -= kept;
    }
    sink.count += size;
}

// The arguments, copied so that the caller's list stays unread.
struct SArgs {
    va_list list;
};

// One conversion as the format describes it.
struct SField {
    bool left = false;
    bool plus = false;
    bool space = false;
    bool alt = false;
    bool zero = false;
    int width = 0;
    int precision = -1; // none given
    char length = 0;    // 0, 'H' (hh), 'h', 'l', 'q' (ll), 'j', 'z', 't', 'L'
    char conversion = 0;
};

// Writes sign, prefix, zeros and body within the field's width: spaces
// before (or after, under '-'), or zeros after the sign and prefix when
// `zeroPad`.
void PutPadded(SSink& sink, const SField& field, char sign, const char* prefix,
               std::size_t prefixSize, std::size_t zeros, const char* body, std::size_t bodySize,
               bool zeroPad);

// The digits of `value` in `base`, written backwards from `end`; returns
// their start.
char* WriteDigits(char* end, std::uint64_t value, unsigned base, bool upper);

// A float conversion (f F e E g G) with its argument; false to leave the call
// to the runtime.
bool ReadAndPutFloat(SSink& sink, const SField& field, SArgs& args, const SPrintTraits& traits);

} // namespace detail
} // namespace Orvex

#endif // ORVEX_TEXT_DETAIL_PRINTSINK_H
