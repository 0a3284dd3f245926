// File mappings on POSIX: a MAP_SHARED view of the file's descriptor. Every
// shared view of a file, in any process, sees the same pages of the page
// cache, so the mapping name the Windows backend needs has no use here. The
// descriptor stays open for the life of the view, as the handles do there.
#include "OrvexCommon/platform/OrvexSys.h"
#include "OrvexCommon/platform/posix/NarrowName.h"

#include <cerrno>
#include <cstdint>
#include <fcntl.h>
#include <new>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace Orvex {
namespace sys {

namespace {

int OpenForMapping(const wchar_t* path, bool readOnly) {
    const NarrowName narrow(path);
    if (!narrow.IsWhole()) {
        return -1;
    }
    const int flags = (readOnly ? O_RDONLY : O_RDWR) | O_CREAT | O_CLOEXEC;
    int descriptor;
    do {
        descriptor = open(narrow.c_str(), flags, 0666);
    } while (descriptor < 0 && errno == EINTR);
    return descriptor;
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
