// Directories on POSIX: the wide names the library uses travel as UTF-8, and a
// name read back from the system counts only when it decodes to wide text that
// encodes to the very same bytes again.
#include "OrvexCommon/platform/OrvexSys.h"
#include "OrvexCommon/platform/posix/EntryName.h"
#include "OrvexCommon/platform/posix/NarrowName.h"
#include "OrvexCommon/text/OrvexText.h"

#include <climits>
#include <cstring>
#include <dirent.h>
#include <limits.h>
#include <new>
#include <string>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

namespace Orvex {
namespace sys {

namespace {

struct PosixDirectorySearch {
    DIR* stream;
};

static_assert(alignof(PosixDirectorySearch) <= kDirectorySearchAlignment,
              "the caller's storage is aligned for the search record");

// True when encoding `wide` unit by unit gives exactly the bytes of `utf8`, so
// that the wide spelling names the same file as the bytes did. Catches text
// the decoder stopped in (an invalid sequence) and forms it read leniently
// (overlong sequences).
bool EncodesBackTo(const wchar_t* wide, const char* utf8) {
    std::size_t matched = 0;
    for (; *wide != L'\0'; ++wide) {
        const wchar_t unit[2] = {*wide, L'\0'};
        char bytes[8];
        const unsigned written = UcsToUtf8(unit, bytes, sizeof(bytes)) - 1;
        // strncmp stops at the terminator of `utf8`, so a shorter text never
        // lets it read beyond its end.
        if (written == 0 || std::strncmp(bytes, utf8 + matched, written) != 0) {
            return false;
        }
        matched += written;
    }
    return utf8[matched] == '\0';
}

} // namespace

bool DecodeEntryName(const char* utf8, wchar_t* out, std::size_t capacity) {
    const unsigned room = capacity > UINT_MAX ? UINT_MAX : static_cast<unsigned>(capacity);
    // Utf8ToUcs answers room + 1 when it filled the buffer without a terminator.
    if (Utf8ToUcs(utf8, out, room) > room || !EncodesBackTo(out, utf8)) {
        out[0] = L'\0';
        return false;
    }
    return true;
}

namespace {

bool StatusOf(const wchar_t* path, struct stat& status) {
    if (path == nullptr) {
        return false;
    }
    const NarrowName narrow(path);
    return narrow.IsWhole() && stat(narrow.c_str(), &status) == 0;
}

} // namespace

bool PathsHaveDrives() {
    return false;
}

bool ReadWorkingDirectory(wchar_t* out, std::size_t capacity) {
    if (out == nullptr || capacity == 0) {
        return false;
    }
    char narrow[PATH_MAX];
    if (getcwd(narrow, sizeof(narrow)) == nullptr) {
        out[0] = L'\0';
        return false;
    }
    return DecodeEntryName(narrow, out, capacity);
}

bool IsDirectoryPath(const wchar_t* path) {
    struct stat status;
    return StatusOf(path, status) && S_ISDIR(status.st_mode);
}

bool CreateOneDirectory(const wchar_t* path) {
    if (path == nullptr) {
        return false;
    }
    const NarrowName narrow(path);
    return narrow.IsWhole() && mkdir(narrow.c_str(), 0777) == 0;
}

std::size_t DirectorySearchSize() {
    return sizeof(PosixDirectorySearch);
}

bool OpenDirectorySearch(void* storage, const wchar_t* directory) {
    if (storage == nullptr || directory == nullptr) {
        return false;
    }
    const NarrowName name(directory);
    if (!name.IsWhole()) {
        return false;
    }
    try {
        // The separator makes "" the root, as the Windows pattern "\*.*" does.
        const std::string narrow = std::string(name.c_str()) + '/';
        DIR* stream = opendir(narrow.c_str());
        if (stream == nullptr) {
            return false;
        }
        new (storage) PosixDirectorySearch{stream};
        return true;
    } catch (const std::bad_alloc&) {
        return false;
    }
}

bool NextDirectoryEntry(void* storage, wchar_t* name) {
    PosixDirectorySearch* search = static_cast<PosixDirectorySearch*>(storage);
    // readdir on a stream no other thread uses is safe; the record it returns
    // stays valid until the next call on that stream.
    while (const dirent* entry = readdir(search->stream)) {
        if (DecodeEntryName(entry->d_name, name, kEntryNameCapacity)) {
            return true;
        }
    }
    return false;
}

void CloseDirectorySearch(void* storage) {
    PosixDirectorySearch* search = static_cast<PosixDirectorySearch*>(storage);
    closedir(search->stream);
    search->~PosixDirectorySearch();
}

} // namespace sys
} // namespace Orvex
