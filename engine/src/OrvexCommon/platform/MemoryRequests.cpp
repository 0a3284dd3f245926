// Heap blocks and the memory-fault counter every memory request consults.
#include "OrvexCommon/platform/OrvexSys.h"

#include <cstdlib>

namespace Orvex {
namespace sys {

namespace detail {

std::atomic<bool> g_memoryFaultsOn{false};

namespace {
std::atomic<std::uint64_t> g_requestsCounted{0};
std::atomic<std::uint64_t> g_failAt{0};
} // namespace

bool CountMemoryRequest() {
    const std::uint64_t number = g_requestsCounted.fetch_add(1, std::memory_order_relaxed) + 1;
    return number == g_failAt.load(std::memory_order_relaxed);
}

} // namespace detail

void BeginMemoryFaults(std::uint64_t failAt) {
    detail::g_requestsCounted.store(0, std::memory_order_relaxed);
    detail::g_failAt.store(failAt, std::memory_order_relaxed);
    detail::g_memoryFaultsOn.store(true, std::memory_order_seq_cst);
}

std::uint64_t EndMemoryFaults() {
    detail::g_memoryFaultsOn.store(false, std::memory_order_seq_cst);
    return detail::g_requestsCounted.load(std::memory_order_relaxed);
}

// The C runtime's heap takes locks of its own: a forced end waits until the
// call is over.
void* AllocateBlock(std::size_t size) {
    if (RefuseMemoryRequest()) {
        return nullptr;
    }
    HoldEndBack();
    void* block = std::malloc(size);
    AllowEnd();
    return block;
}

void* AllocateZeroedBlock(std::size_t size) {
    if (RefuseMemoryRequest()) {
        return nullptr;
    }
    HoldEndBack();
    void* block = std::calloc(1, size);
    AllowEnd();
    return block;
}

void FreeBlock(void* block) {
    HoldEndBack();
    std::free(block);
    AllowEnd();
}

} // namespace sys
} // namespace Orvex
