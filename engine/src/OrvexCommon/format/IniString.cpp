// Configuration strings with their short text inline.
#include "OrvexCommon/format/detail/IniString.h"
#include "OrvexCommon/format/detail/NodeArena.h"
#include "OrvexCommon/memory/OrvexMemory.h"

#include <cwchar>
#include <new>

namespace Orvex {
namespace detail {

IniString::~IniString() {
    if (m_pooled) {
        OrvexFree(m_heap);
    }
}

void IniString::Assign(std::wstring_view text, NodeArena* arena) {
    if (text.size() > 0x3FFFFFFFu) {
        throw std::bad_alloc();
    }
    const std::uint32_t length = static_cast<std::uint32_t>(text.size());
    if (length > m_capacity) {
        if (arena != nullptr) {
            // The first block holds the text exactly, a later one at least
            // twice the old.
            std::uint32_t capacity = length;
            if (m_heap != nullptr && capacity < 2 * m_capacity) {
                capacity = 2 * m_capacity;
            }
            wchar_t* block =
                static_cast<wchar_t*>(arena->Allocate((capacity + 1) * sizeof(wchar_t)));
            if (m_pooled) {
                OrvexFree(m_heap);
            }
            m_heap = block;
            m_capacity = capacity;
            m_pooled = false;
        } else {
            wchar_t* block = TOrvexAllocator<wchar_t>().allocate(length + 1);
            if (m_pooled) {
                OrvexFree(m_heap);
            }
            m_heap = block;
            m_capacity = length;
            m_pooled = true;
        }
    }
    wchar_t* target = m_heap != nullptr ? m_heap : m_inline;
    if (length != 0) {
        std::wmemmove(target, text.data(), length);
    }
    target[length] = 0;
    m_length = length;
}

} // namespace detail
} // namespace Orvex
