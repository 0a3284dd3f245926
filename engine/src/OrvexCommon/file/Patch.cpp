// Patch blocks and the overlay of their chunks.
#include "OrvexCommon/file/detail/Patch.h"

#include <algorithm>
#include <cstring>

namespace Orvex {
namespace detail {

namespace {

// Index of the last chunk whose offset is at or below `position`; 0 when none
// is (the first chunk then stands in for it).
std::size_t ChunkAtOrBelow(const SFilePatch& patch, std::uint32_t position) {
    const auto after = std::upper_bound(
        patch.chunks.begin(), patch.chunks.end(), position,
        [](std::uint32_t value, const SPatchChunk& chunk) { return value < chunk.offset; });
    if (after == patch.chunks.begin()) {
        return 0;
    }
    return static_cast<std::size_t>(after - patch.chunks.begin()) - 1;
}

std::uint64_t ChunkEnd(const SPatchChunk& chunk) {
    return static_cast<std::uint64_t>(chunk.offset) + chunk.length;
}

} // namespace

std::int64_t ParsePatchChunks(SFilePatch& patch, std::uint32_t count, const void* data,
                              std::size_t available) {
    const unsigned char* bytes = static_cast<const unsigned char*>(data);
    // First pass: measure, so that a block that runs short changes nothing.
    std::size_t consumed = 0;
    for (std::uint32_t i = 0; i < count; ++i) {
        if (available - consumed < 8) {
            return -1;
        }
        const std::uint32_t length = ReadLittleEndian32(bytes + consumed);
        consumed += 8;
        if (available - consumed < length) {
            return -1;
        }
        consumed += length;
    }
    TOrvexVector<SPatchChunk> chunks(count);
    TOrvexVector<std::uint32_t> blobOffsets(count);
    TOrvexVector<unsigned char> blob;
    blob.reserve(consumed - static_cast<std::size_t>(count) * 8);
    std::size_t position = 0;
    for (std::uint32_t i = 0; i < count; ++i) {
        chunks[i].length = ReadLittleEndian32(bytes + position);
        chunks[i].offset = ReadLittleEndian32(bytes + position + 4);
        position += 8;
        blobOffsets[i] = static_cast<std::uint32_t>(blob.size());
        blob.insert(blob.end(), bytes + position, bytes + position + chunks[i].length);
        position += chunks[i].length;
    }
    patch.chunks.swap(chunks);
    patch.blobOffsets.swap(blobOffsets);
    patch.blob.swap(blob);
    return static_cast<std::int64_t>(consumed);
}

void ApplyPatch(const SFilePatch& patch, unsigned char* buffer, std::uint32_t start,
                std::uint32_t length) {
    const std::uint64_t end = static_cast<std::uint64_t>(start) + length;
    for (std::size_t i = ChunkAtOrBelow(patch, start);
         i < patch.chunks.size() && patch.chunks[i].offset < end; ++i) {
        const SPatchChunk& chunk = patch.chunks[i];
        const std::uint64_t from = std::max<std::uint64_t>(chunk.offset, start);
        const std::uint64_t to = std::min(ChunkEnd(chunk), end);
        if (from < to) {
            std::memcpy(buffer + (from - start),
                        patch.blob.data() + patch.blobOffsets[i] + (from - chunk.offset),
                        static_cast<std::size_t>(to - from));
        }
    }
}

bool PatchTouches(const SFilePatch* patch, std::uint32_t start, std::uint32_t length) {
    if (patch == nullptr || patch->chunks.empty()) {
        return false;
    }
    const std::uint64_t end = static_cast<std::uint64_t>(start) + length;
    const std::size_t k = ChunkAtOrBelow(*patch, start);
    if (ChunkEnd(patch->chunks[k]) > start) {
        return true;
    }
    return k + 1 < patch->chunks.size() && patch->chunks[k + 1].offset < end;
}

} // namespace detail
} // namespace Orvex
