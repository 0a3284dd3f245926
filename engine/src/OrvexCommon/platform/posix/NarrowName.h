// A wide file name as the kernel takes it here (UTF-8), converted into a
// buffer of its own: opening a file never asks for memory, so running out of
// memory cannot pass for a missing file. A name too long for any path is
// refused, as the kernel would refuse it.
#ifndef ORVEX_PLATFORM_POSIX_NARROWNAME_H
#define ORVEX_PLATFORM_POSIX_NARROWNAME_H

#include "OrvexCommon/text/OrvexText.h"

#include <limits.h>

namespace Orvex {
namespace sys {

class NarrowName {
public:
    explicit NarrowName(const wchar_t* wide) {
        m_text[0] = '\0';
        // The conversion returns the bytes written plus one and stops before
        // a character that does not fit whole (at most 4 bytes): with that
        // much room still free, nothing was cut off.
        const unsigned written = wide != nullptr ? UcsToUtf8(wide, m_text, sizeof(m_text)) : 0;
        m_whole = written != 0 && written + kLongestCharacter <= sizeof(m_text);
    }
    NarrowName(const NarrowName&) = delete;
    NarrowName& operator=(const NarrowName&) = delete;

    // False for a null name or one longer than a path can be.
    bool IsWhole() const { return m_whole; }
    const char* c_str() const { return m_text; }

private:
    static constexpr unsigned kLongestCharacter = 4;
    char m_text[PATH_MAX + kLongestCharacter];
    bool m_whole;
};

} // namespace sys
} // namespace Orvex

#endif // ORVEX_PLATFORM_POSIX_NARROWNAME_H
