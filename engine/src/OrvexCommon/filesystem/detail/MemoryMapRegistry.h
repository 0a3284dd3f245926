// The process-wide registry of mapped views: for each base address handed
// out, the record to unmap and close when it is given back.
#ifndef ORVEX_FILESYSTEM_DETAIL_MEMORYMAPREGISTRY_H
#define ORVEX_FILESYSTEM_DETAIL_MEMORYMAPREGISTRY_H

#include "OrvexCommon/memory/OrvexMemory.h"
#include "OrvexCommon/platform/OrvexSys.h"

namespace Orvex {
namespace detail {

// Built empty at load and guarded by the memory-map lock; emptied at unload
// without unmapping anything. Its nodes come from the pooled allocator, which
// building it creates. Each view has an entry of its own, keyed by the view's
// address: two maps of one file are two entries (no reference counts). Only
// the map's insert, lookup and erase run under the memory-map lock.
struct MemoryMapRegistry {
    MemoryMapRegistry();
    ~MemoryMapRegistry();
    MemoryMapRegistry(const MemoryMapRegistry&) = delete;
    MemoryMapRegistry& operator=(const MemoryMapRegistry&) = delete;

    TOrvexMap<void*, sys::MappedFile> views;
};

// Both are built at load by the library frame, the lock first.
sys::RecursiveLock* MemoryMapLock();
MemoryMapRegistry& GetMemoryMapRegistry();

} // namespace detail
} // namespace Orvex

#endif // ORVEX_FILESYSTEM_DETAIL_MEMORYMAPREGISTRY_H
