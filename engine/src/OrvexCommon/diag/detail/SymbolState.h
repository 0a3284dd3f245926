// The module list of the platform's symbol handler: the modules made known
// to it so far, filled by the symbol lookups.
//
// Windows names functions from the COFF symbol table that the GNU linker
// leaves in every image it does not strip (platform/win32/SymbolTable.h), so
// names carry their namespace and class as on Linux
// ("Orvex::CTickMgr::Update"); dbghelp answers for modules without a table
// (the system's). A module's table is read from its file when a lookup first
// falls in it, after checking that the file's header is the loaded one, every
// count and offset bounded by the bytes read; dbghelp loads a module (with
// deferred debug information) only when a lookup reaches it there. The
// Windows targets are built with DWARF 4, the newest version Wine's
// debugging-help library reads. Linux names functions with elfutils' libdwfl
// from the objects' full symbol tables, so functions that are not exported
// have names too; each module's functions are sorted once into a table
// searched by address (libdwfl's own lookup walks the whole table).
//
// Modules are made known lazily on both: a lookup that misses enumerates the
// loaded modules (EnumerateLoadedModules64, dl_iterate_phdr), loads those
// whose base is not yet in the array below (grown by 32) and tries once more.
// Windows asks the loader for each module's path, since the enumeration may
// report a short name only. All use of the symbol handler is serialised by
// the state's lock. Names are shown as detail/SymbolName.h makes them.
#ifndef ORVEX_DIAG_DETAIL_SYMBOLSTATE_H
#define ORVEX_DIAG_DETAIL_SYMBOLSTATE_H

#include "OrvexCommon/platform/OrvexSys.h"

#include <cstdint>

namespace Orvex {
namespace detail {

// Trivially constructible, so it is readable before and after its lifetime:
// its lock is null then, and lookups find nothing. The array is a heap block.
struct SSymbolState {
    sys::RecursiveLock* lock;
    unsigned moduleCount;
    unsigned moduleCapacity;
    std::uint64_t* moduleBases;
};

// The state, created empty on first use after the allocator manager (which
// sets up the platform's symbol handler) and given back at unload before it,
// so that unloading and loading the library again loses no storage.
SSymbolState& SymbolState();

} // namespace detail
} // namespace Orvex

#endif // ORVEX_DIAG_DETAIL_SYMBOLSTATE_H
