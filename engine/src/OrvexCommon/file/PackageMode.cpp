// Switching a package between mapped and private mode.
#include "OrvexCommon/file/detail/Package.h"
#include "OrvexCommon/file/detail/PooledBytes.h"
#include "OrvexCommon/filesystem/OrvexFilesystem.h"

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
        entry.data = MappedEntryData(package, entry.offset);
    }
    return true;
}

bool SwitchToPrivate(SPackage& package) {
    if (!FitsPooledBuffer(package.residentTotal)) {
        return false;
    }
    // Parts that the package does not hold in full read as zeros.
    PooledBytes pooled(static_cast<std::uint32_t>(package.residentTotal), /*zeroed=*/true);
    unsigned char* buffer = pooled.release();
    if (buffer == nullptr) {
        return false;
    }
    std::size_t position = 0;
    for (auto& item : package.index) {
        SPackageEntry& entry = item.second;
        ReadPackageBytes(package, buffer + position, entry.offset, entry.residentSize);
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
