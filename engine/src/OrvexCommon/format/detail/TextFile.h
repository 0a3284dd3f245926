// What configuration and table files share: reading a file whole through the
// file manager, the byte-order marks, the decoders, and a comparison of wide
// names unit by unit.
#ifndef ORVEX_FORMAT_DETAIL_TEXTFILE_H
#define ORVEX_FORMAT_DETAIL_TEXTFILE_H

#include "OrvexCommon/memory/OrvexMemory.h"

#include <cstdint>
#include <new>
#include <string_view>
#include <utility>
#include <vector>

namespace Orvex {
namespace detail {

// A file's bytes in pooled memory, followed by `padding` zero bytes. Empty
// (bytes null) until ReadWholeFile fills it; gives its memory back.
class FileBytes {
public:
    FileBytes() = default;
    ~FileBytes() { OrvexFree(m_bytes); }
    FileBytes(const FileBytes&) = delete;
    FileBytes& operator=(const FileBytes&) = delete;

    const unsigned char* bytes() const { return m_bytes; }
    std::uint32_t size() const { return m_size; }

    // Opens `fileName` with a file object of the file manager (so loose or in
    // a package) and reads it whole. False when it cannot be opened or read,
    // is empty, or is too large to hold with the padding.
    bool ReadWholeFile(const wchar_t* fileName, std::uint32_t padding);

private:
    unsigned char* m_bytes = nullptr;
    std::uint32_t m_size = 0;
};

enum class ETextMark { Utf16, Utf8, None };

constexpr std::uint32_t kUtf16MarkBytes = 2;
constexpr std::uint32_t kUtf8MarkBytes = 3;

// The mark the bytes start with. At least two zero bytes must follow `size`
// (as FileBytes gives), so the three first bytes can always be read.
ETextMark FindTextMark(const unsigned char* bytes, std::uint32_t size);

// Pooled memory whose elements are left uninitialised when a vector grows:
// a decoder overwrites them at once, so zero-filling tens of megabytes first
// would be wasted.
template <typename T> class TUninitialisedAllocator : public TOrvexAllocator<T> {
public:
    template <typename U> struct rebind { typedef TUninitialisedAllocator<U> other; };
    TUninitialisedAllocator() noexcept = default;
    template <typename U> TUninitialisedAllocator(const TUninitialisedAllocator<U>&) noexcept {}

    template <typename U> void construct(U* place) noexcept { ::new (static_cast<void*>(place)) U; }
    template <typename U, typename... Args> void construct(U* place, Args&&... args) {
        ::new (static_cast<void*>(place)) U(std::forward<Args>(args)...);
    }
};

typedef std::vector<wchar_t, TUninitialisedAllocator<wchar_t>> WideText;

// Decodes zero-terminated UTF-8 into `text`, made `room` units long first and
// then cut to the units written plus the terminator. Stops at the first
// invalid sequence.
void DecodeUtf8(const unsigned char* bytes, std::uint32_t room, WideText& text);

// Appends `count` little-endian 16-bit units to `text`.
void AppendUtf16(const unsigned char* bytes, std::uint32_t count, WideText& text);

// Orders wide names by their units, so case-sensitively and exactly; finds by
// a view without building a string.
struct UnitLess {
    typedef void is_transparent;
    bool operator()(std::wstring_view left, std::wstring_view right) const {
        // Inline: names are short and mostly differ early.
        const std::size_t common = left.size() < right.size() ? left.size() : right.size();
        for (std::size_t i = 0; i < common; ++i) {
            if (left[i] != right[i]) {
                return static_cast<std::uint32_t>(left[i]) < static_cast<std::uint32_t>(right[i]);
            }
        }
        return left.size() < right.size();
    }
};

} // namespace detail
} // namespace Orvex

#endif // ORVEX_FORMAT_DETAIL_TEXTFILE_H
