// Settled answers for whole file names, readable without a lock.
//
// A game asks for the same names again and again, present or not (optional
// overrides, localised variants). Once a name has been searched, its answer
// cannot change while the library is loaded: every directory's package and
// zip answer is settled for good once it is known (an archive never closes,
// a spelling that is no archive is never tried again), and an archive's index
// never changes. So the answer of the search (the archive and the entry, or
// none) is kept per name and read back with one hash of the name, one probe
// and one comparison of its units.
//
// What keeps an answer apart:
// - the name's exact units: another spelling of the same file is another
//   name (as for directories, whose answers are kept per spelling);
// - the zip switch (SetZipArchiveSearch): the key holds it, so turning zip
//   archives on finds what a search without them missed;
// - the search form: deep and shallow answers are kept side by side.
// What leaves no answer: a search during which an archive open ran out of
// memory (that open leaves no record, so the next search may find more);
// names longer than kMaxSettledName units; every name past kMaxSettledNames.
//
// The table is open-addressed over pointers to pooled records, written under
// one lock and published by release stores. It grows by doubling: readers
// that still hold the smaller table read it safely, since tables and records
// are given back only when the library unloads.
#ifndef ORVEX_FILE_DETAIL_SETTLEDNAMES_H
#define ORVEX_FILE_DETAIL_SETTLEDNAMES_H

#include "OrvexCommon/file/detail/Package.h"

#include <atomic>
#include <cstddef>
#include <cstdint>

namespace Orvex {
namespace detail {

constexpr std::size_t kMaxSettledName = 1024;
constexpr std::size_t kMaxSettledNames = 1u << 16;

// A name as the table keys it.
struct SNameKey {
    const wchar_t* name = nullptr;
    std::size_t length = 0;
    std::uint64_t hash = 0; // of the units and the zip switch
    bool zips = false;
};

SNameKey MakeNameKey(const wchar_t* name, bool zips);

class CSettledNames {
public:
    CSettledNames();
    ~CSettledNames();
    CSettledNames(const CSettledNames&) = delete;
    CSettledNames& operator=(const CSettledNames&) = delete;

    // The settled answer of the name in the search form, on any thread:
    // false when there is none yet.
    bool Find(const SNameKey& key, bool deep, ArchiveMatch& answer) const;
    // Keeps the answer once the name has been asked before in this form;
    // nothing when the name is too long, the table is full or the pool has
    // no memory for it.
    void Settle(const SNameKey& key, bool deep, const ArchiveMatch& answer);

private:
    struct SRecord;
    struct STable;
    static const SRecord* Lookup(const STable& table, const SNameKey& key);
    static void Insert(STable& table, SRecord* record);
    static SRecord* NewRecord(const SNameKey& key);
    static void Keep(SRecord& record, bool deep, const ArchiveMatch& answer);
    STable* Grow(STable* current);

    bool AskedBefore(const SNameKey& key, bool deep);

    // The names asked once, by their hash and form, one per slot: only a
    // name asked again takes a record, so names asked once (most loads) cost
    // no memory. A slot's later name replaces its earlier one.
    static constexpr std::size_t kAskedSlots = 1u << 14;
    std::atomic<std::uint64_t> m_asked[kAskedSlots] = {};
    std::atomic<bool> m_full{false};
    std::atomic<STable*> m_table{nullptr};
    STable* m_retired[24] = {}; // smaller tables, kept for readers until unload
    std::size_t m_retiredCount = 0;
    std::size_t m_count = 0; // records, under the lock
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
