// The strings of a configuration file's entries: names and values.
#ifndef ORVEX_FORMAT_DETAIL_INISTRING_H
#define ORVEX_FORMAT_DETAIL_INISTRING_H

#include <cstdint>
#include <string_view>

namespace Orvex {
namespace detail {

class NodeArena;

// A terminated wide string that keeps up to kInlineUnits units inside itself,
// so inside the entry that holds it, and longer text in a block of the
// object's node arena (or of the pool, without an arena). Most names and
// values are short: a key then costs one entry and a lookup compares text in
// the entry it finds. The text does not move until it is assigned a longer
// one. Not copyable: it lives in entries, which never move.
class IniString {
public:
    static constexpr std::uint32_t kInlineUnits = 15;

    IniString(std::wstring_view text, NodeArena* arena) { Assign(text, arena); }
    ~IniString();
    IniString(const IniString&) = delete;
    IniString& operator=(const IniString&) = delete;

    // Reuses the present storage when the text fits it. A longer text takes a
    // new block: from the arena (given, like the old one, to the arena, at
    // least twice the old size so that repeated growth wastes at most as much
    // as it keeps), else from the pool. Throws std::bad_alloc without memory.
    void Assign(std::wstring_view text, NodeArena* arena);

    const wchar_t* c_str() const { return m_heap != nullptr ? m_heap : m_inline; }
    std::wstring_view view() const { return std::wstring_view(c_str(), m_length); }
    operator std::wstring_view() const { return view(); }

private:
    wchar_t* m_heap = nullptr;
    std::uint32_t m_length = 0;
    std::uint32_t m_capacity = kInlineUnits; // units, without the terminator
    bool m_pooled = false;                   // m_heap is the string's own pool block
    wchar_t m_inline[kInlineUnits + 1];
};

} // namespace detail
} // namespace Orvex

#endif // ORVEX_FORMAT_DETAIL_INISTRING_H
