// Function names from the COFF symbol tables of loaded PE modules. The image
// headers are read where the loader mapped them; the symbol table, which the
// loader does not map, from the image file, after checking that the file's
// header is the loaded one. Every count and offset read from the file is
// bounded by the bytes really read.
#include "OrvexCommon/platform/win32/SymbolTable.h"
#include "OrvexCommon/platform/win32/WindowsHeaders.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

namespace Orvex {
namespace sys {
namespace coff {
namespace {

// One function: its address relative to the image base, where the next
// function (or its section) begins, and where its name starts in the pool.
struct SFunction {
    std::uint32_t start;
    std::uint32_t end;
    std::uint32_t name;
};

struct SModule {
    std::uintptr_t base;
    std::uint32_t imageSize;
    bool read; // the functions below were read
    std::vector<SFunction> functions;
    std::string names; // zero-terminated names, one after the other
};

// Made on first use and given back by ForgetModules: no destructor of its own
// runs at exit, where its order against the library's teardown (which calls
// ForgetModules) would be that of the translation units.
std::vector<SModule>* g_modules = nullptr;

std::vector<SModule>& Modules() {
    if (g_modules == nullptr) {
        g_modules = new std::vector<SModule>();
    }
    return *g_modules;
}

// Far more than any real image carries (a large one has a few megabytes).
constexpr std::uint64_t kMaxTablesSize = std::uint64_t(1) << 30;

// The loaded image's headers; null when `base` does not hold a PE image.
const IMAGE_NT_HEADERS* LoadedHeaders(std::uintptr_t base) {
    const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
    if (dos->e_magic != IMAGE_DOS_SIGNATURE || dos->e_lfanew <= 0) {
        return nullptr;
    }
    const auto* headers = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
    return headers->Signature == IMAGE_NT_SIGNATURE ? headers : nullptr;
}

bool ReadAt(HANDLE file, std::uint64_t offset, void* buffer, std::uint32_t size) {
    LARGE_INTEGER position;
    position.QuadPart = static_cast<LONGLONG>(offset);
    DWORD got = 0;
    return SetFilePointerEx(file, position, nullptr, FILE_BEGIN) &&
           ReadFile(file, buffer, size, &got, nullptr) && got == size;
}

HANDLE OpenImageFile(std::uintptr_t base) {
    std::vector<wchar_t> path(32768);
    const DWORD length = GetModuleFileNameW(reinterpret_cast<HMODULE>(base), path.data(),
                                            static_cast<DWORD>(path.size()));
    if (length == 0 || length >= path.size()) {
        return INVALID_HANDLE_VALUE;
    }
    return CreateFileW(path.data(), GENERIC_READ,
                       FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                       OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
}

// The file's symbol table records followed by its string table (whose first
// four bytes give its own size); empty when the file is not the loaded image
// or the tables do not lie inside it.
std::vector<unsigned char> ReadSymbolTables(HANDLE file, const IMAGE_NT_HEADERS& loaded) {
    const IMAGE_FILE_HEADER& header = loaded.FileHeader;
    LARGE_INTEGER fileSize;
    IMAGE_DOS_HEADER dos;
    IMAGE_FILE_HEADER onDisk;
    if (!GetFileSizeEx(file, &fileSize) || !ReadAt(file, 0, &dos, sizeof(dos)) ||
        dos.e_lfanew <= 0 || !ReadAt(file, dos.e_lfanew + 4u, &onDisk, sizeof(onDisk)) ||
        std::memcmp(&onDisk, &header, sizeof(onDisk)) != 0) {
        return {};
    }
    const std::uint64_t records = std::uint64_t(header.NumberOfSymbols) * IMAGE_SIZEOF_SYMBOL;
    const std::uint64_t stringsAt = header.PointerToSymbolTable + records;
    const std::uint64_t size = static_cast<std::uint64_t>(fileSize.QuadPart);
    std::uint32_t stringsSize = 0;
    if (header.PointerToSymbolTable == 0 || stringsAt + 4 > size ||
        !ReadAt(file, stringsAt, &stringsSize, 4) || stringsSize < 4 ||
        stringsAt + stringsSize > size || records + stringsSize > kMaxTablesSize) {
        return {};
    }
    std::vector<unsigned char> tables(records + stringsSize);
    if (!ReadAt(file, header.PointerToSymbolTable, tables.data(),
                static_cast<std::uint32_t>(tables.size()))) {
        return {};
    }
    return tables;
}

// A symbol's name, which lies in the record when it has eight bytes or fewer
// and in the string table otherwise; empty when it points outside the table.
std::string NameOf(const IMAGE_SYMBOL& symbol, const unsigned char* strings,
                   std::uint32_t stringsSize) {
    if (symbol.N.Name.Short != 0) {
        const char* inRecord = reinterpret_cast<const char*>(symbol.N.ShortName);
        return std::string(inRecord, strnlen(inRecord, sizeof(symbol.N.ShortName)));
    }
    const std::uint32_t offset = symbol.N.Name.Long;
    if (offset < 4 || offset >= stringsSize) {
        return std::string();
    }
    const char* text = reinterpret_cast<const char*>(strings + offset);
    return std::string(text, strnlen(text, stringsSize - offset));
}

// 32-bit x86 names carry a leading underscore, and __stdcall ones the size of
// their arguments after an '@'.
void Undecorate(std::string& name) {
    if (name.size() < 2 || name[0] != '_') {
        return;
    }
    name.erase(0, 1);
    const std::size_t at = name.rfind('@');
    if (at != std::string::npos && at + 1 < name.size() &&
        name.find_first_not_of("0123456789", at + 1) == std::string::npos) {
        name.erase(at);
    }
}

bool IsCode(const IMAGE_SECTION_HEADER& section) {
    return (section.Characteristics & (IMAGE_SCN_CNT_CODE | IMAGE_SCN_MEM_EXECUTE)) != 0;
}

// Collects the functions of code sections; each one's end is, for now, the
// end of its section.
void CollectFunctions(const IMAGE_NT_HEADERS& loaded, const std::vector<unsigned char>& tables,
                      SModule& module) {
    if (tables.empty()) {
        return;
    }
    const IMAGE_FILE_HEADER& header = loaded.FileHeader;
    const IMAGE_SECTION_HEADER* sections = IMAGE_FIRST_SECTION(&loaded);
    const unsigned char* strings = tables.data() + header.NumberOfSymbols * IMAGE_SIZEOF_SYMBOL;
    const std::uint32_t stringsSize =
        static_cast<std::uint32_t>(tables.data() + tables.size() - strings);
    const bool decorated = header.Machine == IMAGE_FILE_MACHINE_I386;
    for (DWORD index = 0; index < header.NumberOfSymbols; ++index) {
        IMAGE_SYMBOL symbol;
        std::memcpy(&symbol, tables.data() + index * IMAGE_SIZEOF_SYMBOL, sizeof(symbol));
        const int number = symbol.SectionNumber;
        index += symbol.NumberOfAuxSymbols;
        if (number < 1 || number > header.NumberOfSections || !ISFCN(symbol.Type) ||
            (symbol.StorageClass != IMAGE_SYM_CLASS_EXTERNAL &&
             symbol.StorageClass != IMAGE_SYM_CLASS_STATIC)) {
            continue;
        }
        const IMAGE_SECTION_HEADER& section = sections[number - 1];
        std::string name = NameOf(symbol, strings, stringsSize);
        if (!IsCode(section) || symbol.Value >= section.Misc.VirtualSize || name.empty()) {
            continue;
        }
        if (decorated) {
            Undecorate(name);
        }
        module.functions.push_back({section.VirtualAddress + symbol.Value,
                                    section.VirtualAddress + section.Misc.VirtualSize,
                                    static_cast<std::uint32_t>(module.names.size())});
        module.names.append(name).push_back('\0');
    }
}

// Sorts by address and ends each function where the next one starts.
void OrderFunctions(std::vector<SFunction>& functions) {
    std::stable_sort(functions.begin(), functions.end(),
                     [](const SFunction& a, const SFunction& b) { return a.start < b.start; });
    for (std::size_t index = 0; index + 1 < functions.size(); ++index) {
        const std::uint32_t next = functions[index + 1].start;
        if (next > functions[index].start && next < functions[index].end) {
            functions[index].end = next;
        }
    }
}

SModule* ModuleContaining(std::uintptr_t address) {
    if (g_modules == nullptr) {
        return nullptr;
    }
    for (SModule& module : *g_modules) {
        if (address >= module.base && address - module.base < module.imageSize) {
            return &module;
        }
    }
    return nullptr;
}

// Whether the module made known at `base` is still loaded there: one that
// was unloaded since must not be read.
bool IsStillLoaded(std::uintptr_t base) {
    HMODULE module = nullptr;
    const DWORD flags =
        GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT;
    return GetModuleHandleExW(flags, reinterpret_cast<LPCWSTR>(base), &module) &&
           reinterpret_cast<std::uintptr_t>(module) == base;
}

void ReadFunctions(SModule& module) {
    module.read = true;
    if (!IsStillLoaded(module.base)) {
        return;
    }
    const IMAGE_NT_HEADERS& loaded = *LoadedHeaders(module.base);
    if (loaded.FileHeader.PointerToSymbolTable == 0 || loaded.FileHeader.NumberOfSymbols == 0) {
        return; // stripped
    }
    const HANDLE file = OpenImageFile(module.base);
    if (file != INVALID_HANDLE_VALUE) {
        CollectFunctions(loaded, ReadSymbolTables(file, loaded), module);
        CloseHandle(file);
    }
    OrderFunctions(module.functions);
}

} // namespace

void NoteModule(std::uintptr_t base) {
    const IMAGE_NT_HEADERS* loaded = base != 0 ? LoadedHeaders(base) : nullptr;
    if (loaded != nullptr && ModuleContaining(base) == nullptr) {
        Modules().push_back({base, loaded->OptionalHeader.SizeOfImage, false, {}, {}});
    }
}

bool FindFunctionName(std::uintptr_t address, char* name, std::size_t capacity) {
    SModule* module = ModuleContaining(address);
    if (module == nullptr) {
        return false;
    }
    if (!module->read) {
        ReadFunctions(*module);
    }
    const std::uint32_t offset = static_cast<std::uint32_t>(address - module->base);
    const auto after = std::upper_bound(
        module->functions.begin(), module->functions.end(), offset,
        [](std::uint32_t value, const SFunction& function) { return value < function.start; });
    if (after == module->functions.begin() || offset >= (after - 1)->end) {
        return false;
    }
    const char* found = module->names.c_str() + (after - 1)->name;
    const std::size_t length = std::strlen(found);
    const std::size_t kept = length < capacity ? length : capacity - 1;
    std::memcpy(name, found, kept);
    name[kept] = '\0';
    return true;
}

std::uintptr_t ModuleHolding(std::uintptr_t address) {
    const SModule* module = ModuleContaining(address);
    return module != nullptr ? module->base : 0;
}

void ForgetModules() {
    delete g_modules;
    g_modules = nullptr;
}

} // namespace coff
} // namespace sys
} // namespace Orvex
