// Turns a symbol name as a module's symbol table spells it into the form the
// stack printers show.
#ifndef ORVEX_DIAG_DETAIL_SYMBOLNAME_H
#define ORVEX_DIAG_DETAIL_SYMBOLNAME_H

#include <string>

namespace Orvex {
namespace detail {

// A symbol version ("@@GLIBC_2.34") is dropped. A mangled C++ name ("_ZN5Orvex8GetStackEPPvtt", on
// 32-bit Windows also with one more leading underscore) becomes its qualified name without
// parameter list, qualifiers, return type or clone suffix ("Orvex::GetStack");
// any other name is returned unchanged.
std::string ReadableSymbolName(const char* raw);

// The demangled form without what follows the name itself: clone suffixes
// (" [clone .cold]"), ABI tags ("[abi:cxx11]"), the parameter list with its qualifiers and, for a
// function template, the return type in front.
std::string StripSignature(const std::string& demangled);

} // namespace detail
} // namespace Orvex

#endif // ORVEX_DIAG_DETAIL_SYMBOLNAME_H
