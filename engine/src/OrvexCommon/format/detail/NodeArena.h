// Memory for the entries of one configuration file object.
#ifndef ORVEX_FORMAT_DETAIL_NODEARENA_H
#define ORVEX_FORMAT_DETAIL_NODEARENA_H

#include "OrvexCommon/memory/OrvexMemory.h"

#include <cstddef>

namespace Orvex {
namespace detail {

// Hands out blocks from chunks of 64 KiB taken from the pooled allocator and
// gives the chunks back all at once (the object's Clear, Close and Release).
// A configuration's entries are only ever added, never erased one by one
// (the API never erases a single key; the content is only cleared as a
// whole), so giving a single entry back can be a no-op: adding a key then
// costs a pointer bump instead of a pooled allocation, and clearing costs one
// release per chunk instead of one per entry.
class NodeArena {
public:
    NodeArena() = default;
    ~NodeArena() { Reset(); }
    NodeArena(const NodeArena&) = delete;
    NodeArena& operator=(const NodeArena&) = delete;

    // `bytes` rounded up to 8-byte alignment; throws std::bad_alloc when the
    // pool has no chunk to give.
    void* Allocate(std::size_t bytes);
    // Gives every chunk back: everything allocated is gone.
    void Reset();

private:
    struct Chunk {
        Chunk* next;
    };
    Chunk* m_chunks = nullptr;
    unsigned char* m_cursor = nullptr;
    std::size_t m_left = 0;
};

// A standard-library allocator over a NodeArena; without an arena (default
// constructed) it allocates and frees each block in the pool.
template <typename T> class TArenaAllocator {
public:
    typedef T value_type;

    TArenaAllocator() noexcept = default;
    explicit TArenaAllocator(NodeArena* arena) noexcept : m_arena(arena) {}
    template <typename U>
    TArenaAllocator(const TArenaAllocator<U>& other) noexcept : m_arena(other.arena()) {}

    T* allocate(std::size_t count) {
        if (m_arena != nullptr) {
            return static_cast<T*>(m_arena->Allocate(count * sizeof(T)));
        }
        return TOrvexAllocator<T>().allocate(count);
    }
    void deallocate(T* block, std::size_t count) noexcept {
        if (m_arena == nullptr) {
            TOrvexAllocator<T>().deallocate(block, count);
        }
    }

    NodeArena* arena() const noexcept { return m_arena; }
    template <typename U> bool operator==(const TArenaAllocator<U>& other) const noexcept {
        return m_arena == other.arena();
    }
    template <typename U> bool operator!=(const TArenaAllocator<U>& other) const noexcept {
        return m_arena != other.arena();
    }

private:
    NodeArena* m_arena = nullptr;
};

} // namespace detail
} // namespace Orvex

#endif // ORVEX_FORMAT_DETAIL_NODEARENA_H
