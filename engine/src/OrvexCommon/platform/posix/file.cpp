// Files on POSIX: the wide names the library uses become UTF-8, which is what
// the kernel and the C runtime take as file names here.
#include "OrvexCommon/platform/OrvexSys.h"
#include "OrvexCommon/platform/posix/NarrowName.h"
#include "OrvexCommon/text/OrvexText.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <limits.h>
#include <new>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

namespace Orvex {
namespace sys {

std::FILE* OpenFileStream(const wchar_t* name, const char* mode) {
    if (name == nullptr || mode == nullptr) {
        return nullptr;
    }
    const NarrowName narrow(name);
    return narrow.IsWhole() ? std::fopen(narrow.c_str(), mode) : nullptr;
}

bool IsReadableRegularFile(const wchar_t* name) {
    if (name == nullptr) {
        return false;
    }
    const NarrowName narrow(name);
    if (!narrow.IsWhole()) {
        return false;
    }
    // Non-blocking: opening a FIFO for reading would otherwise wait for a
    // writer.
    const int descriptor = open(narrow.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (descriptor < 0) {
        return false;
    }
    struct stat status;
    const bool regular = fstat(descriptor, &status) == 0 && S_ISREG(status.st_mode);
    close(descriptor);
    return regular;
}

bool FlushStreamToDisk(std::FILE* stream) {
    return std::fflush(stream) == 0 && fsync(fileno(stream)) == 0;
}

bool IsSameFile(std::FILE* first, std::FILE* second) {
    struct stat one;
    struct stat other;
    return first != nullptr && second != nullptr && fstat(fileno(first), &one) == 0 &&
           fstat(fileno(second), &other) == 0 && one.st_dev == other.st_dev &&
           one.st_ino == other.st_ino;
}

bool ReplaceFileWith(const wchar_t* source, const wchar_t* target) {
    if (source == nullptr || target == nullptr) {
        return false;
    }
    const NarrowName from(source);
    const NarrowName to(target);
    return from.IsWhole() && to.IsWhole() && std::rename(from.c_str(), to.c_str()) == 0;
}

bool RemoveFile(const wchar_t* name) {
    if (name == nullptr) {
        return false;
    }
    const NarrowName narrow(name);
    return narrow.IsWhole() && std::remove(narrow.c_str()) == 0;
}

bool AbsoluteDirectory(const wchar_t* directory, wchar_t* out, std::size_t capacity) {
    if (directory == nullptr || out == nullptr || capacity == 0) {
        return false;
    }
    try {
        const NarrowName narrow(directory);
        if (!narrow.IsWhole()) {
            return false;
        }
        // realpath resolves against the working directory without changing
        // it, and like getcwd after a chdir it gives the path with links and
        // "." / ".." resolved. It fails for a directory that does not exist.
        char resolved[PATH_MAX];
        if (realpath(narrow.c_str(), resolved) == nullptr) {
            return false;
        }
        // Units written plus one; capacity + 1: no room for the terminator.
        const std::size_t units = Utf8ToUcs(resolved, out, static_cast<unsigned>(capacity));
        return units > 0 && units <= capacity;
    } catch (const std::bad_alloc&) {
        return false;
    }
}

int SeekStream64(std::FILE* stream, std::int64_t offset, int origin) {
    return fseeko(stream, static_cast<off_t>(offset), origin);
}

std::int64_t TellStream64(std::FILE* stream) {
    return static_cast<std::int64_t>(ftello(stream));
}

} // namespace sys
} // namespace Orvex
