// How a variant's payload is written into its block.
#ifndef ORVEX_OBJECTS_DETAIL_VARIENTSTORE_H
#define ORVEX_OBJECTS_DETAIL_VARIENTSTORE_H

#include "OrvexCommon/objects/OrvexVarient.h"

namespace Orvex {
namespace detail {

struct VarientStore {
    // The smallest block a variant holds: room for every 4-byte kind.
    static constexpr unsigned kMinBlock = 4;

    // A pooled block of `bytes`; throws std::bad_alloc rather than give null.
    static unsigned char* NewBlock(unsigned bytes);

    // Makes the payload `head` (headBytes) followed by `body` (bodyBytes) and
    // sets the type. The block is reused when it can hold them, else replaced
    // by one of exactly their size, allocated first and the old one released
    // only after the copy (with memmove), so that `body` may lie in it
    // (self-assignment, a piece of its own text). Throws std::bad_alloc,
    // changing nothing, when the payload exceeds 32 bits or the pool has no
    // block for it.
    static void Write(CVarient& variant, EVarientType type, const void* head, unsigned headBytes,
                      const void* body, unsigned long long bodyBytes);

    // Bytes of `text` with its terminator; null is the empty text.
    static unsigned long long TextBytes(const wchar_t* text);
    static const wchar_t* OrEmpty(const wchar_t* text) { return text != nullptr ? text : L""; }
};

} // namespace detail
} // namespace Orvex

#endif // ORVEX_OBJECTS_DETAIL_VARIENTSTORE_H
