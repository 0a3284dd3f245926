// Writing a variant's payload into its block.
#include "OrvexCommon/objects/detail/VarientStore.h"
#include "OrvexCommon/memory/OrvexMemory.h"

#include <cstring>
#include <cwchar>
#include <new>

namespace Orvex {
namespace detail {

unsigned char* VarientStore::NewBlock(unsigned bytes) {
    void* block = OrvexAlloc(bytes);
    if (block == nullptr) {
        throw std::bad_alloc();
    }
    return static_cast<unsigned char*>(block);
}

void VarientStore::Write(CVarient& variant, EVarientType type, const void* head, unsigned headBytes,
                         const void* body, unsigned long long bodyBytes) {
    const unsigned long long total = headBytes + bodyBytes;
    if (total > 0xFFFFFFFFull) {
        throw std::bad_alloc();
    }
    const unsigned size = static_cast<unsigned>(total);
    unsigned char* block = variant.m_data;
    if (variant.m_capacity < size) {
        block = NewBlock(size);
    }
    // memmove: the body may be the variant's own payload (self-assignment, a
    // piece of its own text), possibly at the very place it is copied to.
    if (bodyBytes != 0) {
        std::memmove(block + headBytes, body, static_cast<std::size_t>(bodyBytes));
    }
    if (headBytes != 0) {
        std::memcpy(block, head, headBytes);
    }
    if (block != variant.m_data) {
        OrvexFree(variant.m_data);
        variant.m_data = block;
        variant.m_capacity = size;
    }
    variant.m_size = size;
    variant.m_type = type;
}

unsigned long long VarientStore::TextBytes(const wchar_t* text) {
    const unsigned long long units = std::wcslen(OrEmpty(text)) + 1ull;
    return units * sizeof(wchar_t);
}

} // namespace detail
} // namespace Orvex
