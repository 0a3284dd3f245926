// Symbols on Windows: the COFF symbol tables of the loaded images first, which
// give every function its full mangled name (SymbolTable.h), then dbghelp for
// modules without one (system libraries name their exports there). dbghelp
// is initialised once for this process without loading module symbols. Both
// learn of modules when a lookup first misses, dbghelp only of those where a
// lookup reaches it: loading a module into it costs milliseconds each, and
// most names come from the COFF tables.
#include "OrvexCommon/platform/OrvexSys.h"
#include "OrvexCommon/platform/win32/SymbolTable.h"
#include "OrvexCommon/platform/win32/WindowsHeaders.h"

#include <dbghelp.h>

#include <cstring>
#include <string>
#include <vector>

namespace Orvex {
namespace sys {
namespace {

constexpr std::size_t kMaxNameLength = 1024;

// SYMBOL_INFO followed by room for the longest name it may report.
struct SSymbolRecord {
    SYMBOL_INFO info;
    char room[kMaxNameLength];
};

struct SModuleWalk {
    ModuleVisitor visit;
    void* context;
};

// A module made known whose image dbghelp has not loaded yet.
struct SDeferredModule {
    std::uint64_t base;
    std::string imageName;
};

// Made on first use, given back by ReleaseSymbolHandler (no destructor at
// exit, whose order against the teardown is that of the translation units).
std::vector<SDeferredModule>* g_deferred = nullptr;

// Loads the image holding `address` into dbghelp if it was made known and
// not loaded yet.
void LoadDeferredModule(const void* address) {
    const std::uint64_t base = coff::ModuleHolding(reinterpret_cast<std::uintptr_t>(address));
    if (g_deferred == nullptr) {
        return;
    }
    std::vector<SDeferredModule>& deferred = *g_deferred;
    for (std::size_t index = 0; index < deferred.size(); ++index) {
        if (deferred[index].base == base) {
            const char* image = deferred[index].imageName.c_str();
            SymLoadModule64(GetCurrentProcess(), nullptr, image, image, base, 0);
            deferred.erase(deferred.begin() + static_cast<std::ptrdiff_t>(index));
            return;
        }
    }
}

// The enumeration may report a module by its short name ("kernel32"), which
// the symbol handler cannot open; the loader knows the image's path.
BOOL CALLBACK VisitModule(PCSTR moduleName, DWORD64 moduleBase, ULONG, PVOID walk) {
    const SModuleWalk& modules = *static_cast<SModuleWalk*>(walk);
    char path[MAX_PATH];
    const HMODULE module = reinterpret_cast<HMODULE>(static_cast<DWORD_PTR>(moduleBase));
    const DWORD length = GetModuleFileNameA(module, path, sizeof(path));
    const char* image = length > 0 && length < sizeof(path) ? path
                        : moduleName != nullptr             ? moduleName
                                                            : "";
    modules.visit(moduleBase, image, modules.context);
    return TRUE; // every module, whatever happened to the last one
}

} // namespace

void InitializeSymbolHandler() {
    // A module's debugging information is read only when a lookup needs it.
    SymSetOptions(SymGetOptions() | SYMOPT_DEFERRED_LOADS);
    SymInitialize(GetCurrentProcess(), nullptr, FALSE);
}

// Each SymInitialize takes resources that only SymCleanup gives back; a DLL
// loaded and unloaded again and again would otherwise run out of them.
void ReleaseSymbolHandler() {
    coff::ForgetModules();
    delete g_deferred;
    g_deferred = nullptr;
    SymCleanup(GetCurrentProcess());
}

bool FindSymbolName(const void* address, char* name, std::size_t capacity) {
    if (coff::FindFunctionName(reinterpret_cast<std::uintptr_t>(address), name, capacity)) {
        return true;
    }
    LoadDeferredModule(address);
    SSymbolRecord record;
    ZeroMemory(&record, sizeof(record));
    record.info.SizeOfStruct = sizeof(SYMBOL_INFO);
    record.info.MaxNameLen = kMaxNameLength;
    DWORD64 displacement = 0;
    if (!SymFromAddr(GetCurrentProcess(), reinterpret_cast<DWORD64>(address), &displacement,
                     &record.info)) {
        return false;
    }
    const std::size_t length = strnlen(record.info.Name, kMaxNameLength);
    const std::size_t kept = length < capacity ? length : capacity - 1;
    std::memcpy(name, record.info.Name, kept);
    name[kept] = '\0';
    return true;
}

bool EnumerateModules(ModuleVisitor visit, void* context) {
    SModuleWalk walk{visit, context};
    return EnumerateLoadedModules64(GetCurrentProcess(), VisitModule, &walk) != FALSE;
}

void LoadModuleSymbols(std::uint64_t base, const char* imageName) {
    coff::NoteModule(static_cast<std::uintptr_t>(base));
    if (g_deferred == nullptr) {
        g_deferred = new std::vector<SDeferredModule>();
    }
    g_deferred->push_back({base, imageName});
}

int LastErrorCode() {
    return static_cast<int>(GetLastError());
}

} // namespace sys
} // namespace Orvex
