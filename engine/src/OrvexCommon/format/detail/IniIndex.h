// The hash tables that find a configuration's sections and keys: a lookup
// costs one pass over each name and a probe into each of two flat tables,
// where a descent through sorted trees would visit a dozen nodes spread over
// the object's memory.
#ifndef ORVEX_FORMAT_DETAIL_ININDEX_H
#define ORVEX_FORMAT_DETAIL_ININDEX_H

#include "OrvexCommon/format/detail/IniString.h"
#include "OrvexCommon/memory/OrvexMemory.h"

#include <cstdint>
#include <new>
#include <string_view>
#include <type_traits>

namespace Orvex {
namespace detail {

// A name and the hash of its units, before the final mix.
struct HashedName {
    std::wstring_view text;
    std::uint32_t hash;
};

constexpr std::uint32_t kNameHashStart = 0x811C9DC5u;

// One unit into the hash: a multiply per unit, so the caller's text is
// measured and hashed in the same pass.
inline std::uint32_t HashUnit(std::uint32_t hash, wchar_t unit) {
    typedef std::make_unsigned<wchar_t>::type Unit;
    return (hash ^ static_cast<Unit>(unit)) * 0x01000193u;
}

// A stored name, or one the caller gave with its length.
inline HashedName HashName(std::wstring_view text) {
    std::uint32_t hash = kNameHashStart;
    for (const wchar_t unit : text) {
        hash = HashUnit(hash, unit);
    }
    return HashedName{text, hash};
}

// A name as the caller gives it, zero-terminated: hashed while its end is
// found, so it is read once.
inline HashedName HashName(const wchar_t* text) {
    std::uint32_t hash = kNameHashStart;
    const wchar_t* end = text;
    for (; *end != 0; ++end) {
        hash = HashUnit(hash, *end);
    }
    return HashedName{std::wstring_view(text, static_cast<std::size_t>(end - text)), hash};
}

// The multiplies above carry a unit's bits upwards only; the final mix brings
// the high bits down to the low ones that pick the slot.
inline std::uint32_t MixHash(std::uint32_t hash) {
    hash ^= hash >> 16;
    hash *= 0x85EBCA6Bu;
    hash ^= hash >> 13;
    hash *= 0xC2B2AE35u;
    return hash ^ (hash >> 16);
}

inline std::uint32_t SectionHash(const HashedName& name) {
    return MixHash(name.hash);
}

// A key's slot depends on its section's ordinal too, so one table holds the
// keys of every section.
inline std::uint32_t KeyHash(const HashedName& name, std::uint32_t section) {
    return MixHash(name.hash ^ section * 0x9E3779B9u);
}

// Unit by unit, so case-sensitively.
inline bool SameName(const IniString& stored, std::wstring_view name) {
    const std::wstring_view text = stored.view();
    if (text.size() != name.size()) {
        return false;
    }
    for (std::size_t i = 0; i < name.size(); ++i) {
        if (text[i] != name[i]) {
            return false;
        }
    }
    return true;
}

// An open-addressing table of nodes, probed linearly: each slot holds the
// node's hash, a tag the owner chooses and the node. Nodes are only ever added
// (the content is cleared only whole), so no slot is ever emptied and a probe
// ends at the first empty slot. The table grows before it is three quarters
// full. Its memory comes from the pool and goes back at Clear.
template <typename Node> class TIniIndex {
public:
    struct Slot {
        std::uint32_t hash;
        std::uint32_t tag;
        Node* node; // null: an empty slot
    };

    TIniIndex() = default;
    ~TIniIndex() { Clear(); }
    TIniIndex(const TIniIndex&) = delete;
    TIniIndex& operator=(const TIniIndex&) = delete;

    std::uint32_t size() const { return m_count; }

    // The slot of `hash` that `match` accepts, or null.
    template <typename Match> const Slot* Find(std::uint32_t hash, const Match& match) const {
        if (m_slots == nullptr) {
            return nullptr;
        }
        for (std::uint32_t i = hash & m_mask;; i = (i + 1) & m_mask) {
            const Slot& slot = m_slots[i];
            if (slot.node == nullptr) {
                return nullptr;
            }
            if (slot.hash == hash && match(slot)) {
                return &slot;
            }
        }
    }

    // Makes room for one more node, so that the Add after it cannot fail.
    // Throws std::bad_alloc, leaving the table as it was.
    void Reserve() {
        const std::uint64_t capacity = m_slots == nullptr ? 0 : std::uint64_t(m_mask) + 1;
        if ((std::uint64_t(m_count) + 1) * 4 > capacity * 3) {
            Grow(capacity == 0 ? kFirstCapacity : capacity * 2);
        }
    }

    // Adds a node not in the table yet; Reserve made room for it.
    void Add(std::uint32_t hash, std::uint32_t tag, Node* node) noexcept {
        Place(Slot{hash, tag, node});
        ++m_count;
    }

    void Clear() noexcept {
        TOrvexAllocator<Slot>().deallocate(m_slots, std::size_t(m_mask) + 1);
        m_slots = nullptr;
        m_mask = 0;
        m_count = 0;
    }

private:
    static constexpr std::uint64_t kFirstCapacity = 16;

    void Place(const Slot& slot) noexcept {
        std::uint32_t i = slot.hash & m_mask;
        while (m_slots[i].node != nullptr) {
            i = (i + 1) & m_mask;
        }
        m_slots[i] = slot;
    }

    void Grow(std::uint64_t capacity) {
        if (capacity > 0x80000000u) {
            throw std::bad_alloc();
        }
        Slot* const slots = TOrvexAllocator<Slot>().allocate(static_cast<std::size_t>(capacity));
        for (std::uint64_t i = 0; i < capacity; ++i) {
            slots[i] = Slot{0, 0, nullptr};
        }
        Slot* const old = m_slots;
        const std::uint64_t oldCapacity = old == nullptr ? 0 : std::uint64_t(m_mask) + 1;
        m_slots = slots;
        m_mask = static_cast<std::uint32_t>(capacity - 1);
        for (std::uint64_t i = 0; i < oldCapacity; ++i) {
            if (old[i].node != nullptr) {
                Place(old[i]);
            }
        }
        TOrvexAllocator<Slot>().deallocate(old, static_cast<std::size_t>(oldCapacity));
    }

    Slot* m_slots = nullptr;
    std::uint32_t m_mask = 0;
    std::uint32_t m_count = 0;
};

} // namespace detail
} // namespace Orvex

#endif // ORVEX_FORMAT_DETAIL_ININDEX_H
