// Patch files: the chunks that turn one file's bytes into another's, as the
// file manager's SetFilePatch takes them, behind a small header.
//
// Patch file (integers little-endian):
//   magic "ptch" (4 bytes), size override (int32, -1 for none), chunk count
//   (uint32), then the chunk block: per chunk its length (uint32), its offset
//   (uint32) and that many bytes, in ascending offset order without overlap.
#ifndef ORVEX_TOOLS_ORVEXPACK_PATCHFILE_H
#define ORVEX_TOOLS_ORVEXPACK_PATCHFILE_H

#include "ToolSupport.h"

#include <cstdint>
#include <string>

namespace OrvexPack {

constexpr std::uint32_t kPatchFileMagic = 0x68637470; // "ptch"
constexpr std::size_t kPatchFileHeaderSize = 12;
// Runs of differing bytes at most this many equal bytes apart share a chunk:
// a chunk of its own would cost its 8-byte length and offset.
constexpr std::size_t kPatchMergeGap = 8;

struct PatchData {
    std::int32_t sizeOverride = -1;
    std::uint32_t count = 0;
    Bytes block; // the chunks as SetFilePatch takes them
};

// The chunks that turn `original` into `modified`: every run of bytes that
// differ (bytes beyond the original's end always do), runs merged across
// short gaps; the size override is the modified length when the lengths
// differ. Fails for files too long for 32-bit offsets.
PatchData DiffFiles(const Bytes& original, const Bytes& modified);

Bytes EncodePatchFile(const PatchData& patch);

// Parses and checks a patch file's bytes: magic, size override, every chunk
// complete, in ascending order without overlap, no bytes left over. Fails
// with a message naming `displayName` and what is wrong.
PatchData DecodePatchFile(const Bytes& bytes, const std::string& displayName);

// Registers the patch with the file manager for exactly this package path
// (before the package is first opened).
void RegisterPatch(const fs::path& packagePath, const PatchData& patch);

} // namespace OrvexPack

#endif // ORVEX_TOOLS_ORVEXPACK_PATCHFILE_H
