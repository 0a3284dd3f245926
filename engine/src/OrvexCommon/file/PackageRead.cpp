// Reading a whole packaged file in either mode.
#include "OrvexCommon/file/detail/FileReader.h"
#include "OrvexCommon/file/detail/Package.h"
#include "OrvexCommon/file/detail/Scramble.h"
#include "OrvexCommon/platform/OrvexSys.h"

#include <cstring>

namespace Orvex {
namespace detail {

bool OpenPackageFileAgain(SFileReader& reader, const SPackage& package) {
    reader = SFileReader();
    const bool opened = OpenReader(reader, package.path.c_str());
    if (package.reader.handle != nullptr &&
        (!opened || !sys::IsSameFile(reader.handle, package.reader.handle))) {
        CloseReader(reader);
        reader = SFileReader();
        return false;
    }
    reader.owner = const_cast<SPackage*>(&package); // the reader only reads its patch
    return true;
}

bool ReadPackageRange(const SPackage& package, std::uint32_t offset, std::uint32_t n,
                      unsigned char* out) {
    SFileReader reader;
    if (!OpenPackageFileAgain(reader, package)) {
        return false;
    }
    // Past the package's end (it may have shrunk since it was opened): zeros,
    // never what the caller's buffer held.
    (void)ReadAt(reader, offset, out, n);
    CloseReader(reader);
    if (package.scrambled) {
        Descramble(out, offset, n);
    }
    return true;
}

bool ReadPackageEntry(const SPackage& package, const SPackageEntry& entry, unsigned char* out) {
    std::memset(out, 0, entry.size);
    if (package.mapped) {
        CopyFromPackage(package, out, entry.offset, entry.size);
        return true;
    }
    // Private mode: the resident part was patched and descrambled when the
    // private buffer was filled.
    std::memcpy(out, entry.data, entry.residentSize);
    const std::uint64_t restOffset = static_cast<std::uint64_t>(entry.offset) + entry.residentSize;
    if (entry.size > entry.residentSize && restOffset <= 0xFFFFFFFFu) {
        return ReadPackageRange(package, static_cast<std::uint32_t>(restOffset),
                                entry.size - entry.residentSize, out + entry.residentSize);
    }
    return true;
}

} // namespace detail
} // namespace Orvex
