// What a save may replace on Windows, and its temporary file.
#include "OrvexCommon/platform/OrvexSys.h"
#include "OrvexCommon/platform/win32/RegularFile.h"
#include "OrvexCommon/platform/win32/WindowsHeaders.h"

#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <cwchar>

namespace Orvex {
namespace sys {

namespace {

// The attributes a replacement keeps; the others describe the file's storage
// (compression, sparseness, links) or are the system's to set.
constexpr DWORD kKeptAttributes = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
                                  FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;

// What makes a name no file a save may replace: read-only for everyone (see
// ExamineSaveTarget in OrvexSys.h), or not a file.
constexpr DWORD kRefusedAttributes =
    FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE;

} // namespace

bool ExamineSaveTarget(const wchar_t* name, wchar_t* path, std::size_t capacity, SaveTarget& out) {
    if (name == nullptr || path == nullptr || NamesDevice(name)) {
        return false;
    }
    const std::size_t length = std::wcslen(name);
    if (length >= capacity) {
        return false;
    }
    const DWORD attributes = GetFileAttributesW(name);
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        // Nothing there: a first save. Any other failure (no folder, no
        // access) leaves nothing a save could do.
        if (GetLastError() != ERROR_FILE_NOT_FOUND) {
            return false;
        }
        out = SaveTarget{false, 0};
    } else if ((attributes & kRefusedAttributes) != 0) {
        return false;
    } else {
        out = SaveTarget{true, attributes & kKeptAttributes};
    }
    std::wmemcpy(path, name, length + 1);
    return true;
}

std::FILE* CreateFileStreamLike(const wchar_t* name, const SaveTarget& like) {
    if (name == nullptr || NamesDevice(name)) {
        return nullptr;
    }
    const DWORD attributes =
        like.exists && like.keep != 0 ? like.keep & kKeptAttributes : FILE_ATTRIBUTE_NORMAL;
    const HANDLE file =
        CreateFileW(name, GENERIC_WRITE, 0, nullptr, CREATE_NEW, attributes, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return nullptr;
    }
    const int descriptor = _open_osfhandle(reinterpret_cast<intptr_t>(file), _O_BINARY | _O_WRONLY);
    if (descriptor == -1) {
        CloseHandle(file);
        DeleteFileW(name);
        return nullptr;
    }
    std::FILE* stream = _fdopen(descriptor, "wb");
    if (stream == nullptr) {
        _close(descriptor);
        DeleteFileW(name);
    }
    return stream;
}

} // namespace sys
} // namespace Orvex
