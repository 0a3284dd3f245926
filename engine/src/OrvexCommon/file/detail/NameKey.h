// Name normalisation and the package key of an inner file name.
#ifndef ORVEX_FILE_DETAIL_NAMEKEY_H
#define ORVEX_FILE_DETAIL_NAMEKEY_H

#include "OrvexCommon/memory/OrvexMemory.h"

#include <cstddef>
#include <cstdint>

namespace Orvex {
namespace detail {

// Longest inner name that takes part in a key; longer names are cut there.
constexpr std::size_t kMaxKeyNameLength = 1023;

// 'A' to 'Z' lower-cased and '\' turned into '/'; every other unit unchanged.
inline wchar_t NormalizeNameUnit(wchar_t unit) {
    if (unit >= L'A' && unit <= L'Z') {
        return static_cast<wchar_t>(unit + 0x20);
    }
    return unit == L'\\' ? L'/' : unit;
}

OrvexWString NormalizeName(const wchar_t* name);

// The normalised units of an inner name, two bytes each, ready to be hashed
// with or without one unit appended: a lookup normalises the name once for
// the 17 tries of the digit fallback.
class EntryKeyBytes {
public:
    explicit EntryKeyBytes(const wchar_t* innerName);
    // The key of the name followed by `suffix` (none when 0).
    std::uint32_t Key(wchar_t suffix = 0) const;
    // The digits the fallback of a lookup appends, and their keys:
    // keys[k] = Key(kKeyDigits[k]). The name's whole 12-byte blocks, the same
    // for all 16, are hashed once, and the 16 ends side by side.
    static constexpr wchar_t kKeyDigits[] = L"0123456789abcdef";
    void DigitKeys(std::uint32_t (&keys)[16]) const;

private:
    // Room for the name and one suffix unit; the last two bytes are the
    // suffix's, written by Key on a copy-free path.
    mutable unsigned char m_bytes[(kMaxKeyNameLength + 1) * 2];
    std::size_t m_units = 0;
};

// The hash of the normalised name's units, two bytes each, low byte first, so
// keys agree between 16-bit and 32-bit wchar_t. `suffix`, when not 0, is one
// more unit after the name (the digit fallback of lookups).
std::uint32_t EntryKey(const wchar_t* innerName, wchar_t suffix = 0);

} // namespace detail
} // namespace Orvex

#endif // ORVEX_FILE_DETAIL_NAMEKEY_H
