// Switching a package between mapped and private mode.
#include "OrvexCommon/file/detail/FileReader.h"
#include "OrvexCommon/file/detail/Package.h"
#include "OrvexCommon/file/detail/Scramble.h"
#include "OrvexCommon/format/OrvexFormat.h"

#include <cstring>

namespace Orvex {
namespace detail {

namespace {

bool SwitchToMapped(SPackage& package) {
    unsigned size = 0;
    // Read-only like the first mapping: the library never writes a package,
    // and a package file the process may only read can then be mapped too.
    auto* view = static_cast<unsigned char*>(OrvexMemoryMap(package.path.c_str(), size, true));
    if (view == nullptr) {
        return false;
    }
    OrvexFree(package.dataBase);
    package.dataBase = view;
    package.mappedSize = size;
    package.mapped = true;
    for (auto& item : package.index) {
        SPackageEntry& entry = item.second;
        entry.data = entry.offset <= size ? view + entry.offset : nullptr;
    }
    return true;
}

// Fills one entry's resident part at `target` from the mapping or the reader,
// patched and descrambled.
void FillResidentPart(SPackage& package, const SPackageEntry& entry, unsigned char* target) {
    if (package.dataBase != nullptr) {
        CopyFromPackage(package, target, entry.offset, entry.residentSize);
        return;
    }
    MoveTo(package.reader, entry.offset);
    (void)ReadFrom(package.reader, target, entry.residentSize);
    if (package.scrambled) {
        Descramble(target, entry.offset, entry.residentSize);
    }
}

bool SwitchToPrivate(SPackage& package) {
    if (package.residentTotal + kSpareBytes > kMaxPooledBuffer) {
        return false;
    }
    const auto bufferSize = static_cast<unsigned>(package.residentTotal + kSpareBytes);
    auto* buffer = static_cast<unsigned char*>(OrvexAlloc(bufferSize));
    if (buffer == nullptr) {
        return false;
    }
    // Parts that the package does not hold in full read as zeros.
    std::memset(buffer, 0, bufferSize);
    std::size_t position = 0;
    for (auto& item : package.index) {
        SPackageEntry& entry = item.second;
        FillResidentPart(package, entry, buffer + position);
        entry.data = buffer + position;
        position += entry.residentSize;
    }
    if (package.dataBase != nullptr) {
        OrvexMemoryUnMap(package.dataBase);
    }
    package.dataBase = buffer;
    package.mappedSize = 0;
    package.mapped = false;
    return true;
}

} // namespace

bool SwitchMapped(SPackage& package, bool mapped) {
    if (mapped == package.mapped) {
        return true;
    }
    return mapped ? SwitchToMapped(package) : SwitchToPrivate(package);
}

} // namespace detail
} // namespace Orvex
