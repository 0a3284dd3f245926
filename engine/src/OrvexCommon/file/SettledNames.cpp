// The table of settled name answers (see SettledNames.h).
#include "OrvexCommon/file/detail/SettledNames.h"
#include "OrvexCommon/file/detail/FileMgr.h"
#include "OrvexCommon/memory/OrvexMemory.h"
#include "OrvexCommon/platform/OrvexSys.h"

#include <cstring>
#include <cwchar>
#include <new>

namespace Orvex {
namespace detail {

namespace {

constexpr std::size_t kFirstSlots = 256;
constexpr std::uint64_t kMix = 0x9E3779B97F4A7C15ull;

std::uint64_t MixWord(std::uint64_t hash, std::uint64_t word) {
    hash = (hash ^ word) * kMix;
    return hash ^ (hash >> 29);
}

// Eight bytes of units at a time: the hash is asked on every lookup, so it
// takes one multiply per word instead of one per unit.
std::uint64_t HashUnits(const wchar_t* units, std::size_t length, bool zips) {
    const auto* bytes = reinterpret_cast<const unsigned char*>(units);
    std::size_t left = length * sizeof(wchar_t);
    std::uint64_t hash = MixWord(zips ? 0x5A5A5A5A5A5A5A5Aull : 0, left);
    for (; left >= 8; left -= 8, bytes += 8) {
        std::uint64_t word;
        std::memcpy(&word, bytes, 8);
        hash = MixWord(hash, word);
    }
    if (left > 0) {
        std::uint64_t word = 0;
        std::memcpy(&word, bytes, left);
        hash = MixWord(hash, word);
    }
    return (hash ^ (hash >> 32)) * kMix;
}

sys::RecursiveLock* SettleLock() {
    static sys::OwnedLock lock;
    return lock.get();
}

std::atomic<std::uint32_t> g_unsettledOpens{0};

} // namespace

struct CSettledNames::SRecord {
    std::uint64_t hash;
    std::size_t length;
    bool zips;
    std::atomic<unsigned> settled; // bit 0: shallow answer, bit 1: deep answer
    ArchiveMatch answers[2];       // [deep]
    wchar_t name[1];               // `length` units, allocated past the record

    static unsigned Bit(bool deep) { return deep ? 2u : 1u; }
};

struct CSettledNames::STable {
    std::size_t mask;
    std::atomic<SRecord*> slots[1]; // mask + 1 of them, allocated past the table
};

SNameKey MakeNameKey(const wchar_t* name, bool zips) {
    SNameKey key;
    key.name = name;
    key.length = std::wcslen(name);
    key.zips = zips;
    key.hash = HashUnits(name, key.length, zips);
    return key;
}

const CSettledNames::SRecord* CSettledNames::Lookup(const STable& table, const SNameKey& key) {
    for (std::size_t index = key.hash & table.mask;; index = (index + 1) & table.mask) {
        const SRecord* record = table.slots[index].load(std::memory_order_acquire);
        if (record == nullptr) {
            return nullptr;
        }
        if (record->hash == key.hash && record->length == key.length && record->zips == key.zips &&
            std::wmemcmp(record->name, key.name, key.length) == 0) {
            return record;
        }
    }
}

bool CSettledNames::Find(const SNameKey& key, bool deep, ArchiveMatch& answer) const {
    const STable* table = m_table.load(std::memory_order_acquire);
    const SRecord* record = table != nullptr ? Lookup(*table, key) : nullptr;
    if (record == nullptr ||
        (record->settled.load(std::memory_order_acquire) & SRecord::Bit(deep)) == 0) {
        return false;
    }
    answer = record->answers[deep];
    return true;
}

void CSettledNames::Insert(STable& table, SRecord* record) {
    std::size_t index = record->hash & table.mask;
    while (table.slots[index].load(std::memory_order_relaxed) != nullptr) {
        index = (index + 1) & table.mask;
    }
    table.slots[index].store(record, std::memory_order_release);
}

// A table of twice the slots holding every record; null without memory.
CSettledNames::STable* CSettledNames::Grow(STable* current) {
    const std::size_t slots = current == nullptr ? kFirstSlots : (current->mask + 1) * 2;
    // Tables come from the heap, beneath the pool, like the pool's own page
    // arrays: they grow in steps that no single name pays for.
    void* block =
        sys::AllocateZeroedBlock(sizeof(STable) + (slots - 1) * sizeof(std::atomic<SRecord*>));
    if (block == nullptr) {
        return nullptr;
    }
    auto* table = new (block) STable{slots - 1, {}};
    for (std::size_t i = 1; i < slots; ++i) {
        new (&table->slots[i]) std::atomic<SRecord*>(nullptr);
    }
    if (current != nullptr) {
        for (std::size_t i = 0; i <= current->mask; ++i) {
            if (SRecord* record = current->slots[i].load(std::memory_order_relaxed)) {
                Insert(*table, record);
            }
        }
        m_retired[m_retiredCount++] = current;
    }
    m_table.store(table, std::memory_order_release);
    return table;
}

void CSettledNames::Settle(const SNameKey& key, bool deep, const ArchiveMatch& answer) {
    if (key.length > kMaxSettledName) {
        return;
    }
    sys::ScopedLock hold(SettleLock());
    STable* table = m_table.load(std::memory_order_relaxed);
    if (table != nullptr) {
        if (auto* record = const_cast<SRecord*>(Lookup(*table, key))) {
            // Every search of a name finds the same answer: the first stays.
            if ((record->settled.load(std::memory_order_relaxed) & SRecord::Bit(deep)) == 0) {
                record->answers[deep] = answer;
                record->settled.fetch_or(SRecord::Bit(deep), std::memory_order_release);
            }
            return;
        }
    }
    if (m_count >= kMaxSettledNames) {
        return;
    }
    // At most half full, so that a probe for a name not kept ends soon.
    if (table == nullptr || (m_count + 1) * 2 > table->mask + 1) {
        table = Grow(table);
        if (table == nullptr) {
            return;
        }
    }
    void* block = OrvexAlloc(static_cast<unsigned>(sizeof(SRecord) + key.length * sizeof(wchar_t)));
    if (block == nullptr) {
        return;
    }
    auto* record =
        new (block) SRecord{key.hash, key.length, key.zips, {SRecord::Bit(deep)}, {}, {}};
    record->answers[deep] = answer;
    std::wmemcpy(record->name, key.name, key.length);
    record->name[key.length] = 0;
    Insert(*table, record);
    ++m_count;
}

CSettledNames::CSettledNames() {
    // Built after the manager, and so after the allocator, which must still
    // be there when the records are given back.
    FileMgr();
}

CSettledNames::~CSettledNames() {
    STable* table = m_table.exchange(nullptr);
    if (table != nullptr) {
        for (std::size_t i = 0; i <= table->mask; ++i) {
            OrvexFree(table->slots[i].load());
        }
        sys::FreeBlock(table);
    }
    for (std::size_t i = 0; i < m_retiredCount; ++i) {
        sys::FreeBlock(m_retired[i]);
    }
}

CSettledNames& SettledNames() {
    static CSettledNames names;
    return names;
}

void NoteUnsettledOpen() {
    g_unsettledOpens.fetch_add(1, std::memory_order_acq_rel);
}

std::uint32_t UnsettledOpens() {
    return g_unsettledOpens.load(std::memory_order_acquire);
}

} // namespace detail
} // namespace Orvex
