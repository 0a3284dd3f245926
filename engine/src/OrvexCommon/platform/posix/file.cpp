// Files on POSIX: the wide names the library uses become UTF-8, which is what
// the kernel and the C runtime take as file names here.
#include "OrvexCommon/platform/OrvexSys.h"
#include "OrvexCommon/platform/posix/NarrowName.h"
#include "OrvexCommon/platform/posix/RegularFile.h"
#include "OrvexCommon/text/OrvexText.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <limits.h>
#include <new>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

namespace Orvex {
namespace sys {

namespace {

// The open(2) flags of an fopen mode: its first letter, '+' and 'x'. False
// for a mode fopen would refuse.
bool FlagsOfMode(const char* mode, int& flags) {
    const bool update = std::strchr(mode, '+') != nullptr;
    const int access = update ? O_RDWR : O_WRONLY;
    switch (mode[0]) {
    case 'r':
        flags = update ? O_RDWR : O_RDONLY;
        break;
    case 'w':
        flags = access | O_CREAT | O_TRUNC;
        break;
    case 'a':
        flags = access | O_CREAT | O_APPEND;
        break;
    default:
        return false;
    }
    if (std::strchr(mode, 'x') != nullptr) {
        flags |= O_EXCL;
    }
    return true;
}

} // namespace

std::FILE* OpenFileStream(const wchar_t* name, const char* mode) {
    int flags = 0;
    if (name == nullptr || mode == nullptr || !FlagsOfMode(mode, flags)) {
        return nullptr;
    }
    const NarrowName narrow(name);
    if (!narrow.IsWhole()) {
        return nullptr;
    }
    // fopen's own permissions for a file it creates.
    const int descriptor = OpenRegularFile(narrow.c_str(), flags, 0666);
    if (descriptor < 0) {
        return nullptr;
    }
    std::FILE* stream = fdopen(descriptor, mode);
    if (stream == nullptr) {
        close(descriptor);
    }
    return stream;
}

bool IsReadableRegularFile(const wchar_t* name) {
    if (name == nullptr) {
        return false;
    }
    const NarrowName narrow(name);
    if (!narrow.IsWhole()) {
        return false;
    }
    const int descriptor = OpenRegularFile(narrow.c_str(), O_RDONLY, 0);
    if (descriptor < 0) {
        return false;
    }
    close(descriptor);
    return true;
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
