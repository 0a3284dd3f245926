// The records of packages and patches shared by the file manager, the loading
// thread and file objects, and the constants of the package file format.
//
// Package file (integers little-endian):
//   header, 16 bytes at offset 0: magic "pckg", scrambled flag (1 byte),
//     3 unused bytes, entry count, index offset;
//   index: `count` entries of 20 bytes at the index offset: key, resident
//     size, offset, size, 4 unused bytes;
//   file data anywhere else, XOR-scrambled when the flag is set.
#ifndef ORVEX_FILE_DETAIL_PACKAGETYPES_H
#define ORVEX_FILE_DETAIL_PACKAGETYPES_H

#include "OrvexCommon/file/detail/PackageIndex.h"
#include "OrvexCommon/memory/OrvexMemory.h"

#include <cstdint>
#include <cstdio>

namespace Orvex {
namespace detail {

constexpr std::uint32_t kPackageMagic = 0x676B6370; // "pckg"
constexpr std::uint32_t kPackageHeaderSize = 16;
constexpr std::uint32_t kPackageEntrySize = 20;
// Every pooled buffer carries this many spare bytes past what it holds.
constexpr std::uint32_t kSpareBytes = 4;
// Largest pooled buffer, spare bytes included: sizes stay below 2 GiB.
constexpr std::uint64_t kMaxPooledBuffer = 0x7FFFFFFFu;

inline std::uint32_t ReadLittleEndian32(const unsigned char* bytes) {
    return static_cast<std::uint32_t>(bytes[0]) | (static_cast<std::uint32_t>(bytes[1]) << 8) |
           (static_cast<std::uint32_t>(bytes[2]) << 16) |
           (static_cast<std::uint32_t>(bytes[3]) << 24);
}

inline void WriteLittleEndian32(unsigned char* bytes, std::uint32_t value) {
    for (int i = 0; i < 4; ++i) {
        bytes[i] = static_cast<unsigned char>(value >> (8 * i));
    }
}

// One chunk of a patch: `length` bytes that replace the file's bytes from
// `offset` on.
struct SPatchChunk {
    std::uint32_t length;
    std::uint32_t offset;
};

// The patch layer of one path. Chunk i's bytes are blob[blobOffsets[i] ...].
struct SFilePatch {
    std::int32_t sizeOverride = -1; // -1: the file's own length
    TOrvexVector<SPatchChunk> chunks;
    TOrvexVector<std::uint32_t> blobOffsets;
    TOrvexVector<unsigned char> blob;
};

struct SPackage;

// Reads a loose file or a package file through the runtime's streams, with the
// owner's patch laid over what it reads.
struct SFileReader {
    std::uint32_t size = 0; // the file's length
    std::uint32_t position = 0;
    std::FILE* handle = nullptr;
    SPackage* owner = nullptr; // the package whose patch applies, or null
};

struct SPackageEntry {
    // The file's first byte: in the mapping (mapped mode; null when the
    // offset lies beyond it) or in the private buffer, which holds only the
    // resident part.
    const unsigned char* data = nullptr;
    std::uint32_t residentSize = 0; // never above size
    std::uint32_t offset = 0;
    std::uint32_t size = 0;
};

struct SPackage {
    const SFilePatch* patch = nullptr;
    bool scrambled = false;
    bool mapped = false;
    TPackageIndex<SPackageEntry> index; // iterated in key order
    SFileReader reader;
    unsigned char* dataBase = nullptr; // the mapping, the private buffer, or null
    unsigned mappedSize = 0;
    std::uint64_t residentTotal = 0; // 64 bits: a hostile index must not wrap it
    OrvexWString path;
};

} // namespace detail
} // namespace Orvex

#endif // ORVEX_FILE_DETAIL_PACKAGETYPES_H
