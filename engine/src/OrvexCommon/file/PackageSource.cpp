// Packaged files as a source of the file manager.
#include "OrvexCommon/file/detail/PackageSource.h"
#include "OrvexCommon/file/detail/FileHeadReader.h"
#include "OrvexCommon/file/detail/FileReader.h"
#include "OrvexCommon/file/detail/Package.h"
#include "OrvexCommon/file/detail/Patch.h"
#include "OrvexCommon/file/detail/Scramble.h"
#include "OrvexCommon/file/detail/ZipArchive.h"

#include <cstring>

namespace Orvex {
namespace detail {

namespace {

SPackage& PackageOf(const SSourceFile& file) {
    return *file.reader.owner;
}

// True when the file's bytes [from, to) must be copied out of a mapped
// package rather than read in place.
bool MustCopyFromMapping(const SPackage& package, const SPackageEntry& entry, std::uint32_t from,
                         std::uint32_t to) {
    return package.scrambled || PatchTouches(package.patch, entry.offset + from, to - from) ||
           !EntryInsideMapping(package, entry, from, to);
}

void ZeroBytes(unsigned char* out, std::uint32_t n) {
    if (n > 0) {
        std::memset(out, 0, n);
    }
}

} // namespace

bool CPackageSource::Has(const wchar_t* fileName) const {
    const ArchiveMatch match = FindArchiveEntry(fileName, m_deepSearch, ZipSearchEnabled());
    return match.package != nullptr ||
           (match.zip != nullptr && match.zipEntry->size <= 0xFFFFFFFFu);
}

bool CPackageSource::Open(const wchar_t* fileName, bool handleNow, SSourceFile& file) const {
    const ArchiveMatch match = FindArchiveEntry(fileName, m_deepSearch, ZipSearchEnabled());
    if (match.zip != nullptr) {
        return m_zips.OpenEntry(*match.zip, *match.zipEntry, file);
    }
    if (match.package == nullptr) {
        return false;
    }
    if (handleNow && !match.package->mapped && !OpenPackageFileAgain(file.reader, *match.package)) {
        return false;
    }
    file.reader.owner = match.package;
    file.source = this;
    file.entry = match.entry;
    file.base = match.entry->offset;
    file.size = match.entry->size;
    file.borrowed = false;
    return true;
}

bool CPackageSource::ReadLeading(SSourceFile& file, std::int32_t, bool, SLeadingPart& lead) const {
    const SPackageEntry& entry = *file.entry;
    const std::uint32_t resident = entry.residentSize;
    const std::uint32_t rest = entry.size - resident;
    if (!FitsPooledBuffer(rest) || !FitsPooledBuffer(resident) ||
        static_cast<std::uint64_t>(entry.offset) + resident > 0xFFFFFFFFu) {
        return false;
    }
    lead.restStart = resident;
    if (resident == 0) {
        return true; // no head: the whole file is the rest
    }
    const unsigned char* bytes = InPlace(file, 0, resident);
    if (bytes == nullptr) {
        if (!lead.storage.Allocate(resident)) {
            return false;
        }
        (void)ReadRange(file, 0, resident, lead.storage.get());
        bytes = lead.storage.get();
    }
    lead.buffer = {bytes, 0, resident, 0};
    if (!ReadFileHead(lead.buffer, lead.head)) {
        return false;
    }
    lead.hasHead = true;
    lead.holdsRest = rest == 0;
    lead.resultWhenHeld = 0;
    return true;
}

bool CPackageSource::ReadRange(SSourceFile& file, std::uint32_t from, std::uint32_t n,
                               unsigned char* out) const {
    SPackage& package = PackageOf(file);
    const std::uint64_t where = static_cast<std::uint64_t>(file.base) + from;
    if (where > 0xFFFFFFFFu) {
        ZeroBytes(out, n); // past anything a package holds
        return true;
    }
    const auto offset = static_cast<std::uint32_t>(where);
    if (file.borrowed) {
        // The package's own handle, shared with nothing but the loading
        // thread's earlier reads: its position is unknown.
        MoveTo(file.reader, offset);
    } else if (package.mapped) {
        if (file.reader.handle != nullptr) {
            CloseReader(file.reader); // opened while the package was private
            file.reader = SFileReader();
            file.reader.owner = &package;
        }
        ZeroBytes(out, n);
        CopyFromPackage(package, out, offset, n);
        return true;
    } else if (file.reader.handle == nullptr && !OpenPackageFileAgain(file.reader, package)) {
        file.reader.owner = &package;
        ZeroBytes(out, n);
        return false; // the package's file was deleted or replaced
    }
    (void)ReadAt(file.reader, offset, out, n);
    if (package.scrambled) {
        Descramble(out, offset, n);
    }
    return true;
}

const unsigned char* CPackageSource::InPlace(const SSourceFile& file, std::uint32_t from,
                                             std::uint32_t to) const {
    const SPackage& package = PackageOf(file);
    const SPackageEntry& entry = *file.entry;
    if (entry.data == nullptr) {
        return nullptr;
    }
    if (package.mapped) {
        return MustCopyFromMapping(package, entry, from, to) ? nullptr : entry.data + from;
    }
    // The private buffer holds the resident part, patched and descrambled.
    return to <= entry.residentSize ? entry.data + from : nullptr;
}

bool CPackageSource::InMemory(const SSourceFile& file) const {
    return PackageOf(file).mapped;
}

void CPackageSource::Duplicate(const SSourceFile& file, SSourceFile& copy) const {
    const SPackage& package = PackageOf(file);
    copy.source = this;
    copy.base = file.base;
    copy.size = file.size;
    copy.entry = file.entry;
    copy.reader = package.reader;
    copy.reader.owner = &PackageOf(file);
    copy.borrowed = true;
}

} // namespace detail
} // namespace Orvex
