// Packages: the process-wide registry of open packages, opening, lookups of
// file names, the two modes and copies out of a mapping. The file format is
// documented in docs/PACKAGE_FORMAT.md.
//
// A package is opened once and stays open for the rest of the process, in
// mapped mode (the whole file mapped, reads copy from the view) or private
// mode (the files' resident parts copied into one buffer, the rest read
// through the package's own file handle).
//
// The registry maps the package path, spelled exactly as opened, to its
// SPackage (looked up with the caller's text, no string built) and keeps a
// set of paths that failed. It holds one lock for a whole open, so a package
// is never seen half-built (the two per-form search locks are kept as well).
// Only a path that is no package (a wrong header, an index or resident parts
// that can never be held) joins the failed set and is never tried again: an
// open that ran out of memory leaves no record at all, and the next open
// tries again.
//
// Every read of a package is bounded by what it really holds, since its bytes
// cannot be trusted: a header needs 16 bytes the package really holds (file
// length or patch size override), an index must fit below 2 GiB with its
// spare bytes and lie inside the package, a resident size is cut to the file
// size, the resident parts together must fit one pooled buffer for private
// mode, copies from a mapping stop at the mapping's end and reads through a
// reader at the effective size; the bytes a package does not hold read as
// zeros. A hostile header or index fails the open.
//
// Mapped mode is entered with a read-only view in both places (at open and
// on SetPackageMapped), so a package the process may only read can be
// mapped, and the library never writes to one. A mapped package that another
// process truncates while it is open is the one change under the loader the
// library does not survive: touching a page past the file's new end raises a
// bus error (SIGBUS) on Linux and an in-page error on Windows in whichever
// thread reads it, the host's or the loading thread. The library installs no
// handler for it: a handler in a library would take the signal from the
// host's own crash handling, and what it guarded could only be the copy out
// of the mapping, while a host also reads mapped bytes itself. Packages that
// may change while the game runs belong in private mode, where every read
// goes through a handle and a file cut short gives a short read (zeros in a
// load), not a fault.
//
// A private package replaced under its name (a new file renamed over it)
// keeps being read by the loading thread through the handle it opened; reads
// that open a handle of their own (a synchronous load, a file object) check
// with sys::IsSameFile that the name still leads to that file and fail
// otherwise (Load -1, Open false), since the index would point into another
// file's bytes.
#ifndef ORVEX_FILE_DETAIL_PACKAGE_H
#define ORVEX_FILE_DETAIL_PACKAGE_H

#include "OrvexCommon/file/OrvexFile.h"
#include "OrvexCommon/file/detail/PackageTypes.h"

