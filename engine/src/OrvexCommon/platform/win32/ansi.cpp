// ANSI text on Windows: the runtime's conversion under the ".ACP" locale.
#include "OrvexCommon/platform/OrvexSys.h"

#include <clocale>
#include <cwchar>

namespace Orvex {
namespace sys {

namespace {

// Locale names are short ("English_United States.1252"); a longer one is not
// saved, and the locale is then left alone rather than not restored.
constexpr std::size_t kLocaleNameUnits = 256;

} // namespace

std::size_t AnsiToWide(const char* bytes, std::size_t size, wchar_t* out, std::size_t capacity) {
    if (bytes == nullptr || out == nullptr) {
        return 0;
    }
    wchar_t saved[kLocaleNameUnits];
    const wchar_t* current = _wsetlocale(LC_ALL, nullptr);
    if (current == nullptr || std::wcslen(current) >= kLocaleNameUnits) {
        return DecodeMultibyte(bytes, size, out, capacity, false);
    }
    std::wcscpy(saved, current);
    const bool switched = std::setlocale(LC_ALL, ".ACP") != nullptr;
    const std::size_t written = DecodeMultibyte(bytes, size, out, capacity, false);
    if (switched) {
        _wsetlocale(LC_ALL, saved);
    }
    return written;
}

} // namespace sys
} // namespace Orvex
