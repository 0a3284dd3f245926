// Files inside zip archives, found by the same deep or shallow search as
// packages (a directory's package wins over its zip archive).
//
// A zip entry reads like a loose file: a synchronous load reads it whole, an
// asynchronous one reads the head and the extra data on the caller's thread
// and leaves the rest to the loading thread, which inflates it there. File
// objects read forward; a Seek backwards costs restarting the entry's stream
// (ZipEntryStream.h), inflating a deflated entry again up to the new
// position. Every entry's CRC-32 is checked once its last byte is read (a
// stored entry read in place from a mapping is checked as a whole first):
// bytes that do not match fail the read (Load -1, a file object's Read -1),
// never arrive as wrong bytes.
#ifndef ORVEX_FILE_DETAIL_ZIPSOURCE_H
#define ORVEX_FILE_DETAIL_ZIPSOURCE_H

#include "OrvexCommon/file/detail/FileSource.h"

namespace Orvex {
namespace detail {

struct SZipArchive;
struct SZipEntry;

class CZipSource final : public IFileSource {
public:
    // `deepSearch`: the manager's flag, read at every lookup.
    explicit CZipSource(const bool& deepSearch) : m_deepSearch(deepSearch) {}

    bool Has(const wchar_t* fileName) const override;
    bool Open(const wchar_t* fileName, bool handleNow, SSourceFile& file) const override;
    // Opens an entry a lookup found: checks its local header at once, with a
    // handle of the file's own (or the mapping when the archive is mapped).
    // False, holding nothing, when the entry is refused, too large for the
    // loader (4 GiB or more) or the archive no longer opens as itself.
    bool OpenEntry(SZipArchive& archive, const SZipEntry& entry, SSourceFile& file) const;
    bool ReadLeading(SSourceFile& file, std::int32_t fileType, bool restNow,
                     SLeadingPart& lead) const override;
    bool ReadRange(SSourceFile& file, std::uint32_t from, std::uint32_t n,
                   unsigned char* out) const override;
    // A stored entry's bytes in the archive's mapping, once its CRC-32 holds.
    const unsigned char* InPlace(const SSourceFile& file, std::uint32_t from,
                                 std::uint32_t to) const override;
    // A stored entry read from a mapping: nothing to inflate.
    bool InMemory(const SSourceFile& file) const override;
    // The loading thread's copy reads through the archive's own handle (or
    // the mapping the file reads), its stream opened on its first read.
    void Duplicate(const SSourceFile& file, SSourceFile& copy) const override;
    void Close(SSourceFile& file) const override;

private:
    const bool& m_deepSearch;
};

// True when zip archives are searched; the exported switch sets it.
bool ZipSearchEnabled();

} // namespace detail
} // namespace Orvex

#endif // ORVEX_FILE_DETAIL_ZIPSOURCE_H
