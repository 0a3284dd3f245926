// The stack printers: one line per address with the function's name.
#include "OrvexCommon/diag/OrvexStack.h"

#include <cinttypes>
#include <cstdint>
#include <ios>
#include <ostream>

namespace Orvex {
namespace {

constexpr unsigned kNameBuffer = 1024;
constexpr unsigned short kMostPrintedFrames = 1024;

// The name of the function containing `address`; empty when none is known.
void NameOf(void* address, char (&name)[kNameBuffer]) {
    name[0] = '\0';
    DebugAddress2Symbol(address, name, kNameBuffer - 1);
    name[kNameBuffer - 1] = '\0';
}

} // namespace

__attribute__((noinline)) unsigned PrintStack(unsigned short count, int line,
                                              std::ostream& stream) {
    if (count > kMostPrintedFrames) {
        count = kMostPrintedFrames;
    }
    // Frame 2 of the walk is this function, so skip 2 starts at the return
    // address into its caller.
    void* addresses[kMostPrintedFrames];
    const unsigned stored = GetStack(addresses, 2, static_cast<unsigned short>(count + 2));
    // A stack shorter than `count` ends the list, instead of leaving the
    // printer to read what the walk never wrote.
    if (stored < count) {
        addresses[stored] = nullptr;
    }
    return PrintStack(addresses, count, line, stream);
}

unsigned PrintStack(void** addresses, unsigned count, int line, std::ostream& stream) {
    stream.setf(std::ios_base::showbase);
    for (unsigned i = 0; i < count && addresses[i] != nullptr; ++i) {
        char name[kNameBuffer];
        NameOf(addresses[i], name);
        char digits[2 * sizeof(void*) + 1];
        std::snprintf(digits, sizeof(digits), "%08" PRIXPTR,
                      reinterpret_cast<std::uintptr_t>(addresses[i]));
        stream << name << "()[" << digits << "]";
        if (i == 0) {
            stream << ":" << std::dec << line;
        }
        stream << std::endl;
    }
    stream.unsetf(std::ios_base::showbase);
    stream.setf(std::ios_base::dec, std::ios_base::basefield);
    return count;
}

unsigned PrintStack2File(void** addresses, unsigned count, std::FILE* file) {
    for (unsigned i = 0; i < count && addresses[i] != nullptr; ++i) {
        char name[kNameBuffer];
        NameOf(addresses[i], name);
        std::fprintf(file, "%s()[0x%08" PRIxPTR "]\n", name,
                     reinterpret_cast<std::uintptr_t>(addresses[i]));
    }
    std::fputs("\n\n\n", file);
    return count;
}

} // namespace Orvex
