// Memory-mapped files: the file is sized with the C runtime's streams, mapped
// through the platform layer, and each view is recorded under its address so
// that giving the address back finds what to close.
#include "OrvexCommon/filesystem/OrvexFilesystem.h"
#include "OrvexCommon/filesystem/detail/MappingName.h"
#include "OrvexCommon/filesystem/detail/MemoryMapRegistry.h"
#include "OrvexCommon/platform/OrvexSys.h"

#include <climits>
#include <cstdint>
#include <cstdio>
#include <new>

namespace Orvex {

namespace {

enum class FileProbe { Missing, Found, Unreadable };

// Opens the file for reading: if that works the file exists, and its length
// is where a seek to the end lands. A length that cannot be told is
// Unreadable: the file is neither known to be long enough nor safe to grow.
FileProbe ProbeFile(const wchar_t* fileName, std::uint64_t& length) {
    std::FILE* stream = sys::OpenFileStream(fileName, "rb");
    if (stream == nullptr) {
        return FileProbe::Missing;
    }
    const bool measured = sys::StreamLength(stream, length);
    std::fclose(stream);
    return measured ? FileProbe::Found : FileProbe::Unreadable;
}

// Makes the file `size` bytes long by writing one zero byte at its last
// position: the bytes it had are kept and the ones added read as zero.
bool GrowFile(const wchar_t* fileName, bool exists, unsigned size) {
    const std::uint64_t last = static_cast<std::uint64_t>(size) - 1;
    std::FILE* stream = sys::OpenFileStream(fileName, exists ? "r+b" : "wb");
    if (stream == nullptr) {
        return false;
    }
    const unsigned char zero = 0;
    bool grown = sys::SeekStream(stream, last) && std::fwrite(&zero, 1, 1, stream) == 1;
    grown = std::fclose(stream) == 0 && grown;
    return grown;
}

// Gives the file the bytes the mapping needs and settles the size to map:
// the whole file for a request of 0, the request otherwise. False when there
// is nothing to map (a missing file asked for its whole length creates
// nothing) or the file cannot be read or grown.
bool PrepareFile(const wchar_t* fileName, unsigned& size) {
    std::uint64_t length = 0;
    const FileProbe probe = ProbeFile(fileName, length);
    if (probe == FileProbe::Unreadable) {
        return false;
    }
    if (size == 0) {
        // A file `unsigned` cannot measure cannot be mapped whole either.
        if (probe == FileProbe::Missing || length > UINT_MAX) {
            return false;
        }
        size = static_cast<unsigned>(length);
        return true;
    }
    if (probe == FileProbe::Found && length >= size) {
        return true;
    }
    return GrowFile(fileName, probe == FileProbe::Found, size);
}

void* MapAndRecord(const wchar_t* fileName, unsigned& size, bool readOnly) {
    unsigned mapSize = size;
    if (!PrepareFile(fileName, mapSize)) {
        return nullptr;
    }
    // An empty file asked for its whole length leaves 0 bytes, which the
    // platform refuses like any other empty mapping.
    sys::MappedFile mapped;
    if (!sys::MapFileView(fileName, detail::MemoryMapName(fileName).c_str(), mapSize, readOnly,
                          mapped)) {
        return nullptr;
    }
    try {
        sys::ScopedLock hold(detail::MemoryMapLock());
        detail::GetMemoryMapRegistry().views[mapped.view] = mapped;
    } catch (const std::bad_alloc&) {
        // Without its entry the view could never be given back.
        sys::UnmapFileView(mapped);
        return nullptr;
    }
    size = mapSize;
    return mapped.view;
}

} // namespace

void* OrvexMemoryMap(const wchar_t* fileName, unsigned& size, bool readOnly) {
    if (fileName == nullptr) {
        return nullptr;
    }
    try {
        return MapAndRecord(fileName, size, readOnly);
    } catch (const std::bad_alloc&) {
        return nullptr; // no room for the mapping name: nothing was mapped
    }
}

void OrvexMemoryUnMap(void* address) {
    if (address == nullptr) {
        return;
    }
    sys::MappedFile mapped;
    {
        sys::ScopedLock hold(detail::MemoryMapLock());
        auto& views = detail::GetMemoryMapRegistry().views;
        const auto entry = views.find(address);
        if (entry == views.end()) {
            return; // never mapped here, or given back already
        }
        mapped = entry->second;
        views.erase(entry);
    }
    sys::UnmapFileView(mapped);
}

void OrvexMemoryMapSyn(void* /*address*/, unsigned /*size*/, bool /*flag*/) {}

} // namespace Orvex
