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

// The run of units from 1 to 0xFFFF that starts the name, at most `limit`:
// such units keep their place, one unit in and one out.
std::size_t SixteenBitRun(const wchar_t* name, std::size_t limit) {
    std::size_t run = 0;
    while (run < limit && static_cast<std::uint32_t>(name[run]) - 1 < 0xFFFF) {
        ++run;
    }
    return run;
}

} // namespace

EntryKeyBytes::EntryKeyBytes(const wchar_t* innerName) {
    // Most names are all 16-bit units: folded without a branch per unit, in
    // a loop of known length the compiler can vectorise.
    const std::size_t run = SixteenBitRun(innerName, kMaxKeyNameLength);
    for (std::size_t i = 0; i < run; ++i) {
        auto unit = static_cast<std::uint32_t>(innerName[i]);
        unit += unit - L'A' < 26u ? 0x20u : 0u;
        unit = unit == L'\\' ? static_cast<std::uint32_t>(L'/') : unit;
        m_bytes[i * 2] = static_cast<unsigned char>(unit);
        m_bytes[i * 2 + 1] = static_cast<unsigned char>(unit >> 8);
    }
    m_units = run;
    // The rest, from a unit past 16 bits on: as its surrogate pair.
    for (innerName += run; *innerName != 0 && m_units < kMaxKeyNameLength; ++innerName) {
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

namespace {

// Sixteen hash words side by side.
typedef std::uint32_t KeyLanes __attribute__((vector_size(16 * sizeof(std::uint32_t))));

} // namespace

void EntryKeyBytes::DigitKeys(std::uint32_t (&keys)[16]) const {
    if (m_units >= kMaxKeyNameLength) {
        // No room for a suffix: it is cut off with the name.
        const std::uint32_t key = Key();
        for (std::uint32_t& each : keys) {
            each = key;
        }
        return;
    }
    const auto size = static_cast<unsigned>(m_units * 2 + 2);
    const auto shared = static_cast<unsigned>(m_units * 2 / kHashBlockSize);
    SHashState state;
    HashWholeBlocks(state, m_bytes, shared);
    const unsigned char* rest = m_bytes + shared * kHashBlockSize;
    const unsigned restSize = size - shared * kHashBlockSize; // 2 to 12: the suffix ends it
    // The words take their bytes by addition, so each key is what the name
    // with a zero suffix adds plus its own digit at the suffix's place.
    m_bytes[size - 2] = 0;
    m_bytes[size - 1] = 0;
    KeyLanes digits;
    for (unsigned k = 0; k < 16; ++k) {
        digits[k] = static_cast<std::uint32_t>(kKeyDigits[k]);
    }
    KeyLanes a;
    KeyLanes b;
    KeyLanes c;
    if (restSize == kHashBlockSize) {
        // The suffix completes a block, in the upper half of its third word.
        a = KeyLanes{} + (state.a + LoadHashWord(rest));
        b = KeyLanes{} + (state.b + LoadHashWord(rest + 4));
        c = KeyLanes{} + (state.c + LoadHashWord(rest + 8)) + (digits << 16);
        MixHashWords(a, b, c);
        c += size;
    } else {
        AddHashTail(state, rest, restSize, size);
        a = KeyLanes{} + state.a;
        b = KeyLanes{} + state.b;
        c = KeyLanes{} + state.c;
        const unsigned at = restSize - 2; // the suffix's first byte in the tail
        if (at < 4) {
            a += digits << (8 * at);
        } else if (at < 8) {
            b += digits << (8 * (at - 4));
        } else {
            c += digits << 8; // tail bytes 8-10 sit above the length byte
        }
    }
    MixHashWords(a, b, c);
    for (unsigned k = 0; k < 16; ++k) {
        keys[k] = c[k];
    }
}

std::uint32_t EntryKey(const wchar_t* innerName, wchar_t suffix) {
    return EntryKeyBytes(innerName).Key(suffix);
}

} // namespace detail
} // namespace Orvex
