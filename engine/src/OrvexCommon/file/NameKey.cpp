// Name normalisation and package keys.
#include "OrvexCommon/file/detail/NameKey.h"
#include "OrvexCommon/text/OrvexText.h"

namespace Orvex {
namespace detail {

OrvexWString NormalizeName(const wchar_t* name) {
    OrvexWString normalized;
    if (name != nullptr) {
        for (; *name != 0; ++name) {
            normalized.push_back(NormalizeNameUnit(*name));
        }
    }
    return normalized;
}

std::uint32_t EntryKey(const wchar_t* innerName, wchar_t suffix) {
    unsigned char bytes[(kMaxKeyNameLength + 1) * 2];
    std::size_t length = 0;
    for (; innerName[length] != 0 && length < kMaxKeyNameLength; ++length) {
        const wchar_t unit = NormalizeNameUnit(innerName[length]);
        bytes[length * 2] = static_cast<unsigned char>(unit & 0xFF);
        bytes[length * 2 + 1] = static_cast<unsigned char>((unit >> 8) & 0xFF);
    }
    // The suffix is part of the name, so it is cut off with it.
    if (suffix != 0 && length < kMaxKeyNameLength) {
        bytes[length * 2] = static_cast<unsigned char>(suffix & 0xFF);
        bytes[length * 2 + 1] = static_cast<unsigned char>((suffix >> 8) & 0xFF);
        ++length;
    }
    return OrvexHash(bytes, static_cast<unsigned>(length * 2));
}

} // namespace detail
} // namespace Orvex
