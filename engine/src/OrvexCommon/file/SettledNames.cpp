// The table of settled name answers (see SettledNames.h).
#include "OrvexCommon/file/detail/SettledNames.h"
#include "OrvexCommon/file/detail/FileMgr.h"
#include "OrvexCommon/platform/OrvexSys.h"

#include <cstring>
#include <cwchar>
#include <new>

namespace Orvex {
namespace detail {

namespace {

constexpr std::size_t kFirstSlots = 256;
constexpr std::uint64_t kMix = 0x9E3779B97F4A7C15ull;

// Sixteen bytes of units a step, in two independent chains of one multiply
// each: the hash is asked on every lookup. The last step mixes the high
// bits down, since the table's index takes the low ones; the hash only
// places and filters records (names are always compared), so its quality
// is a matter of speed, never of answers.
std::uint64_t HashUnits(const wchar_t* units, std::size_t length, unsigned seed) {
    const auto* bytes = reinterpret_cast<const unsigned char*>(units);
    std::size_t left = length * sizeof(wchar_t);
    std::uint64_t first = (seed ^ left) * kMix;
    std::uint64_t second = ~first;
    for (; left >= 16; left -= 16, bytes += 16) {
        std::uint64_t words[2];
        std::memcpy(words, bytes, 16);
        first = (first ^ words[0]) * kMix;
        second = (second ^ words[1]) * kMix;
    }
    std::uint64_t words[2] = {0, 0};
    std::memcpy(words, bytes, left);
    first = (first ^ words[0]) * kMix;
    second = (second ^ words[1]) * kMix;
    std::uint64_t hash = first ^ (second >> 29) ^ (second << 35);
    hash = (hash ^ (hash >> 32)) * kMix;
    return hash ^ (hash >> 29);
}

sys::RecursiveLock* SettleLock() {
    static sys::OwnedLock lock;
    return lock.get();
}

std::atomic<std::uint32_t> g_unsettledOpens{0};

} // namespace

// One answer: the name's units (as bytes when they all fit in one, as most
// names do) follow the fixed fields, so that a record of a short name fits
// in one cache line. Written whole before the table publishes it, then never
// changed.
struct CSettledNames::SRecord {
    enum : std::uint32_t {
        kZips = 1,      // the key's zip switch
        kDeep = 2,      // the key's form
        kNarrow = 4,    // the name is kept as bytes
        kZipAnswer = 8, // the answer is a zip entry
    };
    std::uint32_t length;
    std::uint32_t flags;
    void* archive;
    const void* entry;

