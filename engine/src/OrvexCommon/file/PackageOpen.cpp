// The package registry, opening a package and its two modes.
#include "OrvexCommon/base/detail/FrameJournal.h"
#include "OrvexCommon/file/detail/FileMgr.h"
#include "OrvexCommon/file/detail/FileReader.h"
#include "OrvexCommon/file/detail/Package.h"
#include "OrvexCommon/file/detail/Patch.h"
#include "OrvexCommon/file/detail/PooledBytes.h"
#include "OrvexCommon/file/detail/ReloadWatch.h"
#include "OrvexCommon/file/detail/Scramble.h"
#include "OrvexCommon/file/detail/SettledNames.h"
#include "OrvexCommon/file/detail/SettledPackages.h"
#include "OrvexCommon/filesystem/OrvexFilesystem.h"

#include <algorithm>
#include <cstring>
#include <functional>
#include <new>
#include <string_view>

namespace Orvex {
namespace detail {

namespace {

struct PackageRegistry {
    PackageRegistry() {
        // Packages point at patch records the manager owns and their handles
        // are used by its loading thread: the manager must exist first, so
        // that it is torn down after this registry.
        FileMgr();
        RecordFrameEvent(FrameEvent::Created, FrameObject::PackageRegistry);
    }
    ~PackageRegistry();
    PackageRegistry(const PackageRegistry&) = delete;
    PackageRegistry& operator=(const PackageRegistry&) = delete;

