// The configuration file object, its parser and its writer. The parser walks
// the decoded wide text once and copies each name and value once into an
// entry; hash tables find the entries by the caller's text (no string built
// for a lookup), and each section's entries are put in the order Save writes
// only when they are walked. The entries and the longer texts of one object
// come from its NodeArena.
#ifndef ORVEX_FORMAT_DETAIL_INIFILE_H
#define ORVEX_FORMAT_DETAIL_INIFILE_H

#include "OrvexCommon/format/OrvexIniFile.h"
#include "OrvexCommon/format/detail/IniIndex.h"
#include "OrvexCommon/format/detail/IniString.h"
#include "OrvexCommon/format/detail/NodeArena.h"
#include "OrvexCommon/format/detail/TextFile.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <iterator>
#include <utility>

namespace Orvex {
namespace detail {

// A key and its value.
typedef std::pair<const IniString, IniString> IniEntry;

// Walks entries through an array of pointers to them.
template <typename Entry> class TEntryIterator {
public:
    typedef std::forward_iterator_tag iterator_category;
    typedef Entry value_type;
    typedef std::ptrdiff_t difference_type;
    typedef const Entry* pointer;
    typedef const Entry& reference;

    explicit TEntryIterator(Entry* const* at) : m_at(at) {}
    const Entry& operator*() const { return **m_at; }
    const Entry* operator->() const { return *m_at; }
    TEntryIterator& operator++() {
        ++m_at;
        return *this;
    }
    bool operator==(const TEntryIterator& other) const { return m_at == other.m_at; }
    bool operator!=(const TEntryIterator& other) const { return m_at != other.m_at; }

private:
    Entry* const* m_at;
};

// Entries in the order they were added, put in name order (unit by unit) when
// walked: what is added after a walk is sorted into place at the next one.
template <typename Entry> class TEntryList {
public:
    typedef TEntryIterator<Entry> const_iterator;

    TEntryList() = default;
    TEntryList(const TEntryList&) = delete;
    TEntryList& operator=(const TEntryList&) = delete;

    // In name order. Sorting does not change the content, so a const list
    // sorts itself.
    const_iterator begin() const;
    const_iterator end() const { return const_iterator(m_entries.data() + m_entries.size()); }
    bool empty() const { return m_entries.empty(); }
    std::size_t size() const { return m_entries.size(); }

    // Room for one more entry, so that the Add after it cannot fail. Throws
    // std::bad_alloc, leaving the list as it was.
    void Reserve();
    void Add(Entry* entry) noexcept { m_entries.push_back(entry); }
    // In the order they are held now.
    Entry* const* data() const { return m_entries.data(); }
    // Forgets the entries (their owner destroys them) and gives the memory
    // back.
    void Clear() noexcept {
        TOrvexVector<Entry*>().swap(m_entries);
        m_sorted = 0;
    }

private:
    mutable TOrvexVector<Entry*> m_entries;
    // The leading entries already in name order.
    mutable std::size_t m_sorted = 0;
};

// A section's keys, walked in name order. The keys are found through the
// hash table of IniSections, by the section's ordinal: the number of sections
// before it was added.
class IniSection : public TEntryList<IniEntry> {
public:
    explicit IniSection(std::uint32_t ordinal) : m_ordinal(ordinal) {}
    std::uint32_t ordinal() const { return m_ordinal; }

private:
    std::uint32_t m_ordinal;
};

typedef std::pair<const IniString, IniSection> IniSectionEntry;

// Every section and key of a configuration, walked like a sorted map: each
// item a section's name (first) and its keys (second), each key an IniEntry.
// Two hash tables find them: sections by name, keys by name and section.
// Keys and sections are only ever added or given new values and go all at
// once, so the tables never lose a single entry.
class IniSections {
public:
    typedef TEntryList<IniSectionEntry>::const_iterator const_iterator;

    // Entries and longer texts from `arena`; from the pool without one.
    explicit IniSections(NodeArena* arena = nullptr) : m_arena(arena) {}
    ~IniSections() { clear(); }
    IniSections(const IniSections&) = delete;
    IniSections& operator=(const IniSections&) = delete;

    const_iterator begin() const { return m_sections.begin(); }
    const_iterator end() const { return m_sections.end(); }
    bool empty() const { return m_sections.empty(); }
    std::size_t size() const { return m_sections.size(); }

