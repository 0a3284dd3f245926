// Patches: parsing a patch block and laying its chunks over file bytes.
#ifndef ORVEX_FILE_DETAIL_PATCH_H
#define ORVEX_FILE_DETAIL_PATCH_H

#include "OrvexCommon/file/detail/PackageTypes.h"

#include <cstddef>

namespace Orvex {
namespace detail {

// Reads `count` chunks from `data` into `patch` (replacing its chunks and its
// blob; the size override is the caller's). Each chunk is a 32-bit
// little-endian length, a 32-bit little-endian offset and `length` bytes.
// `available` bounds the bytes that may be read: when the chunks need more,
// nothing is changed and -1 is returned. Otherwise returns the bytes read.
std::int64_t ParsePatchChunks(SFilePatch& patch, std::uint32_t count, const void* data,
                              std::size_t available);

// Overlays the chunks on `buffer`, which holds the file's bytes
// [start, start + length).
void ApplyPatch(const SFilePatch& patch, unsigned char* buffer, std::uint32_t start,
                std::uint32_t length);

// True when the file range [start, start + length) touches a chunk, judged
// from the chunk at or below `start` and the one after it. A null patch
// touches nothing.
bool PatchTouches(const SFilePatch* patch, std::uint32_t start, std::uint32_t length);

} // namespace detail
} // namespace Orvex

#endif // ORVEX_FILE_DETAIL_PATCH_H