    // Guards the two containers; held for a whole open, so a package is never
    // seen half-built.
    sys::OwnedLock lock;
    // Transparent: looked up by the caller's text without building a string.
    TOrvexMap<OrvexWString, SPackage, std::less<>> packages;
    TOrvexSet<OrvexWString, std::less<>> failed;
    // Every entry of the two, as the spellings in their nodes, for lookups
    // without the lock.
    CSettledPackages settled;
};

PackageRegistry& Registry() {
    static PackageRegistry registry;
    return registry;
}

// Reads the index into the package: not a package when the header's index
// can never be held in memory or does not lie inside what the package holds.
EPackageLoad ReadIndex(SPackage& package, std::uint32_t count, std::uint32_t indexOffset) {
    const std::uint64_t indexBytes = static_cast<std::uint64_t>(count) * kPackageEntrySize;
    if (!FitsPooledBuffer(indexBytes) || indexOffset + indexBytes > PackageExtent(package)) {
        return EPackageLoad::NotAPackage;
    }
    const PooledBytes buffer(static_cast<std::uint32_t>(indexBytes), /*zeroed=*/true);
    const unsigned char* index = buffer.get();
    if (index == nullptr) {
        return EPackageLoad::NoMemory;
    }
    ReadPackageBytes(package, buffer.get(), indexOffset, static_cast<std::uint32_t>(indexBytes));
    TOrvexVector<TPackageIndex<SPackageEntry>::Item> items(count);
    for (std::uint32_t i = 0; i < count; ++i) {
        const unsigned char* record = index + static_cast<std::size_t>(i) * kPackageEntrySize;
        SPackageEntry entry;
        entry.size = ReadLittleEndian32(record + 12);
        // A resident part is the start of the file: never longer than it.
        entry.residentSize = std::min(ReadLittleEndian32(record + 4), entry.size);
        entry.offset = ReadLittleEndian32(record + 8);
        if (package.dataBase != nullptr) {
            entry.data = MappedEntryData(package, entry.offset);
        }
        items[i] = {ReadLittleEndian32(record), entry};
        package.residentTotal += entry.residentSize;
    }
    package.index.Assign(std::move(items));
    return EPackageLoad::Loaded;
}

// Remembers that the spelling is not a package. The insertion may throw,
// leaving the spelling open to a retry.
void RecordNotAPackage(PackageRegistry& registry, const OrvexWString& spelling) {
    const OrvexWString& kept = *registry.failed.insert(spelling).first;
    registry.settled.Publish(kept.c_str(), kept.size(), nullptr);
}

} // namespace

bool FindSettledPackage(const SSpelling& spelling, bool wantZip, SSettledAnswer& answer) {
    return Registry().settled.Find(spelling, wantZip, answer);
}

void SettleZipAnswer(const SSpelling& packageSpelling, SZipArchive* zip) {
    Registry().settled.SettleZip(packageSpelling, zip);
}

PackageRegistry::~PackageRegistry() {
    // The loading thread may be reading through a package's handle.
    FileMgr().StopLoadingThread();
    for (auto& item : packages) {
        ReleasePackage(item.second);
    }
    RecordFrameEvent(FrameEvent::TornDown, FrameObject::PackageRegistry);
}

EPackageLoad LoadPackage(SPackage& package, bool keepMapped) {
    if (package.reader.handle != nullptr) {
        package.mappedSize = 0;
        package.dataBase = static_cast<unsigned char*>(
            OrvexMemoryMap(package.path.c_str(), package.mappedSize, /*readOnly=*/true));
        package.mapped = package.dataBase != nullptr;
    }
    unsigned char header[kPackageHeaderSize] = {};
    if (PackageExtent(package) < kPackageHeaderSize ||
        ReadPackageBytes(package, header, 0, kPackageHeaderSize) < kPackageHeaderSize ||
        ReadLittleEndian32(header) != kPackageMagic) {
        return EPackageLoad::NotAPackage;
    }
    // The header is never scrambled; the flag only applies from here on.
    const EPackageLoad index =
        ReadIndex(package, ReadLittleEndian32(header + 8), ReadLittleEndian32(header + 12));
    if (index != EPackageLoad::Loaded) {
        return index;
    }
    package.scrambled = header[4] != 0;
    package.mapped = true;
    if (package.dataBase == nullptr || !keepMapped) {
        if (!FitsPooledBuffer(package.residentTotal)) {
            return EPackageLoad::NotAPackage; // its resident parts never fit
        }
        if (!SwitchMapped(package, false)) {
            return EPackageLoad::NoMemory;
        }
    }
    return EPackageLoad::Loaded;
}

void ReleasePackage(SPackage& package) {
    CloseReader(package.reader);
    if (package.dataBase == nullptr) {
        return;
    }
    if (package.mapped) {
        OrvexMemoryUnMap(package.dataBase);
    } else {
        OrvexFree(package.dataBase);
    }
    package.dataBase = nullptr;
    package.mappedSize = 0;
}

std::uint32_t ReadPackageBytes(SPackage& package, unsigned char* destination, std::uint32_t offset,
                               std::uint32_t n) {
    if (package.dataBase != nullptr) {
        CopyFromPackage(package, destination, offset, n);
        return n;
    }
    MoveTo(package.reader, offset);
    const std::int32_t taken = ReadFrom(package.reader, destination, n);
    if (package.scrambled) {
        Descramble(destination, offset, n);
    }
    return taken < 0 ? 0 : static_cast<std::uint32_t>(taken);
}

const unsigned char* MappedEntryData(const SPackage& package, std::uint32_t offset) {
    return offset <= package.mappedSize ? package.dataBase + offset : nullptr;
}

std::uint32_t PackageExtent(const SPackage& package) {
    return EffectiveSize(package.reader);
}

SPackage* OpenPackage(const wchar_t* path, PackageProgressFun progress, std::uint32_t userData,
                      bool keepMapped) {
    if (path == nullptr) {
        return nullptr;
    }
    PackageRegistry& registry = Registry();
    sys::ScopedLock hold(registry.lock.get());
    const std::wstring_view spelling(path);
    const auto open = registry.packages.find(spelling);
    if (open != registry.packages.end()) {
        return &open->second;
    }
    if (registry.failed.find(spelling) != registry.failed.end()) {
        return nullptr;
    }
    const OrvexWString key(path);
    const SFilePatch* patch = FileMgr().FindFilePatch(key);
    SFileReader reader;
    if (!OpenReader(reader, path) && patch == nullptr) {
        RecordNotAPackage(registry, key);
        return nullptr;
    }
    SPackage* package = nullptr;
    EPackageLoad loaded;
    try {
        package = &registry.packages[key];
        package->patch = patch;
        package->reader = reader;
        package->reader.owner = package;
        package->path = key;
        loaded = LoadPackage(*package, keepMapped);
    } catch (const std::bad_alloc&) {
        loaded = EPackageLoad::NoMemory;
    }
    if (loaded != EPackageLoad::Loaded) {
        // No record stays behind, so the next open starts afresh.
        if (package != nullptr) {
            ReleasePackage(*package);
            registry.packages.erase(key);
        } else {
            CloseReader(reader);
        }
        if (loaded == EPackageLoad::NotAPackage) {
            RecordNotAPackage(registry, key);
        } else {
            NoteUnsettledOpen();
        }
        return nullptr;
    }
    registry.settled.Publish(package->path.c_str(), package->path.size(), package);
    NoteArchiveForWatch(package->path.c_str());
    if (progress != nullptr) {
        progress(1.0f, userData);
    }
    return package;
}

void CopyFromPackage(const SPackage& package, unsigned char* destination, std::uint32_t offset,
                     std::uint32_t n) {
    if (n == 0) {
        return; // an empty read may come without a buffer
    }
    if (package.mapped && package.dataBase != nullptr && offset < package.mappedSize) {
        const std::uint32_t held = std::min(n, package.mappedSize - offset);
        std::memcpy(destination, package.dataBase + offset, held);
    }
    if (package.patch != nullptr) {
        ApplyPatch(*package.patch, destination, offset, n);
    }
    if (package.scrambled) {
        Descramble(destination, offset, n);
    }
}

bool EntryInsideMapping(const SPackage& package, const SPackageEntry& entry, std::uint32_t from,
                        std::uint32_t to) {
    return package.mapped && package.dataBase != nullptr && from <= to &&
           static_cast<std::uint64_t>(entry.offset) + to <= package.mappedSize;
}

void VisitOpenPackagePaths(void (*visit)(const wchar_t* path, void* context), void* context) {
    PackageRegistry& registry = Registry();
    sys::ScopedLock hold(registry.lock.get());
    for (const auto& package : registry.packages) {
        visit(package.first.c_str(), context);
    }
}

} // namespace detail
} // namespace Orvex
