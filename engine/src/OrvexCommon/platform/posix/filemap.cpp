// File mappings on POSIX: a MAP_SHARED view of the file's descriptor. Every
// shared view of a file, in any process, sees the same pages of the page
// cache, so the mapping name the Windows backend needs has no use here. The
// descriptor stays open for the life of the view, as the handles do there.
#include "OrvexCommon/platform/OrvexSys.h"
#include "OrvexCommon/platform/posix/NarrowName.h"
#include "OrvexCommon/platform/posix/RegularFile.h"

#include <cstdint>
#include <fcntl.h>
#include <new>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace Orvex {
namespace sys {

namespace {

// Only a regular file is mapped (RegularFile.h): mapping a device maps
// whatever the device gives (/dev/zero: anonymous memory), and a FIFO would
// be waited on.
int OpenForMapping(const wchar_t* path, bool readOnly) {
    const NarrowName narrow(path);
    if (!narrow.IsWhole()) {
        return -1;
    }
    return OpenRegularFile(narrow.c_str(), (readOnly ? O_RDONLY : O_RDWR) | O_CREAT, 0666);
}

} // namespace

bool MapFileView(const wchar_t* path, const wchar_t* /*name*/, unsigned size, bool readOnly,
                 MappedFile& out) {
    if (path == nullptr || size == 0) {
        return false;
    }
    const int descriptor = OpenForMapping(path, readOnly);
    if (descriptor < 0) {
        return false;
    }
    // Touching a page past the end of the file raises SIGBUS. The caller has
    // grown the file, but another process may have cut it short since: such
    // a file is refused rather than handed out as a trap.
    struct stat status;
    if (fstat(descriptor, &status) != 0 || status.st_size < static_cast<off_t>(size)) {
        close(descriptor);
        return false;
    }
    const int protection = readOnly ? PROT_READ : PROT_READ | PROT_WRITE;
    void* view = mmap(nullptr, size, protection, MAP_SHARED, descriptor, 0);
    if (view == MAP_FAILED) {
        close(descriptor);
        return false;
    }
    out.view = view;
    out.file = reinterpret_cast<void*>(static_cast<std::intptr_t>(descriptor));
    out.mapping = nullptr;
    out.length = size;
    return true;
}

void UnmapFileView(const MappedFile& mapped) {
    munmap(mapped.view, mapped.length);
    close(static_cast<int>(reinterpret_cast<std::intptr_t>(mapped.file)));
}

} // namespace sys
} // namespace Orvex
