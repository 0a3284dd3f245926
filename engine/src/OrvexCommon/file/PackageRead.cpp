// Reading a whole packaged file in either mode.
#include "OrvexCommon/file/detail/FileReader.h"
#include "OrvexCommon/file/detail/Package.h"
#include "OrvexCommon/file/detail/Scramble.h"

#include <cstring>

namespace Orvex {
namespace detail {

void ReadPackageRange(const SPackage& package, std::uint32_t offset, std::uint32_t n,
                      unsigned char* out) {
    SFileReader reader;
    (void)OpenReader(reader, package.path.c_str());
    reader.owner = const_cast<SPackage*>(&package); // the reader only reads its patch
    MoveTo(reader, offset);
    (void)ReadFrom(reader, out, n);
    CloseReader(reader);
    if (package.scrambled) {
        Descramble(out, offset, n);
    }
}

void ReadPackageEntry(const SPackage& package, const SPackageEntry& entry, unsigned char* out) {
    std::memset(out, 0, entry.size);
    if (package.mapped) {
        CopyFromPackage(package, out, entry.offset, entry.size);
        return;
    }
    // Private mode: the resident part was patched and descrambled when the
    // private buffer was filled.
    std::memcpy(out, entry.data, entry.residentSize);
    const std::uint64_t restOffset = static_cast<std::uint64_t>(entry.offset) + entry.residentSize;
    if (entry.size > entry.residentSize && restOffset <= 0xFFFFFFFFu) {
        ReadPackageRange(package, static_cast<std::uint32_t>(restOffset),
                         entry.size - entry.residentSize, out + entry.residentSize);
    }
}

} // namespace detail
} // namespace Orvex