    // The value of the key in the section, or null; both names terminated,
    // each read once.
    const IniString* Find(const wchar_t* section, const wchar_t* key) const;
    // The section of that name, added when missing. Throws std::bad_alloc
    // without memory, leaving the content as it was.
    IniSectionEntry& FindOrAdd(std::wstring_view name);
    // Stores the value under the key of the section, adding the key when
    // missing. Throws std::bad_alloc like FindOrAdd.
    void Store(IniSectionEntry& section, std::wstring_view key, std::wstring_view value);
    void clear() noexcept;

private:
    NodeArena* m_arena;
    TEntryList<IniSectionEntry> m_sections;
    // Sections tagged with their ordinal, keys with their section's.
    TIniIndex<IniSectionEntry> m_sectionIndex;
    TIniIndex<IniEntry> m_keyIndex;
};

// Fewer entries than this added since the last walk are each put in place;
// more are sorted with the others at once.
constexpr std::size_t kEntriesPlacedOneByOne = 16;

template <typename Entry>
typename TEntryList<Entry>::const_iterator TEntryList<Entry>::begin() const {
    if (m_sorted != m_entries.size()) {
        const auto byName = [](const Entry* left, const Entry* right) {
            return UnitLess()(left->first.view(), right->first.view());
        };
        const auto first = m_entries.begin();
        if (m_entries.size() - m_sorted < kEntriesPlacedOneByOne) {
            for (auto next = first + static_cast<std::ptrdiff_t>(m_sorted); next != m_entries.end();
                 ++next) {
                std::rotate(std::upper_bound(first, next, *next, byName), next, next + 1);
            }
        } else {
            std::sort(first, m_entries.end(), byName);
        }
        m_sorted = m_entries.size();
    }
    return const_iterator(m_entries.data());
}

template <typename Entry> void TEntryList<Entry>::Reserve() {
    if (m_entries.size() == m_entries.capacity()) {
        m_entries.reserve(m_entries.empty() ? 4 : 2 * m_entries.size());
    }
}

// Parses a zero-terminated text into `sections`, adding to what is there.
// False at the first error; what was parsed before it stays.
bool ParseIniText(const wchar_t* text, IniSections& sections);

// The bytes Save writes for `sections` in `encoding`: the mark, then each
// "[section]\r\n" and "key = value\r\n" in order.
void FormatIniText(const IniSections& sections, EIniEncoding encoding, OrvexString& out);

class CIniFile final : public IIniFile {
public:
    // Memory from the pool; null when the pool has none.
    static CIniFile* Create() { return NewPooledObject<CIniFile>(); }

    bool Load(const wchar_t* fileName) override;
    bool Save(const wchar_t* fileName, EIniEncoding encoding) override;
    void Clear() override;
    void Close() override;
    void Release() override;
    const wchar_t* GetString(const wchar_t* section, const wchar_t* key) override;
    int GetInt(const wchar_t* section, const wchar_t* key, int defaultValue) override;
    float GetFloat(const wchar_t* section, const wchar_t* key, float defaultValue) override;
    wchar_t GetChar(const wchar_t* section, const wchar_t* key, wchar_t defaultValue) override;
    void SetString(const wchar_t* section, const wchar_t* key, const wchar_t* value) override;
    void SetInt(const wchar_t* section, const wchar_t* key, int value) override;

    // Decodes and parses a file's bytes, as Load does once it has read them:
    // `size` bytes followed by at least two zero bytes. Stores the encoding
    // found; on a parse failure closes the object.
    bool LoadBytes(const unsigned char* bytes, std::uint32_t size);
    EIniEncoding GetEncoding() const { return m_encoding; }
    const IniSections& GetSections() const { return m_sections; }

private:
    friend CIniFile* NewPooledObject<CIniFile>();
    friend void DeletePooledObject<CIniFile>(CIniFile*);
    CIniFile() = default;
    ~CIniFile() = default;

    // The file's text as one zero-terminated wide text, and its encoding.
    EIniEncoding Decode(const unsigned char* bytes, std::uint32_t size, WideText& text);

    OrvexWString m_fileName;
    EIniEncoding m_encoding = eIniUtf16;
    // The entries; declared first, so it outlives them.
    NodeArena m_nodes;
    IniSections m_sections{&m_nodes};
};

} // namespace detail
} // namespace Orvex

#endif // ORVEX_FORMAT_DETAIL_INIFILE_H
