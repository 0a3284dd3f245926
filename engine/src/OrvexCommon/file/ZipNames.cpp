// Names of zip entries: decoding (UTF-8 or code page 437) and the check that
// a name stays inside the archive's folder.
#include "OrvexCommon/file/detail/ZipDirectory.h"

namespace Orvex {
namespace detail {

namespace {

// Code page 437, bytes 0x80-0xFF (bytes below are ASCII).
const std::uint16_t kCodePage437High[128] = {
    0x00C7, 0x00FC, 0x00E9, 0x00E2, 0x00E4, 0x00E0, 0x00E5, 0x00E7, 0x00EA, 0x00EB, 0x00E8, 0x00EF,
    0x00EE, 0x00EC, 0x00C4, 0x00C5, 0x00C9, 0x00E6, 0x00C6, 0x00F4, 0x00F6, 0x00F2, 0x00FB, 0x00F9,
    0x00FF, 0x00D6, 0x00DC, 0x00A2, 0x00A3, 0x00A5, 0x20A7, 0x0192, 0x00E1, 0x00ED, 0x00F3, 0x00FA,
    0x00F1, 0x00D1, 0x00AA, 0x00BA, 0x00BF, 0x2310, 0x00AC, 0x00BD, 0x00BC, 0x00A1, 0x00AB, 0x00BB,
    0x2591, 0x2592, 0x2593, 0x2502, 0x2524, 0x2561, 0x2562, 0x2556, 0x2555, 0x2563, 0x2551, 0x2557,
    0x255D, 0x255C, 0x255B, 0x2510, 0x2514, 0x2534, 0x252C, 0x251C, 0x2500, 0x253C, 0x255E, 0x255F,
    0x255A, 0x2554, 0x2569, 0x2566, 0x2560, 0x2550, 0x256C, 0x2567, 0x2568, 0x2564, 0x2565, 0x2559,
    0x2558, 0x2552, 0x2553, 0x256B, 0x256A, 0x2518, 0x250C, 0x2588, 0x2584, 0x258C, 0x2590, 0x2580,
    0x03B1, 0x00DF, 0x0393, 0x03C0, 0x03A3, 0x03C3, 0x00B5, 0x03C4, 0x03A6, 0x0398, 0x03A9, 0x03B4,
    0x221E, 0x03C6, 0x03B5, 0x2229, 0x2261, 0x00B1, 0x2265, 0x2264, 0x2320, 0x2321, 0x00F7, 0x2248,
    0x00B0, 0x2219, 0x00B7, 0x221A, 0x207F, 0x00B2, 0x25A0, 0x00A0,
};

// Appends a code point as one wide unit, or as a surrogate pair where wchar_t
// has 16 bits.
void AppendCodePoint(OrvexWString& name, std::uint32_t point) {
    if (point > 0xFFFF && sizeof(wchar_t) == 2) {
        const std::uint32_t above = point - 0x10000;
        name.push_back(static_cast<wchar_t>(0xD800 + (above >> 10)));
        name.push_back(static_cast<wchar_t>(0xDC00 + (above & 0x3FF)));
    } else {
        name.push_back(static_cast<wchar_t>(point));
    }
}

// Decodes the well-formed UTF-8 sequence at bytes[at] (shortest form, no
// surrogates, at most U+10FFFF) and moves `at` past it; false otherwise.
bool DecodeUtf8(const unsigned char* bytes, std::size_t length, std::size_t& at,
                std::uint32_t& point) {
    const unsigned lead = bytes[at];
    unsigned more;
    std::uint32_t least;
    if (lead < 0x80) {
        point = lead;
        ++at;
        return true;
    } else if (lead >= 0xC2 && lead <= 0xDF) {
        more = 1, least = 0x80, point = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        more = 2, least = 0x800, point = lead & 0x0F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        more = 3, least = 0x10000, point = lead & 0x07;
    } else {
        return false;
    }
    if (length - at <= more) {
        return false;
    }
    for (unsigned k = 1; k <= more; ++k) {
        const unsigned next = bytes[at + k];
        if ((next & 0xC0) != 0x80) {
            return false;
        }
        point = (point << 6) | (next & 0x3F);
    }
    if (point < least || point > 0x10FFFF || (point >= 0xD800 && point <= 0xDFFF)) {
        return false;
    }
    at += more + 1;
    return true;
}

bool IsSeparator(wchar_t unit) {
    return unit == L'/' || unit == L'\\';
}

} // namespace

namespace {

bool DecodeAs(const unsigned char* units, std::size_t length, bool utf8, OrvexWString& name) {
    name.clear();
    for (std::size_t at = 0; at < length;) {
        std::uint32_t point = units[at];
        if (point == 0) {
            return false;
        }
        if (!utf8) {
            ++at;
            if (point >= 0x80) {
                point = kCodePage437High[point - 0x80];
            }
        } else if (!DecodeUtf8(units, length, at, point)) {
            return false;
        }
        AppendCodePoint(name, point);
    }
    return true;
}

} // namespace

bool DecodeZipName(const char* bytes, std::size_t length, bool utf8, OrvexWString& name) {
    const auto* units = reinterpret_cast<const unsigned char*>(bytes);
    // Tools that write UTF-8 names without the flag are common (the zip
    // command on a UTF-8 system): an unflagged name that is well-formed UTF-8
    // is read as UTF-8, which text in code page 437 almost never is.
    if (DecodeAs(units, length, true, name) || (!utf8 && DecodeAs(units, length, false, name))) {
        return true;
    }
    name.clear();
    return false;
}

bool IsSafeZipName(const OrvexWString& name) {
    if (name.empty() || IsSeparator(name[0]) || (name.size() >= 2 && name[1] == L':')) {
        return false;
    }
    std::size_t segmentStart = 0;
    for (std::size_t at = 0; at <= name.size(); ++at) {
        if (at == name.size() || IsSeparator(name[at])) {
            if (at - segmentStart == 2 && name[segmentStart] == L'.' &&
                name[segmentStart + 1] == L'.') {
                return false;
            }
            segmentStart = at + 1;
        }
    }
    return true;
}

} // namespace detail
} // namespace Orvex
