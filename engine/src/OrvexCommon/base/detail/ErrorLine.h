// Lines for the library's log stream from code that sits beneath it (the
// platform layer, the allocator). The stream layer installs the writer when
// the library is loaded; a line written before that goes to standard error.
#ifndef ORVEX_BASE_DETAIL_ERRORLINE_H
#define ORVEX_BASE_DETAIL_ERRORLINE_H

namespace Orvex {
namespace detail {

typedef void (*ErrorLineWriter)(const char* line);

void SetErrorLineWriter(ErrorLineWriter writer);

// Writes the line and ends it.
void WriteErrorLine(const char* line);

// Writes the line, then throws its text as the library's char* exception:
// how the library reports a broken contract to its caller.
[[noreturn]] void ThrowErrorLine(char* line);

} // namespace detail
} // namespace Orvex

#endif // ORVEX_BASE_DETAIL_ERRORLINE_H
