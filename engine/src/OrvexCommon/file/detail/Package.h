// Packages: the process-wide registry of open packages, opening, lookups of
// file names, the two modes and copies out of a mapping.
//
// A package is opened once and stays open for the rest of the process, in
// mapped mode (the whole file mapped, reads copy from the view) or private
// mode (the files' resident parts copied into one buffer, the rest read
// through the package's own file handle). A path that failed to open as a
// package is never tried again; one that failed for want of memory is.
//
// Every read of a package is bounded by what it really holds: reads through
// its reader stop at the file's length or the patch's size override, copies
// from its mapping at the mapping's end. A hostile header or index fails the
// open; entries that point past the end read short.
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

struct PackageMatch {
    SPackage* package = nullptr; // null: not found
    const SPackageEntry* entry = nullptr;
};

// Finds the package and the entry of a file name. Deep: the package of the
// deepest directory that has one; shallow: the package of the first
// directory. A name absent from the index is retried with one hexadecimal
// digit appended, "0" to "f".
PackageMatch FindPackageEntry(const wchar_t* fileName, bool deep);

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
