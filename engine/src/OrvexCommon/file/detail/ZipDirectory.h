// The central directory of a zip archive, read once when the archive opens.
//
// The reader trusts nothing it reads. The end record is looked for in the
// last 65 557 bytes; a ZIP64 end record (found through its locator) supplies
// the counts, size and offset that do not fit the classic record. The
// directory must lie whole before the end record, its records must follow
// one another exactly, and it must hold as many records as the end record
// says. An archive split over several disks is refused whole.
//
// Records that fail a check are left out of the index, counted by the reason
// (the archive itself still opens):
//   - methods other than stored (0) and deflated (8);
//   - encrypted entries (flag bit 0, or bit 6, strong encryption);
//   - names that are empty, hold a zero byte, invalid UTF-8 (when flag bit
//     11 says UTF-8; other names are UTF-8 when well-formed, else code page
//     437), a `..` segment, or
//     start at the root (`/`, `\`, or a drive such as `C:`);
//   - entries whose local header would not lie before the directory.
// Names ending in `/` are folders and are skipped without counting.
//
// Each kept entry is indexed under the package key of its name (`/` and `\`
// alike, A-Z folded, NameKey.h), so a name finds the same file in a zip as in
// a package built from the same tree; a record whose key a later record has
// too is hidden by it (counted as shadowed). Entry sizes and offsets are
// 64-bit.
#ifndef ORVEX_FILE_DETAIL_ZIPDIRECTORY_H
#define ORVEX_FILE_DETAIL_ZIPDIRECTORY_H

#include "OrvexCommon/file/detail/PackageIndex.h"
#include "OrvexCommon/memory/OrvexMemory.h"

#include <cstddef>
#include <cstdint>

namespace Orvex {
namespace detail {

constexpr std::uint16_t kZipStored = 0;
constexpr std::uint16_t kZipDeflated = 8;
constexpr std::uint16_t kZipFlagEncrypted = 0x0001;
constexpr std::uint16_t kZipFlagDataDescriptor = 0x0008;
constexpr std::uint16_t kZipFlagStrongEncryption = 0x0040;
constexpr std::uint16_t kZipFlagUtf8 = 0x0800;

// The archive's bytes, read at any offset. Reads never reach past the size
// the archive was opened with.
class IZipBytes {
public:
    // Reads [offset, offset + n) into `out`; false when it cannot.
    virtual bool Read(std::uint64_t offset, std::size_t n, unsigned char* out) = 0;

protected:
    ~IZipBytes() = default;
};

struct SZipEntry {
    std::uint64_t headerOffset = 0; // the local header
    std::uint64_t compressedSize = 0;
    std::uint64_t size = 0;
    std::uint32_t crc = 0;
    std::uint16_t method = kZipStored;
    std::uint16_t flags = 0;
    std::uint32_t nameOffset = 0; // the name's raw bytes in SZipDirectory::names
    std::uint16_t nameLength = 0;
};

// Why records were left out.
struct SZipRefusals {
    unsigned methods = 0;
    std::uint16_t firstMethod = 0; // the first refused method, for the log line
    unsigned encrypted = 0;
    unsigned names = 0;
    unsigned placement = 0;
    unsigned shadowed = 0; // a later record has the same key (names alike but for case or '\\')
};

struct SZipDirectory {
    TPackageIndex<SZipEntry> index;
    TOrvexVector<char> names;          // every kept entry's raw name bytes
    std::uint64_t directoryOffset = 0; // no entry's bytes may reach it
    SZipRefusals refused;
};

enum class EZipOpen {
    kOpened,
    kNotZip,     // no end record
    kMalformed,  // an end record, but the directory does not hold together
    kMultiDisk,  // split over several disks
    kReadFailed, // the bytes could not be read
    kNoMemory,
};

// Reads the directory of an archive of `archiveSize` bytes into `directory`
// (whose index is replaced). Throws nothing: without memory the answer is
// kNoMemory.
EZipOpen ReadZipDirectory(IZipBytes& bytes, std::uint64_t archiveSize, SZipDirectory& directory);

// Reads the 64-bit values of a ZIP64 extra field (id 1) from a record's or a
// local header's extra bytes: those whose 32-bit fields are all ones, in the
// field's order (size, compressed size, header offset). False when the field
// is missing or too short for them; true at once when none is wanted.
bool ReadZip64Fields(const unsigned char* extra, std::size_t extraSize, SZipEntry& entry,
                     bool wideSize, bool wideCompressed, bool wideOffset);

// The entry's name as wide text: UTF-8 when the entry's flag says so; without
// the flag, UTF-8 when the bytes are well-formed UTF-8 (tools that write
// UTF-8 without the flag are common) and code page 437 otherwise. A code
// point beyond 16 bits becomes a surrogate pair where wchar_t has 16 bits.
// False (and `name` empty) for invalid UTF-8 under the flag or a zero byte.
bool DecodeZipName(const char* bytes, std::size_t length, bool utf8, OrvexWString& name);

// True for a name that stays inside the archive's folder: not empty, no `..`
// segment, not starting at the root or with a drive.
bool IsSafeZipName(const OrvexWString& name);

} // namespace detail
} // namespace Orvex

#endif // ORVEX_FILE_DETAIL_ZIPDIRECTORY_H
