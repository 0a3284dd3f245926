// A configuration's sections and keys: their entries and hash tables.
#include "OrvexCommon/format/detail/IniFile.h"

#include <new>
#include <tuple>
#include <utility>

namespace Orvex {
namespace detail {

namespace {

// Accepts the slot of a section named `name`.
struct SectionNamed {
    std::wstring_view name;
    template <typename Slot> bool operator()(const Slot& slot) const {
        return SameName(slot.node->first, name);
    }
};

// Accepts the slot of a key named `name` in the section of that ordinal. The
// hash mixes the ordinal in already; the tag keeps the match exact whatever
// the hash.
struct KeyNamed {
    std::wstring_view name;
    std::uint32_t section;
    template <typename Slot> bool operator()(const Slot& slot) const {
        return slot.tag == section && SameName(slot.node->first, name);
    }
};

// An entry built from the arena (the pool without one), given back at once
// when its construction throws.
template <typename Entry, typename Value>
Entry* NewEntry(NodeArena* arena, std::wstring_view name, const Value& value) {
    TArenaAllocator<Entry> allocator(arena);
    Entry* const entry = allocator.allocate(1);
    try {
        return ::new (static_cast<void*>(entry))
            Entry(std::piecewise_construct, std::forward_as_tuple(name, arena), value);
    } catch (...) {
        allocator.deallocate(entry, 1);
        throw;
    }
}

template <typename Entry> void DeleteEntry(NodeArena* arena, Entry* entry) noexcept {
    entry->~Entry();
    TArenaAllocator<Entry>(arena).deallocate(entry, 1);
}

} // namespace

const IniString* IniSections::Find(const wchar_t* section, const wchar_t* key) const {
    const HashedName sectionName = HashName(section);
    const HashedName keyName = HashName(key);
    const auto* found =
        m_sectionIndex.Find(SectionHash(sectionName), SectionNamed{sectionName.text});
    if (found == nullptr) {
        return nullptr;
    }
    // The ordinal comes from the slot, not the entry, so the key's probe need
    // not wait for the section's name to be compared.
    const std::uint32_t ordinal = found->tag;
    const auto* entry = m_keyIndex.Find(KeyHash(keyName, ordinal), KeyNamed{keyName.text, ordinal});
    return entry == nullptr ? nullptr : &entry->node->second;
}

IniSectionEntry& IniSections::FindOrAdd(std::wstring_view name) {
    const std::uint32_t hash = SectionHash(HashName(name));
    if (const auto* found = m_sectionIndex.Find(hash, SectionNamed{name})) {
        return *found->node;
    }
    // Room first: once the entry is built, nothing may fail.
    m_sectionIndex.Reserve();
    m_sections.Reserve();
    const std::uint32_t ordinal = m_sectionIndex.size();
    IniSectionEntry* const section =
        NewEntry<IniSectionEntry>(m_arena, name, std::forward_as_tuple(ordinal));
    m_sections.Add(section);
    m_sectionIndex.Add(hash, ordinal, section);
    return *section;
}

void IniSections::Store(IniSectionEntry& section, std::wstring_view key, std::wstring_view value) {
    const std::uint32_t ordinal = section.second.ordinal();
    const std::uint32_t hash = KeyHash(HashName(key), ordinal);
    if (const auto* found = m_keyIndex.Find(hash, KeyNamed{key, ordinal})) {
        found->node->second.Assign(value, m_arena);
        return;
    }
    m_keyIndex.Reserve();
    section.second.Reserve();
    IniEntry* const entry = NewEntry<IniEntry>(m_arena, key, std::forward_as_tuple(value, m_arena));
    section.second.Add(entry);
    m_keyIndex.Add(hash, ordinal, entry);
}

void IniSections::clear() noexcept {
    for (std::size_t s = 0; s < m_sections.size(); ++s) {
        IniSectionEntry* const section = m_sections.data()[s];
        for (std::size_t k = 0; k < section->second.size(); ++k) {
            DeleteEntry(m_arena, section->second.data()[k]);
        }
        DeleteEntry(m_arena, section);
    }
    m_sections.Clear();
    m_sectionIndex.Clear();
    m_keyIndex.Clear();
}

} // namespace detail
} // namespace Orvex
