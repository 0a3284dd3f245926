// Files already in memory as a source of the file manager.
#include "OrvexCommon/file/detail/MemorySource.h"

#include <cstring>

namespace Orvex {
namespace detail {

namespace {
// What an empty file points at: no byte is ever read through it.
const unsigned char kNoBytes = 0;
} // namespace

void CMemorySource::Attach(const unsigned char* bytes, std::uint32_t size,
                           SSourceFile& file) const {
    file.source = this;
    file.base = 0;
    file.size = size;
    file.memory = size == 0 ? &kNoBytes : bytes;
}

bool CMemorySource::ReadRange(SSourceFile& file, std::uint32_t from, std::uint32_t n,
                              unsigned char* out) const {
    if (n > 0) {
        std::memcpy(out, file.memory + from, n);
    }
    return true;
}

void CMemorySource::Duplicate(const SSourceFile& file, SSourceFile& copy) const {
    Attach(file.memory, file.size, copy);
}

} // namespace detail
} // namespace Orvex
