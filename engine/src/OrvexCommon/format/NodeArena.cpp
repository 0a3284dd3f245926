// Chunked node memory for configuration files.
#include "OrvexCommon/format/detail/NodeArena.h"
#include "OrvexCommon/memory/OrvexMemory.h"

namespace Orvex {
namespace detail {

namespace {

// About 340 key nodes per chunk on 64-bit targets.
constexpr std::size_t kChunkBytes = 64 * 1024;
constexpr std::size_t kAlignment = 8;
// The chunk's link, kept 8-byte aligned in front of its blocks.
constexpr std::size_t kLinkBytes = 8;

} // namespace

void* NodeArena::Allocate(std::size_t bytes) {
    bytes = (bytes + kAlignment - 1) & ~(kAlignment - 1);
    if (bytes > m_left) {
        const std::size_t size =
            bytes > kChunkBytes - kLinkBytes ? bytes + kLinkBytes : kChunkBytes;
        unsigned char* memory = TOrvexAllocator<unsigned char>().allocate(size);
        Chunk* chunk = reinterpret_cast<Chunk*>(memory);
        chunk->next = m_chunks;
        m_chunks = chunk;
        m_cursor = memory + kLinkBytes;
        m_left = size - kLinkBytes;
    }
    void* block = m_cursor;
    m_cursor += bytes;
    m_left -= bytes;
    return block;
}

void NodeArena::Reset() {
    while (m_chunks != nullptr) {
        Chunk* next = m_chunks->next;
        OrvexFree(m_chunks);
        m_chunks = next;
    }
    m_cursor = nullptr;
    m_left = 0;
}

} // namespace detail
} // namespace Orvex
