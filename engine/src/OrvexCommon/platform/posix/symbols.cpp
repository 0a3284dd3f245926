// Symbols on POSIX: elfutils' libdwfl reads the ELF symbol tables of the
// loaded objects (separate debug files included when installed), so functions
// that are not exported are named too. Modules are reported to it when a
// lookup first misses, as on Windows.
#include "OrvexCommon/platform/OrvexSys.h"

#include <elfutils/libdwfl.h>
#include <link.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace Orvex {
namespace sys {
namespace {

Dwfl* g_symbols = nullptr;

const Dwfl_Callbacks kCallbacks = {
    dwfl_linux_proc_find_elf,
    dwfl_standard_find_debuginfo,
    nullptr,
    nullptr,
};

struct SModuleWalk {
    ModuleVisitor visit;
    void* context;
    char programPath[4096];
};

// The main program is reported without a name; its file is /proc/self/exe.
void ReadProgramPath(char* path, std::size_t capacity) {
    const ssize_t length = readlink("/proc/self/exe", path, capacity - 1);
    path[length > 0 ? length : 0] = '\0';
}

int VisitObject(dl_phdr_info* object, std::size_t, void* argument) {
    SModuleWalk& walk = *static_cast<SModuleWalk*>(argument);
    const char* image = object->dlpi_name;
    if (image == nullptr || image[0] == '\0') {
        image = walk.programPath;
    }
    // The load bias is where the object's address 0 lies: unique among the
    // loaded objects and what libdwfl places a shared object by.
    walk.visit(object->dlpi_addr, image, walk.context);
    return 0;
}

} // namespace

void InitializeSymbolHandler() {
    g_symbols = dwfl_begin(&kCallbacks);
}

bool FindSymbolName(const void* address, char* name, std::size_t capacity) {
    if (g_symbols == nullptr) {
        return false;
    }
    const Dwarf_Addr where = reinterpret_cast<Dwarf_Addr>(address);
    Dwfl_Module* module = dwfl_addrmodule(g_symbols, where);
    if (module == nullptr) {
        return false;
    }
    GElf_Off offset = 0;
    GElf_Sym symbol;
    const char* found =
        dwfl_module_addrinfo(module, where, &offset, &symbol, nullptr, nullptr, nullptr);
    if (found == nullptr) {
        return false;
    }
    const std::size_t length = std::strlen(found);
    const std::size_t kept = length < capacity ? length : capacity - 1;
    std::memcpy(name, found, kept);
    name[kept] = '\0';
    return true;
}

bool EnumerateModules(ModuleVisitor visit, void* context) {
    SModuleWalk walk;
    walk.visit = visit;
    walk.context = context;
    ReadProgramPath(walk.programPath, sizeof(walk.programPath));
    dl_iterate_phdr(VisitObject, &walk);
    return true;
}

void LoadModuleSymbols(std::uint64_t base, const char* imageName) {
    if (g_symbols == nullptr) {
        return;
    }
    dwfl_report_begin_add(g_symbols);
    // An object without a file (the kernel's vDSO) is refused here and stays
    // without names.
    dwfl_report_elf(g_symbols, imageName, imageName, -1, base, false);
    dwfl_report_end(g_symbols, nullptr, nullptr);
}

int LastErrorCode() {
    return errno;
}

} // namespace sys
} // namespace Orvex
