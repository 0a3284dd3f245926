// Names read back from the system (directory listings, watch events) as wide
// text that leads back to the same entry.
#ifndef ORVEX_PLATFORM_POSIX_ENTRYNAME_H
#define ORVEX_PLATFORM_POSIX_ENTRYNAME_H

#include <cstddef>

namespace Orvex {
namespace sys {

// Decodes the whole of `utf8` into `out`, terminated; false (with `out`
// holding "") when it does not fit or has no exact wide spelling (the wide
// text must encode to the very same bytes again).
bool DecodeEntryName(const char* utf8, wchar_t* out, std::size_t capacity);

} // namespace sys
} // namespace Orvex

#endif // ORVEX_PLATFORM_POSIX_ENTRYNAME_H