    unsigned char* Name() { return reinterpret_cast<unsigned char*>(this + 1); }
    const unsigned char* Name() const { return reinterpret_cast<const unsigned char*>(this + 1); }
    bool Holds(const SNameKey& key) const;
    static std::uint32_t KeyFlags(const SNameKey& key) {
        return (key.zips ? kZips : 0u) | (key.deep ? kDeep : 0u);
    }
};

struct CSettledNames::STable {
    // The record's hash beside it, so that a probe passing other names does
    // not read their records. The hash is written before the record's
    // pointer is published, and read after it.
    struct SSlot {
        std::atomic<std::uint64_t> hash;
        std::atomic<const SRecord*> record;
    };
    std::size_t mask;
    SSlot slots[1]; // mask + 1 of them, allocated past the table
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

// Every unit compared, without an early exit, so that the loop vectorises.
bool SameBytes(const unsigned char* kept, const wchar_t* name, std::size_t length) {
    std::uint32_t differ = 0;
    for (std::size_t i = 0; i < length; ++i) {
        differ |= static_cast<std::uint32_t>(name[i]) ^ kept[i];
    }
    return differ == 0;
}

} // namespace

bool CSettledNames::SRecord::Holds(const SNameKey& key) const {
    if (length != key.length || (flags & (kZips | kDeep)) != KeyFlags(key)) {
        return false;
    }
    if ((flags & kNarrow) != 0) {
        return SameBytes(Name(), key.name, key.length);
    }
    return std::wmemcmp(reinterpret_cast<const wchar_t*>(Name()), key.name, key.length) == 0;
}

SNameKey MakeNameKey(const wchar_t* name, bool zips, bool deep) {
    SNameKey key;
    key.name = name;
    key.length = std::wcslen(name);
    key.zips = zips;
    key.deep = deep;
    // A seed of its own for each switch and form keeps a name's keys apart.
    key.hash = HashUnits(name, key.length, (zips ? 1u : 0u) + (deep ? 2u : 0u) + 1);
    return key;
}

const CSettledNames::SRecord* CSettledNames::Lookup(const STable& table, const SNameKey& key) {
    for (std::size_t index = key.hash & table.mask;; index = (index + 1) & table.mask) {
        const STable::SSlot& slot = table.slots[index];
        const SRecord* record = slot.record.load(std::memory_order_acquire);
        if (record == nullptr) {
            return nullptr;
        }
        if (slot.hash.load(std::memory_order_relaxed) == key.hash && record->Holds(key)) {
            return record;
        }
    }
}

bool CSettledNames::Find(const SNameKey& key, ArchiveMatch& answer) const {
    const STable* table = m_table.load(std::memory_order_acquire);
    const SRecord* record = table != nullptr ? Lookup(*table, key) : nullptr;
    if (record == nullptr) {
        return false;
    }
    if ((record->flags & SRecord::kZipAnswer) != 0) {
        answer.zip = static_cast<SZipArchive*>(record->archive);
        answer.zipEntry = static_cast<const SZipEntry*>(record->entry);
    } else {
        answer.package = static_cast<SPackage*>(record->archive);
        answer.entry = static_cast<const SPackageEntry*>(record->entry);
    }
    return true;
}

void CSettledNames::Insert(STable& table, std::uint64_t hash, const SRecord* record) {
    std::size_t index = hash & table.mask;
    while (table.slots[index].record.load(std::memory_order_relaxed) != nullptr) {
        index = (index + 1) & table.mask;
    }
    table.slots[index].hash.store(hash, std::memory_order_relaxed);
    table.slots[index].record.store(record, std::memory_order_release);
}

// A table of twice the slots holding every record; null without memory.
// Tables come from the heap, beneath the pool, like the pool's own page
// arrays: they grow in steps that no single name pays for.
CSettledNames::STable* CSettledNames::Grow(STable* current) {
    const std::size_t slots = current == nullptr ? kFirstSlots : (current->mask + 1) * 2;
    void* block = sys::AllocateZeroedBlock(sizeof(STable) + (slots - 1) * sizeof(STable::SSlot));
    if (block == nullptr) {
        return nullptr;
    }
    auto* table = new (block) STable{slots - 1, {}};
    for (std::size_t i = 1; i < slots; ++i) {
        new (&table->slots[i]) STable::SSlot{{0}, {nullptr}};
    }
    if (current != nullptr) {
        for (std::size_t i = 0; i <= current->mask; ++i) {
            const STable::SSlot& slot = current->slots[i];
            if (const SRecord* record = slot.record.load(std::memory_order_relaxed)) {
                Insert(*table, slot.hash.load(std::memory_order_relaxed), record);
            }
        }
        m_retired[m_retiredCount++] = current;
    }
    m_table.store(table, std::memory_order_release);
    return table;
}

// `size` bytes for a record, from the last chunk or a new one; null when
// the chunks are all taken or there is no memory. Chunks start on a cache
// line, and a record that fits in one line is kept within one.
void* CSettledNames::TakeRecordBytes(std::size_t size) {
    constexpr std::size_t kLine = 64;
    std::size_t at = (m_chunkUsed + alignof(SRecord) - 1) & ~(alignof(SRecord) - 1);
    if (size <= kLine && at % kLine + size > kLine) {
        at = (at + kLine - 1) & ~(kLine - 1);
    }
    if (at + size > kChunkBytes) {
        if (m_chunkCount == kMaxChunks) {
            return nullptr;
        }
        void* chunk = sys::AllocateBlock(kChunkBytes + kLine);
        if (chunk == nullptr) {
            return nullptr;
        }
        m_chunks[m_chunkCount++] = chunk;
        at = 0;
    }
    const auto base = (reinterpret_cast<std::uintptr_t>(m_chunks[m_chunkCount - 1]) + kLine - 1) &
                      ~std::uintptr_t(kLine - 1);
    m_chunkUsed = at + size;
    return reinterpret_cast<unsigned char*>(base) + at;
}

// A record of the name and its answer; null without room.
CSettledNames::SRecord* CSettledNames::NewRecord(const SNameKey& key, const ArchiveMatch& answer) {
    static_assert(sizeof(SRecord) % alignof(wchar_t) == 0, "a record's wide name starts aligned");
    const bool narrow = FitsBytes(key.name, key.length);
    const std::size_t unit = narrow ? 1 : sizeof(wchar_t);
    void* bytes = TakeRecordBytes(sizeof(SRecord) + (key.length + 1) * unit);
    if (bytes == nullptr) {
        return nullptr;
    }
    const bool zip = answer.zip != nullptr;
    const std::uint32_t flags = SRecord::KeyFlags(key) | (narrow ? SRecord::kNarrow : 0u) |
                                (zip ? SRecord::kZipAnswer : 0u);
    auto* record =
        new (bytes) SRecord{static_cast<std::uint32_t>(key.length), flags,
                            zip ? static_cast<void*>(answer.zip) : answer.package,
                            zip ? static_cast<const void*>(answer.zipEntry) : answer.entry};
    if (narrow) {
        for (std::size_t i = 0; i < key.length; ++i) {
            record->Name()[i] = static_cast<unsigned char>(key.name[i]);
        }
        record->Name()[key.length] = 0;
    } else {
        auto* units = reinterpret_cast<wchar_t*>(record->Name());
        std::wmemcpy(units, key.name, key.length);
        units[key.length] = 0;
    }
    return record;
}

bool CSettledNames::AskedBefore(const SNameKey& key) {
    // Zero marks a free way, and is no tag.
    const auto tag = static_cast<std::uint16_t>((key.hash >> 48) | 1u);
    std::atomic<std::uint16_t>(&set)[kAskedWays] = m_asked[(key.hash >> 20) & (kAskedSets - 1)];
    std::size_t free = kAskedWays;
    for (std::size_t way = 0; way < kAskedWays; ++way) {
        const std::uint16_t held = set[way].load(std::memory_order_relaxed);
        if (held == tag) {
            return true;
        }
        free = held == 0 && free == kAskedWays ? way : free;
    }
    // No free way: the hash picks the one to give up.
    set[free < kAskedWays ? free : (key.hash >> 8) & (kAskedWays - 1)].store(
        tag, std::memory_order_relaxed);
    return false;
}

void CSettledNames::Settle(const SNameKey& key, const ArchiveMatch& answer) {
    if (key.length > kMaxSettledName || m_full.load(std::memory_order_relaxed) ||
        !AskedBefore(key)) {
        return;
    }
    sys::ScopedLock hold(SettleLock());
    STable* table = m_table.load(std::memory_order_relaxed);
    // Every search of a name finds the same answer: the first stays.
    if (table != nullptr && Lookup(*table, key) != nullptr) {
        return;
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
    if (const SRecord* record = NewRecord(key, answer)) {
        Insert(*table, key.hash, record);
        ++m_count;
    }
}

CSettledNames::CSettledNames() {
    // Built after the manager, which stops the loading thread: nothing reads
    // the records once they are given back.
    FileMgr();
}

CSettledNames::~CSettledNames() {
    STable* table = m_table.exchange(nullptr);
    sys::FreeBlock(table);
    for (std::size_t i = 0; i < m_retiredCount; ++i) {
        sys::FreeBlock(m_retired[i]);
    }
    for (std::size_t i = 0; i < m_chunkCount; ++i) {
        sys::FreeBlock(m_chunks[i]);
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
