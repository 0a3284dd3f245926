// The zip archive registry and an archive's bytes.
#include "OrvexCommon/file/detail/ZipArchive.h"
#include "OrvexCommon/base/detail/FrameJournal.h"
#include "OrvexCommon/file/detail/FileMgr.h"
#include "OrvexCommon/file/detail/Package.h"
#include "OrvexCommon/file/detail/ReloadWatch.h"
#include "OrvexCommon/file/detail/SettledNames.h"
#include "OrvexCommon/filesystem/OrvexFilesystem.h"
#include "OrvexCommon/log/OrvexLog.h"
#include "OrvexCommon/platform/OrvexSys.h"

#include <cstring>
#include <functional>
#include <new>
#include <string_view>

namespace Orvex {
namespace detail {

namespace {

struct ZipRegistry {
    ZipRegistry() {
        // The loading thread reads through the archives' handles: the
        // manager must exist first, so that it is torn down after this.
        FileMgr();
    }
    ~ZipRegistry();
    ZipRegistry(const ZipRegistry&) = delete;
    ZipRegistry& operator=(const ZipRegistry&) = delete;

    sys::OwnedLock lock; // held for a whole open
    TOrvexMap<OrvexWString, SZipArchive, std::less<>> archives;
    TOrvexSet<OrvexWString, std::less<>> failed;
};

ZipRegistry& Registry() {
    static ZipRegistry registry;
    return registry;
}

ZipRegistry::~ZipRegistry() {
    FileMgr().StopLoadingThread();
    for (auto& item : archives) {
        SZipArchive& archive = item.second;
        if (archive.handle != nullptr) {
            std::fclose(archive.handle);
        }
        for (unsigned k = 0; k < archive.spareCount; ++k) {
            std::fclose(archive.spare[k]);
        }
        if (const unsigned char* mapping = archive.mapping.load()) {
            OrvexMemoryUnMap(const_cast<unsigned char*>(mapping));
        }
    }
}

void ReportRefusedMethods(const SZipArchive& archive) {
    const SZipRefusals& refused = archive.directory.refused;
    if (refused.methods == 0) {
        return;
    }
    GetErrStream() << "zip archive \"" << archive.path.c_str() << "\": " << refused.methods
                   << " entries use a compression method other than stored or deflate (the "
                      "first uses method "
                   << refused.firstMethod << ") and cannot be read\n";
}

// Reads the archive's directory through its handle.
EZipOpen ReadDirectory(SZipArchive& archive) {
    CZipArchiveBytes bytes;
    if (!bytes.Attach(archive, /*shareHandle=*/true)) {
        return EZipOpen::kReadFailed;
    }
    return ReadZipDirectory(bytes, archive.size, archive.directory);
}

// Opens a new record for `path`; null, with no record left, when the path
// is no zip archive (`settled`) or memory ran out (not settled). Throws
// std::bad_alloc before anything is opened, leaving no record.
SZipArchive* OpenNewArchive(ZipRegistry& registry, const wchar_t* path, bool& settled) {
    const OrvexWString key(path);
    SZipArchive& archive = registry.archives[key];
    try {
        archive.path = key;
    } catch (const std::bad_alloc&) {
        // A record left here would be taken for an open archive.
        registry.archives.erase(key);
        throw;
    }
    archive.handle = sys::OpenFileStream(path, "rb");
    EZipOpen opened = EZipOpen::kNotZip;
    if (archive.handle != nullptr && sys::StreamLength(archive.handle, archive.size)) {
        opened = ReadDirectory(archive);
    }
    settled = opened != EZipOpen::kNoMemory;
    if (opened == EZipOpen::kOpened) {
        ReportRefusedMethods(archive);
        NoteArchiveForWatch(archive.path.c_str());
        return &archive;
    }
    if (archive.handle != nullptr) {
        std::fclose(archive.handle);
    }
    registry.archives.erase(key);
    return nullptr;
}

} // namespace

SZipArchive* OpenZipArchive(const wchar_t* path, const SSpelling& packageSpelling) {
    ZipRegistry& registry = Registry();
    sys::ScopedLock hold(registry.lock.get());
    const std::wstring_view spelling(path);
    const auto open = registry.archives.find(spelling);
    if (open != registry.archives.end()) {
        return &open->second;
    }
    if (registry.failed.find(spelling) != registry.failed.end()) {
        return nullptr;
    }
    bool settled = false;
    SZipArchive* archive = nullptr;
    try {
        archive = OpenNewArchive(registry, path, settled);
        if (archive == nullptr && settled) {
            registry.failed.insert(OrvexWString(path));
        }
    } catch (const std::bad_alloc&) {
        settled = false;
    }
    if (settled) {
        SettleZipAnswer(packageSpelling, archive);
    } else {
        NoteUnsettledOpen();
    }
    return archive;
}

bool SwitchZipMapped(SZipArchive& archive, bool mapped) {
    if (mapped && archive.mapping.load(std::memory_order_acquire) == nullptr) {
        ZipRegistry& registry = Registry();
        sys::ScopedLock hold(registry.lock.get());
        if (archive.mapping.load() == nullptr) {
            unsigned size = 0;
            void* view = archive.size > 0 && archive.size <= 0xFFFFFFFFu
                             ? OrvexMemoryMap(archive.path.c_str(), size, /*readOnly=*/true)
                             : nullptr;
            if (view == nullptr || size != archive.size) {
                OrvexMemoryUnMap(view); // null, or not the file the directory describes
                return false;
            }
            archive.mappedSize = size;
            archive.mapping.store(static_cast<const unsigned char*>(view),
                                  std::memory_order_release);
        }
    }
    archive.mapped.store(mapped, std::memory_order_release);
    return true;
}

CZipArchiveBytes::~CZipArchiveBytes() {
    if (m_owner == nullptr) {
        return;
    }
    {
        sys::ScopedLock hold(m_owner->spareLock.get());
        if (m_owner->spareCount < kSpareZipHandles) {
            m_owner->spare[m_owner->spareCount++] = m_handle;
            return;
        }
    }
    std::fclose(m_handle);
}

namespace {

std::FILE* TakeSpareHandle(SZipArchive& archive) {
    sys::ScopedLock hold(archive.spareLock.get());
    return archive.spareCount > 0 ? archive.spare[--archive.spareCount] : nullptr;
}

// A new handle on the archive's path, when it still leads to the file the
// directory was read from.
std::FILE* OpenSameFile(const SZipArchive& archive) {
    std::FILE* handle = sys::OpenFileStream(archive.path.c_str(), "rb");
    if (handle != nullptr && !sys::IsSameFile(handle, archive.handle)) {
        std::fclose(handle); // replaced since the directory was read
        handle = nullptr;
    }
    return handle;
}

} // namespace

bool CZipArchiveBytes::Attach(SZipArchive& archive, bool shareHandle) {
    m_size = archive.size;
    const unsigned char* mapping = archive.mapping.load(std::memory_order_acquire);
    if (mapping != nullptr && archive.mapped.load(std::memory_order_acquire)) {
        m_mapping = mapping;
        return true;
    }
    if (shareHandle) {
        m_handle = archive.handle;
        return m_handle != nullptr;
    }
    m_handle = TakeSpareHandle(archive);
    if (m_handle == nullptr) {
        m_handle = OpenSameFile(archive);
    }
    m_owner = m_handle != nullptr ? &archive : nullptr;
    return m_handle != nullptr;
}

bool CZipArchiveBytes::Read(std::uint64_t offset, std::size_t n, unsigned char* out) {
    if (offset > m_size || n > m_size - offset) {
        return false;
    }
    if (m_mapping != nullptr) {
        std::memcpy(out, m_mapping + offset, n);
        return true;
    }
    // Always seek: a shared handle may stand anywhere.
    return sys::SeekStream(m_handle, offset) && std::fread(out, 1, n, m_handle) == n;
}

void VisitOpenZipPaths(void (*visit)(const wchar_t* path, void* context), void* context) {
    ZipRegistry& registry = Registry();
    sys::ScopedLock hold(registry.lock.get());
    for (const auto& archive : registry.archives) {
        visit(archive.first.c_str(), context);
    }
}

} // namespace detail
} // namespace Orvex
