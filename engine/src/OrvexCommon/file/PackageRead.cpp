// Reading a whole packaged file in either mode.
#include "OrvexCommon/file/detail/FileReader.h"
#include "OrvexCommon/file/detail/Package.h"
#include "OrvexCommon/file/detail/Scramble.h"

#include <cstring>

namespace Orvex {
namespace detail {

namespace {

// The part after the resident one, through a handle of this read's own so
// that it never moves the package's shared handle.
void ReadRestPrivately(const SPackage& package, const SPackageEntry& entry, unsigned char* rest) {
    const std::uint32_t restOffset = entry.offset + entry.residentSize;
    const std::uint32_t restSize = entry.size - entry.residentSize;
    if (static_cast<std::uint64_t>(entry.offset) + entry.residentSize > 0xFFFFFFFFu) {
        return; // beyond any package: nothing to read
    }
    SFileReader reader;
    (void)OpenReader(reader, package.path.c_str());
    reader.owner = const_cast<SPackage*>(&package);
    MoveTo(reader, restOffset);
    (void)ReadFrom(reader, rest, restSize);
    CloseReader(reader);
    if (package.scrambled) {
        Descramble(rest, restOffset, restSize);
    }
}

} // namespace

void ReadPackageEntry(const SPackage& package, const SPackageEntry& entry, unsigned char* out) {
    std::memset(out, 0, entry.size);
    if (package.mapped) {
        CopyFromPackage(package, out, entry.offset, entry.size);
        return;
    }
    // Private mode: the resident part was patched and descrambled when the
    // private buffer was filled.
    std::memcpy(out, entry.data, entry.residentSize);
    if (entry.size > entry.residentSize) {
        ReadRestPrivately(package, entry, out + entry.residentSize);
    }
}

} // namespace detail
} // namespace Orvex
