// Writing a configuration file's content as bytes.
#include "OrvexCommon/format/detail/IniFile.h"
#include "OrvexCommon/text/OrvexText.h"

#include <cstdint>

namespace Orvex {
namespace detail {

namespace {

// UTF-8 takes at most four bytes per unit (a 32-bit unit above 0xFFFF).
constexpr std::size_t kUtf8BytesPerUnit = 4;

void AppendUtf8(OrvexString& out, std::wstring_view text) {
    if (text.empty()) {
        return;
    }
    const std::size_t first = out.size();
    out.resize(first + text.size() * kUtf8BytesPerUnit + 1);
    // The views are whole stored strings or literals, so they are terminated.
    const unsigned written =
        UcsToUtf8(text.data(), &out[first], static_cast<unsigned>(out.size() - first));
    out.resize(first + (written == 0 ? 0 : written - 1));
}

void AppendUnit16(OrvexString& out, unsigned unit) {
    out.push_back(static_cast<char>(unit & 0xFF));
    out.push_back(static_cast<char>(unit >> 8));
}

// Two bytes per unit, low byte first. Where wchar_t has 32 bits, a unit above
// 0xFFFF is written as its surrogate pair, and one beyond Unicode (from the
// long UTF-8 forms the decoder accepts) as U+FFFD, as UTF-8 writes it: its
// low 16 bits could be a line end or a zero and cut the text.
void AppendUtf16(OrvexString& out, std::wstring_view text) {
    for (const wchar_t unit : text) {
        const std::uint32_t value = static_cast<std::uint32_t>(unit);
        if (value > 0x10FFFF) {
            AppendUnit16(out, 0xFFFD);
        } else if (value > 0xFFFF) {
            AppendUnit16(out, 0xD800 + ((value - 0x10000) >> 10));
            AppendUnit16(out, 0xDC00 + ((value - 0x10000) & 0x3FF));
        } else {
            AppendUnit16(out, value);
        }
    }
}

class IniWriter {
public:
    IniWriter(EIniEncoding encoding, OrvexString& out)
        : m_wide(encoding == eIniUtf16), m_out(out) {}

    void Append(std::wstring_view text) {
        if (m_wide) {
            AppendUtf16(m_out, text);
        } else {
            AppendUtf8(m_out, text);
        }
    }

private:
    bool m_wide;
    OrvexString& m_out;
};

} // namespace

void FormatIniText(const IniSections& sections, EIniEncoding encoding, OrvexString& out) {
    if (encoding == eIniUtf16) {
        out.append("\xFF\xFE");
    } else if (encoding == eIniUtf8Bom) {
        out.append("\xEF\xBB\xBF");
    }
    IniWriter writer(encoding, out);
    for (const auto& section : sections) {
        writer.Append(L"[");
        writer.Append(section.first);
        writer.Append(L"]\r\n");
        for (const auto& entry : section.second) {
            writer.Append(entry.first);
            writer.Append(L" = ");
            writer.Append(entry.second);
            writer.Append(L"\r\n");
        }
    }
}

} // namespace detail
} // namespace Orvex
