// Pooled byte buffers with the spare bytes every buffer of the subsystem
// carries, and the limit on their size.
#ifndef ORVEX_FILE_DETAIL_POOLEDBYTES_H
#define ORVEX_FILE_DETAIL_POOLEDBYTES_H

#include "OrvexCommon/file/detail/PackageTypes.h"

#include <cstring>

namespace Orvex {
namespace detail {

// True when `bytes` plus the spare bytes stay below 2 GiB.
inline bool FitsPooledBuffer(std::uint64_t bytes) {
    return bytes + kSpareBytes <= kMaxPooledBuffer;
}

// A buffer of `size` bytes plus spare bytes from the pool, zero-filled when
// asked, given back when it goes out of scope; get() is null when the pool has
// none. The caller checks FitsPooledBuffer first.
class PooledBytes {
public:
    PooledBytes() = default;
    explicit PooledBytes(std::uint32_t size, bool zeroed = false) { (void)Allocate(size, zeroed); }
    ~PooledBytes() { OrvexFree(m_bytes); }
    PooledBytes(const PooledBytes&) = delete;
    PooledBytes& operator=(const PooledBytes&) = delete;

    // Gives back what the object held and takes a new buffer; false when the
    // pool has none.
    bool Allocate(std::uint32_t size, bool zeroed = false) {
        OrvexFree(m_bytes);
        m_bytes = static_cast<unsigned char*>(OrvexAlloc(size + kSpareBytes));
        if (zeroed && m_bytes != nullptr) {
            std::memset(m_bytes, 0, size + kSpareBytes);
        }
        return m_bytes != nullptr;
    }

    unsigned char* get() const { return m_bytes; }
    // Hands the buffer over: the caller gives it back with OrvexFree.
    unsigned char* release() {
        unsigned char* bytes = m_bytes;
        m_bytes = nullptr;
        return bytes;
    }

private:
    unsigned char* m_bytes = nullptr;
};

} // namespace detail
} // namespace Orvex

#endif // ORVEX_FILE_DETAIL_POOLEDBYTES_H
