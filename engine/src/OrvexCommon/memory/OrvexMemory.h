// The library's pooled allocator and the containers built on it.
//
// Requests up to 1036 bytes are served from 130 size classes of fixed-size
// units (8 to 1040 bytes, 4 of them the block's header) cut from 8 KiB pages;
// larger ones from the C runtime heap. Every address handed out is 8-byte
// aligned. Release needs no size; releasing null, a block released before, or
// an address that did not come from here is ignored. The manager counts the
// bytes handed out and, when the library is unloaded with any outstanding,
// prints "Process ID: <pid> may be <bytes> byte memory leak!!!".
#ifndef ORVEX_MEMORY_ORVEXMEMORY_H
#define ORVEX_MEMORY_ORVEXMEMORY_H

#include "OrvexCommon/base/OrvexExport.h"
#include "OrvexCommon/memory/OrvexList.h"

#include <cstddef>
#include <functional>
#include <map>
#include <new>
#include <set>
#include <string>
#include <utility>
#include <vector>

// ---- The allocator (global scope) ----

// A block of at least `size` bytes, or null (for 0x7FFFFFFB bytes and more,
// or when memory runs out). The second argument is ignored.
ORVEX_API void* OrvexAlloc(unsigned int size, void* ignored = nullptr);
ORVEX_API void OrvexFree(void* block);

// Bytes handed out and not yet released: headers included, each pool block at
// its full unit size. A snapshot taken without locking.
ORVEX_API long long GetTotalAllocSize();
// 8192 x the pages the 130 classes own.
ORVEX_API long long GetTotalMgrSize();
// Free bytes of the classes' pages (headers and page tails included) plus the
// pages held in reserve.
ORVEX_API long long GetFreeMgrSize();
// Allocation call stacks are not recorded: always false, writes nothing.
ORVEX_API bool GetAllocStack(unsigned int index, void*& stack, unsigned int& depth);

namespace Orvex {

// A standard-library allocator over OrvexAlloc and OrvexFree. It throws
// std::bad_alloc instead of handing a container a null block.
template <typename T> class TOrvexAllocator {
public:
    typedef T value_type;

    TOrvexAllocator() noexcept = default;
    template <typename U> TOrvexAllocator(const TOrvexAllocator<U>&) noexcept {}

    T* allocate(std::size_t count) {
        if (count != 0 && 0xFFFFFFFFu / count < sizeof(T)) {
            throw std::bad_alloc();
        }
        void* block = OrvexAlloc(static_cast<unsigned int>(count * sizeof(T)));
        if (block == nullptr) {
            throw std::bad_alloc();
        }
        return static_cast<T*>(block);
    }

    void deallocate(T* block, std::size_t) noexcept { OrvexFree(block); }

    template <typename U> bool operator==(const TOrvexAllocator<U>&) const noexcept { return true; }
    template <typename U> bool operator!=(const TOrvexAllocator<U>&) const noexcept {
        return false;
    }
};

typedef std::basic_string<char, std::char_traits<char>, TOrvexAllocator<char>> OrvexString;
typedef std::basic_string<wchar_t, std::char_traits<wchar_t>, TOrvexAllocator<wchar_t>>
    OrvexWString;
template <typename T> using TOrvexVector = std::vector<T, TOrvexAllocator<T>>;
template <typename K, typename V, typename Less = std::less<K>>
using TOrvexMap = std::map<K, V, Less, TOrvexAllocator<std::pair<const K, V>>>;
template <typename K, typename Less = std::less<K>>
using TOrvexSet = std::set<K, Less, TOrvexAllocator<K>>;

// Base of the objects the library creates and destroys: their memory comes
// from the pool, so that a deleting destructor gives it back there. The
// host's global operator new and delete are left alone.
class COrvexPoolObject {
public:
    static void* operator new(std::size_t size) { return Allocate(size); }
    static void* operator new[](std::size_t size) { return Allocate(size); }
    static void* operator new(std::size_t, void* place) noexcept { return place; }
    static void operator delete(void* block) noexcept { OrvexFree(block); }
    static void operator delete[](void* block) noexcept { OrvexFree(block); }
    static void operator delete(void*, void*) noexcept {}

private:
    static void* Allocate(std::size_t size) {
        return TOrvexAllocator<unsigned char>().allocate(size);
    }
};

// Objects that factories hand out behind an interface: built in pooled
// memory (null when the pool has none) and destroyed by their Release. A class
// with a private constructor and destructor befriends both.
template <typename T> T* NewPooledObject() {
    void* memory = OrvexAlloc(sizeof(T));
    return memory == nullptr ? nullptr : new (memory) T();
}

template <typename T> void DeletePooledObject(T* object) {
    object->~T();
    OrvexFree(object);
}

} // namespace Orvex

#endif // ORVEX_MEMORY_ORVEXMEMORY_H
