// Function names from the COFF symbol tables of loaded PE modules.
//
// The GNU toolchain keeps a COFF symbol table in every image it links unless
// told to strip it: the mangled name of every function, static ones
// included. Windows' debugging-help library reads program databases, not
// that table, so it names only the exported functions of such an image and
// without their namespace and class. These tables give the full mangled name
// of every function on every Windows, real or emulated.
#ifndef ORVEX_PLATFORM_WIN32_SYMBOLTABLE_H
#define ORVEX_PLATFORM_WIN32_SYMBOLTABLE_H

#include <cstddef>
#include <cstdint>

namespace Orvex {
namespace sys {
namespace coff {

// Reads the symbol table of the module loaded at `base` from its image file
// and keeps its functions, sorted by address, for FindFunctionName. A module
// already read, a stripped image or one whose file no longer matches the
// loaded image is left alone. Callers serialise all calls of this header.
void ReadModuleFunctions(std::uintptr_t base);

// Writes the name of the function that contains `address`, as the symbol
// table spells it without the platform's decorations (the leading
// underscore and the "@bytes" suffix of 32-bit x86), zero-terminated and cut
// to `capacity` (not 0). False when no module read so far covers `address`
// with a function.
bool FindFunctionName(std::uintptr_t address, char* name, std::size_t capacity);

// Forgets every module read.
void ForgetModules();

} // namespace coff
} // namespace sys
} // namespace Orvex

#endif // ORVEX_PLATFORM_WIN32_SYMBOLTABLE_H
