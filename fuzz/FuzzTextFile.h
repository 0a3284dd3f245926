// What the configuration and table file fuzzers share: the files' bytes with
// the zero bytes the readers expect after them, a reference UTF-8 decoder,
// and a float comparison that takes NaN as equal to NaN.
#ifndef ORVEX_FUZZ_FUZZTEXTFILE_H
#define ORVEX_FUZZ_FUZZTEXTFILE_H

#include "OrvexCommon/text/detail/Utf8Sequence.h"

#include <cmath>
#include <cstddef>
#include <cstring>
#include <memory>
#include <vector>

// `size` bytes in a buffer of exactly size + 2, the last two zero, so that
// ASan sees any read beyond what the readers are promised.
inline std::unique_ptr<unsigned char[]> PaddedCopy(const void* bytes, std::size_t size) {
    std::unique_ptr<unsigned char[]> copy(new unsigned char[size + 2]());
    if (size > 0) {
        std::memcpy(copy.get(), bytes, size);
    }
    return copy;
}

// Decodes UTF-8 up to its terminator or its first invalid sequence, one
// sequence at a time; true when it reached the terminator.
inline bool DecodeUtf8(const unsigned char* bytes, std::vector<wchar_t>& text) {
    while (*bytes != 0) {
        Orvex::detail::WideUnit unit = 0;
        const unsigned length = Orvex::detail::DecodeUtf8Sequence(bytes, unit);
        if (length == 0) {
            return false;
        }
        text.push_back(static_cast<wchar_t>(unit));
        bytes += length;
    }
    return true;
}

inline bool SameFloat(float left, float right) {
    return (std::isnan(left) && std::isnan(right)) ||
           std::memcmp(&left, &right, sizeof(float)) == 0;
}

#endif // ORVEX_FUZZ_FUZZTEXTFILE_H
