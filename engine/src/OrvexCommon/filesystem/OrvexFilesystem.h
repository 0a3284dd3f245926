// File-system helpers: the path manager (paths, directory walks, directory
// creation) and memory-mapped files.
#ifndef ORVEX_FILESYSTEM_ORVEXFILESYSTEM_H
#define ORVEX_FILESYSTEM_ORVEXFILESYSTEM_H

#include "OrvexCommon/base/OrvexExport.h"
#include "OrvexCommon/filesystem/OrvexPathMgr.h"

namespace Orvex {

// Memory-mapped files: OrvexMemoryMap probes the file and, for a non-zero
// size, grows it with the runtime's stream functions; sys::MapFileView then
// opens it, makes the mapping and maps `size` bytes of it, and the
// sys::MappedFile record is kept in the load-time registry
// (detail/MemoryMapRegistry.h) under the view's address. Windows names the
// mapping object (detail/MappingName.h) so that views share one object across
// processes; when that object cannot serve a request the view gets an unnamed
// object of its own, which shares the file's pages all the same, so every
// request Linux serves is served and all views see each other's writes. Linux
// maps MAP_SHARED, which shares the pages the same way, and refuses a file
// that has become shorter than `size` (touching the view would raise SIGBUS).

// Maps a file into memory and returns the view's base address, or null.
// `size` 0 asks for the whole file (an existing, non-empty one); a non-zero
// size first grows a missing or shorter file to `size` bytes with zeros and
// maps its first `size` bytes. On return `size` holds the bytes mapped.
// `readOnly` false gives a view that may be written: writes reach the file and
// every other view of it, in this process and in others. Each call gives a
// view of its own, to be given back with OrvexMemoryUnMap. Only a regular
// file is mapped or created: a directory, a FIFO, a device or a link that
// leads nowhere gives null and is never opened (the file gate in
// platform/OrvexSys.h).
ORVEX_API void* OrvexMemoryMap(const wchar_t* fileName, unsigned& size, bool readOnly);

// Unmaps a view from OrvexMemoryMap and closes its handles. An address that is
// not a live view is ignored.
ORVEX_API void OrvexMemoryUnMap(void* address);

// Does nothing: views are written back by the operating system.
ORVEX_API void OrvexMemoryMapSyn(void* address, unsigned size, bool flag);

} // namespace Orvex

#endif // ORVEX_FILESYSTEM_ORVEXFILESYSTEM_H
