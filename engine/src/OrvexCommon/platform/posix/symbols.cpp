// Symbols on POSIX: elfutils' libdwfl reads the ELF symbol tables of the
// loaded objects (separate debug files included when installed), so functions
// that are not exported are named too. Modules are reported to it when a
// lookup first misses, as on Windows.
#include "OrvexCommon/platform/OrvexSys.h"

#include <elfutils/libdwfl.h>
#include <link.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

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

// A module's functions sorted by address, built on the first lookup in the
// module: libdwfl's own search walks the whole symbol table on every lookup.
// The names belong to libdwfl and live as long as the module.
struct SFunctionSymbol {
    GElf_Addr start;
    GElf_Addr end;
    const char* name;
};

typedef std::vector<SFunctionSymbol> FunctionTable;

FunctionTable* BuildFunctionTable(Dwfl_Module* module) {
    auto* table = new FunctionTable();
    const int count = dwfl_module_getsymtab(module);
    for (int index = 1; index < count; ++index) {
        GElf_Sym symbol;
        GElf_Addr start = 0;
        const char* name =
            dwfl_module_getsym_info(module, index, &symbol, &start, nullptr, nullptr, nullptr);
        if (name != nullptr && name[0] != '\0' && GELF_ST_TYPE(symbol.st_info) == STT_FUNC &&
            symbol.st_size != 0) {
            table->push_back({start, start + symbol.st_size, name});
        }
    }
    std::sort(table->begin(), table->end(),
              [](const SFunctionSymbol& a, const SFunctionSymbol& b) { return a.start < b.start; });
    return table;
}

// The table hangs on the module's user-data slot; it is never released, as
// the symbol handler itself is kept to the end of the process.
const FunctionTable& FunctionsOf(Dwfl_Module* module) {
    void** userData = nullptr;
    dwfl_module_info(module, &userData, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr);
    if (*userData == nullptr) {
        *userData = BuildFunctionTable(module);
    }
    return *static_cast<FunctionTable*>(*userData);
}

const char* FunctionContaining(Dwfl_Module* module, GElf_Addr address) {
    const FunctionTable& functions = FunctionsOf(module);
    auto after = std::upper_bound(
        functions.begin(), functions.end(), address,
        [](GElf_Addr value, const SFunctionSymbol& function) { return value < function.start; });
    if (after != functions.begin() && address < (after - 1)->end) {
        return (after - 1)->name;
    }
    // Symbols without a size or type, which the table leaves out.
    GElf_Off offset = 0;
    GElf_Sym symbol;
    return dwfl_module_addrinfo(module, address, &offset, &symbol, nullptr, nullptr, nullptr);
}

int ReleaseFunctionTable(Dwfl_Module*, void** userData, const char*, Dwarf_Addr, void*) {
    delete static_cast<FunctionTable*>(*userData);
    *userData = nullptr;
    return DWARF_CB_OK;
}

} // namespace

void InitializeSymbolHandler() {
    g_symbols = dwfl_begin(&kCallbacks);
}

void ReleaseSymbolHandler() {
    if (g_symbols == nullptr) {
        return;
    }
    dwfl_getmodules(g_symbols, ReleaseFunctionTable, nullptr, 0);
    dwfl_end(g_symbols);
    g_symbols = nullptr;
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
    const char* found = FunctionContaining(module, where);
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
