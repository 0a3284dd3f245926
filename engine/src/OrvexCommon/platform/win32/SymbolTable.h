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

// Makes the module loaded at `base` known: its symbol table is read from its
// image file, and its functions sorted by address, when FindFunctionName
// first needs them. A stripped image, or one whose file no longer matches the
// loaded image, has no functions. Callers serialise all calls of this header.
void NoteModule(std::uintptr_t base);

// Writes the name of the function that contains `address`, as the symbol
// table spells it without the platform's decorations (the leading
// underscore and the "@bytes" suffix of 32-bit x86), zero-terminated and cut
// to `capacity` (not 0). False when no module made known covers `address`
// with a function.
bool FindFunctionName(std::uintptr_t address, char* name, std::size_t capacity);

// The base of the module made known whose image holds `address`; 0 when none.
std::uintptr_t ModuleHolding(std::uintptr_t address);

// Forgets every module read.
void ForgetModules();

} // namespace coff
} // namespace sys
} // namespace Orvex

#endif // ORVEX_PLATFORM_WIN32_SYMBOLTABLE_H
