// The process-wide registry of mapped views: for each base address handed
// out, the handles to close when it is given back.
#ifndef ORVEX_FORMAT_DETAIL_MEMORYMAPREGISTRY_H
#define ORVEX_FORMAT_DETAIL_MEMORYMAPREGISTRY_H

#include "OrvexCommon/memory/OrvexMemory.h"

namespace Orvex {
namespace detail {

// Platform handles of one view, opaque outside the platform layer.
struct MappedViewHandles {
    void* file;
    void* mapping;
};

// Built empty at load and guarded by the memory-map lock; emptied at unload
// without unmapping anything. Its nodes come from the pooled allocator, which
// building it creates.
struct MemoryMapRegistry {
    MemoryMapRegistry();
    ~MemoryMapRegistry();
    MemoryMapRegistry(const MemoryMapRegistry&) = delete;
    MemoryMapRegistry& operator=(const MemoryMapRegistry&) = delete;

    TOrvexMap<void*, MappedViewHandles> views;
};

} // namespace detail
} // namespace Orvex

#endif // ORVEX_FORMAT_DETAIL_MEMORYMAPREGISTRY_H