namespace Orvex {
namespace detail {

// Opens the package at `path` (its file, or its patch alone) or returns the one
// already open under exactly that spelling; null when it is not a package.
// `progress`, when given, is called once with 1.0 after a successful first
// open. keepMapped false (or a file that cannot be mapped) leaves it private.
SPackage* OpenPackage(const wchar_t* path, PackageProgressFun progress, std::uint32_t userData,
                      bool keepMapped);

struct SSpelling;
struct SSettledAnswer;
struct SZipArchive;
struct SZipEntry;
// The registry's answer for the spelling when it is settled (a package, or
// null: not one, with the zip answer of the same directory when `wantZip`
// and that is settled too), found without a lock; false when it is not
// settled yet.
bool FindSettledPackage(const SSpelling& spelling, bool wantZip, SSettledAnswer& answer);
// Records the zip answer of a directory whose package spelling is settled
// as no package (see CSettledPackages::SettleZip).
void SettleZipAnswer(const SSpelling& packageSpelling, SZipArchive* zip);

struct PackageMatch {
    SPackage* package = nullptr; // null: not found
    const SPackageEntry* entry = nullptr;
};

// A name found in a package or, where no package answers, in a zip archive.
struct ArchiveMatch {
    SPackage* package = nullptr;
    const SPackageEntry* entry = nullptr;
    SZipArchive* zip = nullptr;
    const SZipEntry* zipEntry = nullptr;
};

// Calls `visit` with the path of every open package, under the registry's
// lock (the watch notes them when watching starts).
void VisitOpenPackagePaths(void (*visit)(const wchar_t* path, void* context), void* context);

// Finds the package and the entry of a file name. Deep: the package of the
// deepest directory that has one; shallow: the package of the first
// directory. A name absent from the index is retried with one hexadecimal
// digit appended, "0" to "f".
PackageMatch FindPackageEntry(const wchar_t* fileName, bool deep);

// The same search with zip archives too (when `zips`): wherever a directory
// has no package, `<dir>.zip` is tried after `<dir>.pkg`; a package wins
// when both exist. The directory's archive answers alone, as a package
// does: a name it lacks is not looked for in shallower directories. A name
// asked again reads its settled answer (SettledNames.h).
ArchiveMatch FindArchiveEntry(const wchar_t* fileName, bool deep, bool zips);
// The search itself, every directory's answer asked in turn: what
// FindArchiveEntry does for a name the first two times it is asked.
ArchiveMatch SearchArchiveEntry(const wchar_t* fileName, bool deep, bool zips);

enum class EPackageLoad {
    Loaded,
    NotAPackage, // a wrong header, or an index it cannot hold: for good
    NoMemory,    // memory ran out on the way: a later open may succeed
};

// Fills a package record whose path, patch and reader (owner included) are
// set and that holds nothing else yet: maps the file read-only when it has
// one, reads the header and the index, then takes the mode. Unless Loaded,
// ReleasePackage gives back what it holds. Throws std::bad_alloc too, which
// is NoMemory.
EPackageLoad LoadPackage(SPackage& package, bool keepMapped);

// Closes the package's handle and gives back its mapping or private buffer.
void ReleasePackage(SPackage& package);

// The entry of an inner name in one package, with the digit fallback.
const SPackageEntry* FindEntryByName(const SPackage& package, const wchar_t* innerName);

// Opens a handle of the caller's own on the package's file (the package's
// handle is the loading thread's), with the package as the reader's owner.
// False, holding nothing, when the package has a file but its name no longer
// opens it or opens another one: the file was deleted or replaced since the
// package was opened, and its index would read the wrong bytes. A package
// that exists only as a patch gets an owner without a handle.
bool OpenPackageFileAgain(SFileReader& reader, const SPackage& package);

// Reads a whole packaged file, entry.size bytes, into `out`, in either mode,
// patched and descrambled. Bytes the package does not hold start as zeros
// (and so read as key bytes in a scrambled package, as a short read of one
// does). A private-mode package is read through a handle of its own; false
// when that cannot be had (see OpenPackageFileAgain), `out` then all zeros
// past the resident part.
bool ReadPackageEntry(const SPackage& package, const SPackageEntry& entry, unsigned char* out);

// Reads the package file's bytes [offset, offset + n) into `out` through a
// handle of this read's own, patched and descrambled; bytes the package does
// not hold read as zeros before descrambling. False, `out` untouched, when
// no handle of its own can be had.
bool ReadPackageRange(const SPackage& package, std::uint32_t offset, std::uint32_t n,
                      unsigned char* out);

// Reads the package's bytes [offset, offset + n) into `destination` from its
// mapping when it has one, else through its own reader, patched and
// descrambled; returns the bytes the package held. (While the header and the
// index are read the scrambled flag is still clear.)
std::uint32_t ReadPackageBytes(SPackage& package, unsigned char* destination, std::uint32_t offset,
                               std::uint32_t n);

// Where an entry at `offset` starts in the package's mapping; null when the
// offset lies beyond it.
const unsigned char* MappedEntryData(const SPackage& package, std::uint32_t offset);

// Switches between mapped and private mode; false when the switch could not be
// made (no mapping possible, or no memory for the private buffer), leaving
// the package in its mode.
bool SwitchMapped(SPackage& package, bool mapped);

// Copies the package's bytes [offset, offset + n) into `destination`: those the
// mapping holds, then the patch, then descrambling. Bytes beyond the mapping
// are left as they were.
void CopyFromPackage(const SPackage& package, unsigned char* destination, std::uint32_t offset,
                     std::uint32_t n);

// True when the entry's bytes [offset + from, offset + to) lie inside the
// package's mapping, so they may be read from the view in place.
bool EntryInsideMapping(const SPackage& package, const SPackageEntry& entry, std::uint32_t from,
                        std::uint32_t to);

// What a package really holds: its reader's effective size.
std::uint32_t PackageExtent(const SPackage& package);

} // namespace detail
} // namespace Orvex

#endif // ORVEX_FILE_DETAIL_PACKAGE_H
