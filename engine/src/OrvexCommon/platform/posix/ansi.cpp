// ANSI text on POSIX: the environment's character set, in a locale of the
// calling thread only.
#include "OrvexCommon/platform/OrvexSys.h"

#include <clocale>
#include <cstring>
#include <langinfo.h>
#include <locale.h>

namespace Orvex {
namespace sys {

namespace {

// The C and POSIX locales report this name for plain ASCII.
bool IsAsciiCodeset(locale_t locale) {
    const char* codeset = nl_langinfo_l(CODESET, locale);
    return codeset == nullptr || std::strcmp(codeset, "ANSI_X3.4-1968") == 0 ||
           std::strcmp(codeset, "ASCII") == 0;
}

} // namespace

std::size_t AnsiToWide(const char* bytes, std::size_t size, wchar_t* out, std::size_t capacity) {
    if (bytes == nullptr || out == nullptr) {
        return 0;
    }
    // "" reads LC_ALL, LC_CTYPE and LANG from the environment at this call.
    locale_t environment = newlocale(LC_CTYPE_MASK, "", static_cast<locale_t>(0));
    if (environment == static_cast<locale_t>(0)) {
        return DecodeMultibyte(bytes, size, out, capacity, true);
    }
    if (IsAsciiCodeset(environment)) {
        freelocale(environment);
        return DecodeMultibyte(bytes, size, out, capacity, true);
    }
    const locale_t previous = uselocale(environment);
    const std::size_t written = DecodeMultibyte(bytes, size, out, capacity, false);
    uselocale(previous);
    freelocale(environment);
    return written;
}

} // namespace sys
} // namespace Orvex
