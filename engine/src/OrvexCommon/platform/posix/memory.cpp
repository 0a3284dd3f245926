// Regions of virtual memory on POSIX: anonymous mappings, over-allocated by
// the alignment and trimmed to an aligned start.
#include "OrvexCommon/platform/OrvexSys.h"

#include <cstdint>
#include <sys/mman.h>

namespace Orvex {
namespace sys {

void* ObtainRegion(std::size_t size, std::size_t alignment) {
    if (RefuseMemoryRequest()) {
        return nullptr;
    }
    const std::size_t mapped = size + alignment;
    void* raw = mmap(nullptr, mapped, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (raw == MAP_FAILED) {
        return nullptr;
    }
    const std::uintptr_t start = reinterpret_cast<std::uintptr_t>(raw);
    const std::uintptr_t aligned = (start + alignment - 1) & ~(alignment - 1);
    const std::size_t head = aligned - start;
    const std::size_t tail = mapped - head - size;
    if (head != 0) {
        munmap(raw, head);
    }
    if (tail != 0) {
        munmap(reinterpret_cast<void*>(aligned + size), tail);
    }
    return reinterpret_cast<void*>(aligned);
}

void ReturnRegion(void* start, std::size_t size) {
    munmap(start, size);
}

void PurgeRegion(void* start, std::size_t size) {
    madvise(start, size, MADV_DONTNEED);
}

} // namespace sys
} // namespace Orvex
