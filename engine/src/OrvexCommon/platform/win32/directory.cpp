// Directories on Windows: the runtime's wide working-directory, status and
// make-directory calls, and the system's find-file search.
#include "OrvexCommon/platform/OrvexSys.h"
#include "OrvexCommon/platform/win32/WindowsHeaders.h"

#include <climits>
#include <cwchar>
#include <direct.h>
#include <new>
#include <string>
#include <sys/stat.h>
#include <sys/types.h>

namespace Orvex {
namespace sys {

namespace {

// FindFirstFileW hands back the first entry together with the handle, so the
// record holds it until the first NextDirectoryEntry passes it on.
struct WindowsDirectorySearch {
    HANDLE handle;
    bool firstPending;
    WIN32_FIND_DATAW record;
};

static_assert(alignof(WindowsDirectorySearch) <= kDirectorySearchAlignment,
              "the caller's storage is aligned for the search record");
static_assert(sizeof(WIN32_FIND_DATAW::cFileName) / sizeof(wchar_t) <= kEntryNameCapacity,
              "every name the search reports fits the caller's buffer");

void CopyEntryName(const WIN32_FIND_DATAW& record, wchar_t* name) {
    std::size_t length = 0;
    while (length + 1 < kEntryNameCapacity && record.cFileName[length] != L'\0') {
        name[length] = record.cFileName[length];
        ++length;
    }
    name[length] = L'\0';
}

} // namespace

bool PathsHaveDrives() {
    return true;
}

bool ReadWorkingDirectory(wchar_t* out, std::size_t capacity) {
    if (out == nullptr || capacity == 0) {
        return false;
    }
    const int room = capacity > INT_MAX ? INT_MAX : static_cast<int>(capacity);
    if (_wgetcwd(out, room) == nullptr) {
        out[0] = L'\0';
        return false;
    }
    return true;
}

bool IsDirectoryPath(const wchar_t* path) {
    if (path == nullptr) {
        return false;
    }
    struct _stat64 status;
    return _wstat64(path, &status) == 0 && (status.st_mode & _S_IFDIR) != 0;
}

bool CreateOneDirectory(const wchar_t* path) {
    return path != nullptr && _wmkdir(path) == 0;
}

std::size_t DirectorySearchSize() {
    return sizeof(WindowsDirectorySearch);
}

bool OpenDirectorySearch(void* storage, const wchar_t* directory) {
    if (storage == nullptr || directory == nullptr) {
        return false;
    }
    WindowsDirectorySearch* search = new (storage) WindowsDirectorySearch;
    try {
        // The backslash goes in whatever separator the name uses already.
        std::wstring pattern(directory);
        pattern += L"\\*.*";
        search->handle = FindFirstFileW(pattern.c_str(), &search->record);
    } catch (const std::bad_alloc&) {
        search->handle = INVALID_HANDLE_VALUE; // no room for the pattern
    }
    if (search->handle == INVALID_HANDLE_VALUE) {
        search->~WindowsDirectorySearch();
        return false;
    }
    search->firstPending = true;
    return true;
}

bool NextDirectoryEntry(void* storage, wchar_t* name) {
    WindowsDirectorySearch* search = static_cast<WindowsDirectorySearch*>(storage);
    if (search->firstPending) {
        search->firstPending = false;
    } else if (!FindNextFileW(search->handle, &search->record)) {
        return false;
    }
    CopyEntryName(search->record, name);
    return true;
}

void CloseDirectorySearch(void* storage) {
    WindowsDirectorySearch* search = static_cast<WindowsDirectorySearch*>(storage);
    FindClose(search->handle);
    search->~WindowsDirectorySearch();
}

} // namespace sys
} // namespace Orvex
