// Small pieces of path text shared by the path manager's operations.
#ifndef ORVEX_FILESYSTEM_DETAIL_PATHMGRTEXT_H
#define ORVEX_FILESYSTEM_DETAIL_PATHMGRTEXT_H

#include <cstddef>

namespace Orvex {
namespace detail {

// Both separators count on input; '/' is the one the path manager writes.
inline bool IsPathSeparator(wchar_t unit) {
    return unit == L'/' || unit == L'\\';
}

// The platform's absolute form: a drive ("C:", the second unit a colon) on
// Windows, a leading separator on POSIX (either one: '\\' is read as '/').
bool IsAbsolutePath(const wchar_t* path);

// Writes path text into a fixed buffer: every '\\' becomes '/', text beyond
// capacity - 1 units is cut, and the buffer is always terminated.
class SlashedPathWriter {
public:
    // `capacity` must be at least 1; the buffer starts out empty.
    SlashedPathWriter(wchar_t* buffer, std::size_t capacity);

    // Appends at most `count` units of `text`, fewer when it ends sooner.
    void Append(const wchar_t* text, std::size_t count);
    void Append(const wchar_t* text);

    std::size_t Length() const { return m_length; }

private:
    wchar_t* m_buffer;
    std::size_t m_capacity;
    std::size_t m_length;
};

} // namespace detail
} // namespace Orvex

#endif // ORVEX_FILESYSTEM_DETAIL_PATHMGRTEXT_H
