// Settled answers for whole file names, readable without a lock.
//
// A game asks for the same names again and again, present or not (optional
// overrides, localised variants). Once a name has been searched, its answer
// cannot change while the library is loaded: every directory's package and
// zip answer is settled for good once it is known (an archive never closes,
// a spelling that is no archive is never tried again), and an archive's index
// never changes. So the answer of the search (the archive and the entry, or
// none) is kept once the name is asked a second time, and read back with one
// hash of the name, one probe and one comparison of its units.
//
// What keeps an answer apart:
// - the name's exact units: another spelling of the same file is another
//   name (as for directories, whose answers are kept per spelling);
// - the zip switch (SetZipArchiveSearch): the key holds it, so turning zip
//   archives on finds what a search without them missed;
// - the search form: deep and shallow answers are kept apart.
// What leaves no answer: a search during which an archive open ran out of
// memory (that open leaves no record, so the next search may find more);
// names longer than kMaxSettledName units; every name past kMaxSettledNames
// or past 8 MiB of records (and 4 MiB of table).
//
// The table is open-addressed over pointers to records laid in heap chunks
// beneath the pool, written under one lock and published by release stores.
// It grows by doubling: readers that still hold the smaller table read it
// safely, since tables and records are given back only when the library
// unloads.
#ifndef ORVEX_FILE_DETAIL_SETTLEDNAMES_H
#define ORVEX_FILE_DETAIL_SETTLEDNAMES_H

#include "OrvexCommon/file/detail/Package.h"

#include <atomic>
#include <cstddef>
#include <cstdint>

namespace Orvex {
namespace detail {

constexpr std::size_t kMaxSettledName = 1024;
constexpr std::size_t kMaxSettledNames = 1u << 17;

// A name as the table keys it: its units, the zip switch and the form.
struct SNameKey {
    const wchar_t* name = nullptr;
    std::size_t length = 0;
    std::uint64_t hash = 0; // of the units, the zip switch and the form
    bool zips = false;
    bool deep = false;
};

SNameKey MakeNameKey(const wchar_t* name, bool zips, bool deep);

class CSettledNames {
public:
    CSettledNames();
    ~CSettledNames();
    CSettledNames(const CSettledNames&) = delete;
    CSettledNames& operator=(const CSettledNames&) = delete;

    // The settled answer of the name, on any thread: false when there is
    // none yet.
    bool Find(const SNameKey& key, ArchiveMatch& answer) const;
    // Keeps the answer once the name has been asked before; nothing when the
    // name is too long, the table is full or there is no memory for it.
    void Settle(const SNameKey& key, const ArchiveMatch& answer);

private:
    struct SRecord;
    struct STable;
    static const SRecord* Lookup(const STable& table, const SNameKey& key);
    static void Insert(STable& table, std::uint64_t hash, const SRecord* record);
    STable* Grow(STable* current);
    SRecord* NewRecord(const SNameKey& key, const ArchiveMatch& answer);
    void* TakeRecordBytes(std::size_t size);
    bool AskedBefore(const SNameKey& key);

    // The names asked once, as 16-bit tags of their hash in sets of four:
    // only a name asked again takes a record, so names asked once (most
    // loads) cost no memory. A full set loses one of its tags; a tag shared
    // by two names only settles one of them early, which is sound.
    static constexpr std::size_t kAskedWays = 4;
    static constexpr std::size_t kAskedSets = 1u << 14;
    std::atomic<std::uint16_t> m_asked[kAskedSets][kAskedWays] = {};
    std::atomic<bool> m_full{false};
    std::atomic<STable*> m_table{nullptr};
    STable* m_retired[24] = {}; // smaller tables, kept for readers until unload
    std::size_t m_retiredCount = 0;
    std::size_t m_count = 0; // records, under the lock
    // Records are laid one after another in chunks, a record of up to one
    // cache line never across two: a lookup reads one line of it.
    static constexpr std::size_t kChunkBytes = 64 * 1024;
    static constexpr std::size_t kMaxChunks = 128;
    void* m_chunks[kMaxChunks] = {};
    std::size_t m_chunkCount = 0;
    std::size_t m_chunkUsed = kChunkBytes; // in the last chunk
};

// The process's table of settled names.
CSettledNames& SettledNames();

// Counts an archive open that ran out of memory and so left no record: a
// search during which this count moves settles nothing.
void NoteUnsettledOpen();
std::uint32_t UnsettledOpens();

} // namespace detail
} // namespace Orvex

#endif // ORVEX_FILE_DETAIL_SETTLEDNAMES_H
