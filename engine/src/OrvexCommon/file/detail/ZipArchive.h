// Zip archives the file manager reads from: the process-wide registry of
// open archives and the bytes of one archive, from its file or its mapping.
//
// An archive opens once, when a lookup first tries `<dir>.zip`, and stays
// open for the rest of the process, as packages do. Opening reads the
// central directory (ZipDirectory.h); an archive whose directory does not
// hold together, or that is no zip at all, is remembered as none and never
// tried again; one that ran out of memory leaves no record. Records left out
// for a method other than stored and deflate are reported on the error
// stream, one line per archive.
//
// Reads go through a handle of the reader's own (the archive's handle is the
// loading thread's), opened on the archive's path and checked to be the same
// file, so an archive replaced under its name is not read with the old
// directory. SetPackageMapped maps the whole archive (up to 4 GiB - 1): the
// mapping, once made, stays until the library unloads, so a reader that took
// it keeps reading it whatever mode the archive is switched to later; only
// readers opened while the archive is mapped take it.
//
// Archives may be longer than 4 GiB (ZIP64); an entry of 4 GiB or more is
// never found, since the loader's sizes are 32-bit.
#ifndef ORVEX_FILE_DETAIL_ZIPARCHIVE_H
#define ORVEX_FILE_DETAIL_ZIPARCHIVE_H

#include "OrvexCommon/file/detail/ZipDirectory.h"
#include "OrvexCommon/platform/OrvexSys.h"

#include <atomic>
#include <cstdint>
#include <cstdio>

namespace Orvex {
namespace detail {

struct SSpelling;

constexpr unsigned kSpareZipHandles = 4;

struct SZipArchive {
    OrvexWString path;
    SZipDirectory directory;
    std::uint64_t size = 0;
    std::FILE* handle = nullptr; // the loading thread's
    std::atomic<const unsigned char*> mapping{nullptr};
    std::uint64_t mappedSize = 0; // set before the mapping is published
    std::atomic<bool> mapped{false};
    // Handles readers gave back, for the next readers: opening and checking
    // one costs more system calls than reading a small entry. They lead to
    // the file the directory was read from, whatever has replaced it under
    // its name since.
    sys::OwnedLock spareLock;
    std::FILE* spare[kSpareZipHandles] = {};
    unsigned spareCount = 0;
};

// Calls `visit` with the path of every open archive, under the registry's
// lock.
void VisitOpenZipPaths(void (*visit)(const wchar_t* path, void* context), void* context);

// Opens the archive at `path`, or returns the one already open under exactly
// that spelling; null when it is none. The answer, once settled, is also
// recorded for `packageSpelling` (the same directory's package spelling, see
// SettleZipAnswer).
SZipArchive* OpenZipArchive(const wchar_t* path, const SSpelling& packageSpelling);

// Maps the archive (first time) and switches its mode; false when it cannot
// be mapped, the archive then staying as it was.
bool SwitchZipMapped(SZipArchive& archive, bool mapped);

// The archive's bytes for one reader: its mapping, or a handle.
class CZipArchiveBytes final : public IZipBytes {
public:
    CZipArchiveBytes() = default;
    ~CZipArchiveBytes();
    CZipArchiveBytes(const CZipArchiveBytes&) = delete;
    CZipArchiveBytes& operator=(const CZipArchiveBytes&) = delete;

    // Takes the archive's mapping when it is mapped, else a handle of its own
    // (a spare one, or one opened now; given back when the bytes are done)
    // or, with `shareHandle`, the archive's own, for the loading thread.
    // False, with nothing held, when no handle of its own opens the same file.
    bool Attach(SZipArchive& archive, bool shareHandle);
    bool Read(std::uint64_t offset, std::size_t n, unsigned char* out) override;
    // The mapping, when reads come from one.
    const unsigned char* Mapping() const { return m_mapping; }

private:
    const unsigned char* m_mapping = nullptr;
    std::uint64_t m_size = 0;
    std::FILE* m_handle = nullptr;
    SZipArchive* m_owner = nullptr; // set when the handle is to be given back
};

} // namespace detail
} // namespace Orvex

#endif // ORVEX_FILE_DETAIL_ZIPARCHIVE_H
