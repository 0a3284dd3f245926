// Name normalisation and package keys.
#include "OrvexCommon/file/detail/NameKey.h"
#include "OrvexCommon/text/OrvexText.h"
#include "OrvexCommon/text/detail/HashBlocks.h"

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

namespace {

// Appends one UTF-16 unit, low byte first.
void AppendUnit(unsigned char* bytes, std::size_t& units, std::uint32_t unit) {
    bytes[units * 2] = static_cast<unsigned char>(unit & 0xFF);
    bytes[units * 2 + 1] = static_cast<unsigned char>((unit >> 8) & 0xFF);
    ++units;
}

} // namespace

EntryKeyBytes::EntryKeyBytes(const wchar_t* innerName) {
    for (; *innerName != 0 && m_units < kMaxKeyNameLength; ++innerName) {
        const auto unit = static_cast<std::uint32_t>(NormalizeNameUnit(*innerName));
        if (unit <= 0xFFFF) {
            AppendUnit(m_bytes, m_units, unit);
        } else if (m_units + 2 <= kMaxKeyNameLength) {
            // A 32-bit wchar_t holding a code point beyond 16 bits: hashed as
            // the surrogate pair a 16-bit wchar_t holds, so keys agree.
            const std::uint32_t above = unit - 0x10000;
            AppendUnit(m_bytes, m_units, 0xD800 + ((above >> 10) & 0x3FF));
            AppendUnit(m_bytes, m_units, 0xDC00 + (above & 0x3FF));
        } else {
            break; // the cut falls inside the pair
        }
    }
}

std::uint32_t EntryKeyBytes::Key(wchar_t suffix) const {
    std::size_t units = m_units;
    // The suffix is part of the name, so it is cut off with it.
    if (suffix != 0 && units < kMaxKeyNameLength) {
        AppendUnit(m_bytes, units, static_cast<std::uint32_t>(suffix));
    }
    return OrvexHash(m_bytes, static_cast<unsigned>(units * 2));
}

void EntryKeyBytes::SuffixKeys(const wchar_t* suffixes, std::uint32_t* keys) const {
    if (m_units >= kMaxKeyNameLength) {
        // No room for a suffix: it is cut off with the name.
        for (const std::uint32_t key = Key(); *suffixes != 0; ++suffixes) {
            *keys++ = key;
        }
        return;
    }
    const auto size = static_cast<unsigned>(m_units * 2 + 2);
    const auto shared = static_cast<unsigned>(m_units * 2 / kHashBlockSize);
    SHashState prefix;
    HashWholeBlocks(prefix, m_bytes, shared);
    const unsigned done = shared * kHashBlockSize;
    for (; *suffixes != 0; ++suffixes) {
        std::size_t units = m_units;
        AppendUnit(m_bytes, units, static_cast<std::uint32_t>(*suffixes));
        *keys++ = FinishHash(prefix, m_bytes + done, size - done, size);
    }
}

std::uint32_t EntryKey(const wchar_t* innerName, wchar_t suffix) {
    return EntryKeyBytes(innerName).Key(suffix);
}

} // namespace detail
} // namespace Orvex
