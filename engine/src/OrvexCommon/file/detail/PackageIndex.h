// A package's index: its entries in key order, found by key in constant time.
// The records are one array in key order (later records of a key replace
// earlier ones) with an open-addressed table of {key, position} slots, at
// least twice as many as records: a lookup costs one hash of the name and
// about one cache line per try. A filter of two bytes per record, three bits
// per key all in one 64-bit word (a blocked Bloom filter: no key it holds is
// ever refused, about 1 % of others pass), answers "may it hold this key"
// from one read of a table an eighth the size, for the lookups that mostly
// miss: names that are not there and the tries of the digit fallback.
#ifndef ORVEX_FILE_DETAIL_PACKAGEINDEX_H
#define ORVEX_FILE_DETAIL_PACKAGEINDEX_H

#include "OrvexCommon/memory/OrvexMemory.h"

#include <algorithm>
#include <cstdint>
#include <utility>

namespace Orvex {
namespace detail {

template <typename Entry> class TPackageIndex {
public:
    typedef std::pair<std::uint32_t, Entry> Item;
    typedef typename TOrvexVector<Item>::iterator iterator;
    typedef typename TOrvexVector<Item>::const_iterator const_iterator;

    // Takes the records in file order; a key given again replaces the earlier
    // record, as later index entries overwrite earlier ones.
    void Assign(TOrvexVector<Item>&& itemsInFileOrder);

    const Entry* Find(std::uint32_t key) const;
    // False when no record has the key; true for every key a record has.
    bool MayHold(std::uint32_t key) const;
    Entry* Find(std::uint32_t key) {
        return const_cast<Entry*>(static_cast<const TPackageIndex*>(this)->Find(key));
    }

    std::size_t size() const { return m_items.size(); }
    bool empty() const { return m_items.empty(); }
    iterator begin() { return m_items.begin(); }
    iterator end() { return m_items.end(); }
    const_iterator begin() const { return m_items.begin(); }
    const_iterator end() const { return m_items.end(); }

private:
    TOrvexVector<Item> m_items; // ascending keys, each once
    // Open addressing on the key's low bits (keys are hashes already), at
    // least twice as many slots as items. A slot holds the key beside the
    // item's position + 1 (0: free), so a probe that misses reads one line.
    struct Slot {
        std::uint32_t key;
        std::uint32_t item;
    };
    TOrvexVector<Slot> m_slots;
    // Sixteen bits per record, a power of two of 64-bit words.
    TOrvexVector<std::uint64_t> m_filter;
    unsigned m_filterShift = 32; // 32 - log2(words)

    // Keys are hashes already: the word comes from a multiplicative scramble
    // of the whole key, the three bits from its low 18 bits, so the word and
    // the bits do not repeat each other.
    std::size_t WordOf(std::uint32_t key) const {
        return m_filterShift >= 32 ? 0 : (key * 0x9E3779B1u) >> m_filterShift;
    }
    static std::uint64_t BitsOf(std::uint32_t key) {
        return std::uint64_t(1) << (key & 63) | std::uint64_t(1) << (key >> 6 & 63) |
               std::uint64_t(1) << (key >> 12 & 63);
    }
};

// ---- Implementation ----

template <typename Entry>
inline void TPackageIndex<Entry>::Assign(TOrvexVector<Item>&& itemsInFileOrder) {
    m_items = std::move(itemsInFileOrder);
    // Stable: of records with one key, the last in file order ends last.
    std::stable_sort(m_items.begin(), m_items.end(),
                     [](const Item& a, const Item& b) { return a.first < b.first; });
    auto kept = m_items.begin();
    for (auto item = m_items.begin(); item != m_items.end(); ++item) {
        const auto next = item + 1;
        if (next == m_items.end() || next->first != item->first) {
            *kept++ = std::move(*item);
        }
    }
    m_items.erase(kept, m_items.end());

    std::size_t slotCount = 1;
    while (slotCount < m_items.size() * 2) {
        slotCount *= 2;
    }
    m_slots.assign(slotCount, Slot{0, 0});
    const std::size_t mask = slotCount - 1;
    for (std::size_t i = 0; i < m_items.size(); ++i) {
        std::size_t slot = m_items[i].first & mask;
        while (m_slots[slot].item != 0) {
            slot = (slot + 1) & mask;
        }
        m_slots[slot] = Slot{m_items[i].first, static_cast<std::uint32_t>(i + 1)};
    }

    unsigned wordsLog = 0;
    while ((std::size_t(1) << wordsLog) * 4 < m_items.size() && wordsLog < 26) {
        ++wordsLog;
    }
    m_filterShift = 32 - wordsLog;
    m_filter.assign(std::size_t(1) << wordsLog, 0);
    for (const Item& item : m_items) {
        m_filter[WordOf(item.first)] |= BitsOf(item.first);
    }
}

template <typename Entry> inline bool TPackageIndex<Entry>::MayHold(std::uint32_t key) const {
    if (m_filter.empty()) {
        return false;
    }
    const std::uint64_t bits = BitsOf(key);
    return (m_filter[WordOf(key)] & bits) == bits;
}

template <typename Entry> inline const Entry* TPackageIndex<Entry>::Find(std::uint32_t key) const {
    if (m_slots.empty()) {
        return nullptr;
    }
    const std::size_t mask = m_slots.size() - 1;
    for (std::size_t slot = key & mask; m_slots[slot].item != 0; slot = (slot + 1) & mask) {
        if (m_slots[slot].key == key) {
            return &m_items[m_slots[slot].item - 1].second;
        }
    }
    return nullptr;
}

} // namespace detail
} // namespace Orvex

#endif // ORVEX_FILE_DETAIL_PACKAGEINDEX_H
