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

// Fixed fields first, the name after them: the name's units as bytes when
// they all fit in one (most names), so that a record spans fewer cache lines.
struct CSettledNames::SRecord {
    enum : unsigned {
        kShallow = 1,
        kDeep = 2,
        kShallowZip = 4, // the shallow answer is a zip entry
        kDeepZip = 8,
        kZips = 16,   // the key's zip switch
        kNarrow = 32, // the name is kept as bytes
    };
    struct SAnswer {
        void* archive;
        const void* entry;
    };
    std::uint64_t hash;
    std::uint32_t length;
    std::atomic<std::uint32_t> flags;
    SAnswer answers[2]; // [deep]
    // `length` units and a terminator, allocated past the record: bytes
    // with kNarrow, else wchar_t (the offset keeps them aligned).
    alignas(wchar_t) unsigned char name[sizeof(wchar_t)];

    static unsigned Settled(bool deep) { return deep ? kDeep : kShallow; }
    static unsigned IsZip(bool deep) { return deep ? kDeepZip : kShallowZip; }
    bool Holds(const SNameKey& key, unsigned flagsNow) const;
};

namespace {

bool FitsBytes(const wchar_t* name, std::size_t length) {
    for (std::size_t i = 0; i < length; ++i) {
        if (static_cast<std::uint32_t>(name[i]) > 0xFF) {
            return false;
        }
    }
    return true;
}

bool SameBytes(const unsigned char* kept, const wchar_t* name, std::size_t length) {
    for (std::size_t i = 0; i < length; ++i) {
        if (static_cast<std::uint32_t>(name[i]) != kept[i]) {
            return false;
        }
    }
    return true;
}

} // namespace

bool CSettledNames::SRecord::Holds(const SNameKey& key, unsigned flagsNow) const {
    if (hash != key.hash || length != key.length || ((flagsNow & kZips) != 0) != key.zips) {
        return false;
    }
    if ((flagsNow & kNarrow) != 0) {
        return SameBytes(name, key.name, key.length);
    }
    return std::wmemcmp(reinterpret_cast<const wchar_t*>(name), key.name, key.length) == 0;
}

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
        if (record->Holds(key, record->flags.load(std::memory_order_relaxed))) {
            return record;
        }
    }
}

bool CSettledNames::Find(const SNameKey& key, bool deep, ArchiveMatch& answer) const {
    const STable* table = m_table.load(std::memory_order_acquire);
    const SRecord* record = table != nullptr ? Lookup(*table, key) : nullptr;
    if (record == nullptr) {
        return false;
    }
    const unsigned flags = record->flags.load(std::memory_order_acquire);
    if ((flags & SRecord::Settled(deep)) == 0) {
        return false;
    }
    const SRecord::SAnswer& kept = record->answers[deep];
    if ((flags & SRecord::IsZip(deep)) != 0) {
        answer.zip = static_cast<SZipArchive*>(kept.archive);
        answer.zipEntry = static_cast<const SZipEntry*>(kept.entry);
    } else {
        answer.package = static_cast<SPackage*>(kept.archive);
        answer.entry = static_cast<const SPackageEntry*>(kept.entry);
    }
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

bool CSettledNames::AskedBefore(const SNameKey& key, bool deep) {
    // Zero marks a free slot: the form goes in the lowest bit, set for both.
    const std::uint64_t mark = (key.hash & ~std::uint64_t(3)) | (deep ? 3u : 1u);
    std::atomic<std::uint64_t>& slot = m_asked[(key.hash >> 40) & (kAskedSlots - 1)];
    if (slot.load(std::memory_order_relaxed) == mark) {
        return true;
    }
    slot.store(mark, std::memory_order_relaxed);
    return false;
}

void CSettledNames::Settle(const SNameKey& key, bool deep, const ArchiveMatch& answer) {
    if (key.length > kMaxSettledName || m_full.load(std::memory_order_relaxed) ||
        !AskedBefore(key, deep)) {
        return;
    }
    sys::ScopedLock hold(SettleLock());
    STable* table = m_table.load(std::memory_order_relaxed);
    if (table != nullptr) {
        if (auto* record = const_cast<SRecord*>(Lookup(*table, key))) {
            // Every search of a name finds the same answer: the first stays.
            if ((record->flags.load(std::memory_order_relaxed) & SRecord::Settled(deep)) == 0) {
                Keep(*record, deep, answer);
            }
            return;
        }
    }
    if (m_count >= kMaxSettledNames) {
        m_full.store(true, std::memory_order_relaxed);
        return;
    }
    // At most half full, so that a probe for a name not kept ends soon.
    if (table == nullptr || (m_count + 1) * 2 > table->mask + 1) {
        table = Grow(table);
        if (table == nullptr) {
            return;
        }
    }
    if (SRecord* record = NewRecord(key)) {
        Keep(*record, deep, answer);
        Insert(*table, record);
        ++m_count;
    }
}

// A record of the name with no answer yet; null without memory.
CSettledNames::SRecord* CSettledNames::NewRecord(const SNameKey& key) {
    const bool narrow = FitsBytes(key.name, key.length);
    const std::size_t unit = narrow ? 1 : sizeof(wchar_t);
    void* block = OrvexAlloc(static_cast<unsigned>(sizeof(SRecord) + key.length * unit));
    if (block == nullptr) {
        return nullptr;
    }
    const unsigned flags = (key.zips ? SRecord::kZips : 0u) | (narrow ? SRecord::kNarrow : 0u);
    auto* record =
        new (block) SRecord{key.hash, static_cast<std::uint32_t>(key.length), {flags}, {}, {}};
    if (narrow) {
        for (std::size_t i = 0; i < key.length; ++i) {
            record->name[i] = static_cast<unsigned char>(key.name[i]);
        }
        record->name[key.length] = 0;
    } else {
        auto* units = reinterpret_cast<wchar_t*>(record->name);
        std::wmemcpy(units, key.name, key.length);
        units[key.length] = 0;
    }
    return record;
}

// Writes the answer of one form, then marks it settled for readers.
void CSettledNames::Keep(SRecord& record, bool deep, const ArchiveMatch& answer) {
    const bool zip = answer.zip != nullptr;
    record.answers[deep] = {zip ? static_cast<void*>(answer.zip) : answer.package,
                            zip ? static_cast<const void*>(answer.zipEntry) : answer.entry};
    record.flags.fetch_or(SRecord::Settled(deep) | (zip ? SRecord::IsZip(deep) : 0u),
                          std::memory_order_release);
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
