// What a save may replace on POSIX, and its temporary file.
#include "OrvexCommon/platform/OrvexSys.h"
#include "OrvexCommon/platform/posix/NarrowName.h"
#include "OrvexCommon/platform/posix/RegularFile.h"
#include "OrvexCommon/text/OrvexText.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cwchar>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace Orvex {
namespace sys {

namespace {

// The bits a replacement keeps: read, write and execute for the three
// classes; set-id bits are not carried over to a file the library wrote.
constexpr mode_t kKeptBits = 0777;
constexpr mode_t kAnyWrite = S_IWUSR | S_IWGRP | S_IWOTH;

// No write bit at all means read-only for everyone, root too (see
// ExamineSaveTarget in OrvexSys.h); otherwise the kernel's own rule for the
// caller's effective ids decides.
bool MayWrite(const char* name, const struct stat& status) {
    return (status.st_mode & kAnyWrite) != 0 && faccessat(AT_FDCWD, name, W_OK, AT_EACCESS) == 0;
}

bool CopyName(const wchar_t* name, wchar_t* path, std::size_t capacity) {
    const std::size_t length = std::wcslen(name);
    if (length >= capacity) {
        return false;
    }
    std::wmemcpy(path, name, length + 1);
    return true;
}

// The file a link leads to, every link on the way resolved.
bool CopyLinkTarget(const char* name, wchar_t* path, std::size_t capacity) {
    char resolved[PATH_MAX];
    if (realpath(name, resolved) == nullptr) {
        return false;
    }
    // Units written plus one; capacity + 1: no room for the terminator.
    const unsigned room = capacity > UINT_MAX ? UINT_MAX : static_cast<unsigned>(capacity);
    const unsigned units = Utf8ToUcs(resolved, path, room);
    return units > 0 && units <= room;
}

bool IsLink(const char* name) {
    struct stat status;
    return lstat(name, &status) == 0 && S_ISLNK(status.st_mode);
}

} // namespace

bool ExamineSaveTarget(const wchar_t* name, wchar_t* path, std::size_t capacity, SaveTarget& out) {
    if (name == nullptr || path == nullptr || capacity == 0) {
        return false;
    }
    const NarrowName narrow(name);
    if (!narrow.IsWhole()) {
        return false;
    }
    struct stat status;
    if (stat(narrow.c_str(), &status) != 0) {
        // Nothing there: a first save. A link that leads nowhere is not one:
        // saving through it would make a file wherever it points.
        if (errno != ENOENT || IsLink(narrow.c_str())) {
            return false;
        }
        out = SaveTarget{false, 0};
        return CopyName(name, path, capacity);
    }
    if (!S_ISREG(status.st_mode) || !MayWrite(narrow.c_str(), status)) {
        return false;
    }
    out = SaveTarget{true, static_cast<std::uint32_t>(status.st_mode & kKeptBits)};
    return IsLink(narrow.c_str()) ? CopyLinkTarget(narrow.c_str(), path, capacity)
                                  : CopyName(name, path, capacity);
}

std::FILE* CreateFileStreamLike(const wchar_t* name, const SaveTarget& like) {
    if (name == nullptr) {
        return nullptr;
    }
    const NarrowName narrow(name);
    if (!narrow.IsWhole()) {
        return nullptr;
    }
    const mode_t bits = like.exists ? static_cast<mode_t>(like.keep) & kKeptBits : 0666;
    const int descriptor = OpenRegularFile(narrow.c_str(), O_WRONLY | O_CREAT | O_EXCL, bits);
    if (descriptor < 0) {
        return nullptr;
    }
    // The umask narrowed the bits at creation; the file replaced had them
    // whole.
    std::FILE* stream =
        !like.exists || fchmod(descriptor, bits) == 0 ? fdopen(descriptor, "wb") : nullptr;
    if (stream == nullptr) {
        close(descriptor);
        unlink(narrow.c_str());
    }
    return stream;
}

} // namespace sys
} // namespace Orvex
