// Regions of virtual memory on Windows: reserved and committed in one call,
// placed top-down. Allocation granularity (64 KiB) covers every alignment
// the library asks for.
#include "OrvexCommon/platform/OrvexSys.h"
#include "OrvexCommon/platform/win32/WindowsHeaders.h"

#include <cstdint>

namespace Orvex {
namespace sys {

void* ObtainRegion(std::size_t size, std::size_t alignment) {
    if (RefuseMemoryRequest()) {
        return nullptr;
    }
    void* region =
        VirtualAlloc(nullptr, size, MEM_RESERVE | MEM_COMMIT | MEM_TOP_DOWN, PAGE_READWRITE);
    if (region != nullptr && (reinterpret_cast<std::uintptr_t>(region) & (alignment - 1)) != 0) {
        VirtualFree(region, 0, MEM_RELEASE);
        return nullptr;
    }
    return region;
}

void ReturnRegion(void* start, std::size_t) {
    VirtualFree(start, 0, MEM_RELEASE);
}

// The pages stay committed (a late read of them must not fault); the reset
// lets the system drop them without writing them out, and unlocking pages
// that were never locked takes them out of the working set at once.
void PurgeRegion(void* start, std::size_t size) {
    VirtualAlloc(start, size, MEM_RESET, PAGE_READWRITE);
    VirtualUnlock(start, size);
}

} // namespace sys
} // namespace Orvex
