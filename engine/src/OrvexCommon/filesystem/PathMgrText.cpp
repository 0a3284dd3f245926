// Path text shared by the path manager's operations.
#include "OrvexCommon/filesystem/detail/PathMgrText.h"
#include "OrvexCommon/platform/OrvexSys.h"

#include <cstdint>

namespace Orvex {
namespace detail {

bool IsAbsolutePath(const wchar_t* path) {
    if (sys::PathsHaveDrives()) {
        return path[0] != L'\0' && path[1] == L':';
    }
    return IsPathSeparator(path[0]);
}

SlashedPathWriter::SlashedPathWriter(wchar_t* buffer, std::size_t capacity)
    : m_buffer(buffer), m_capacity(capacity), m_length(0) {
    m_buffer[0] = L'\0';
}

void SlashedPathWriter::Append(const wchar_t* text, std::size_t count) {
    for (std::size_t i = 0; i < count && text[i] != L'\0' && m_length + 1 < m_capacity; ++i) {
        m_buffer[m_length++] = text[i] == L'\\' ? L'/' : text[i];
    }
    m_buffer[m_length] = L'\0';
}

void SlashedPathWriter::Append(const wchar_t* text) {
    Append(text, SIZE_MAX);
}

} // namespace detail
} // namespace Orvex
