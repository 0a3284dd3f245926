// File mappings on Windows: a file handle, a named file-mapping object and one
// view of it. The name makes every view of one file, in any process, a view
// of one object; a mapping with no name (null or empty) is private to the
// call, and still coherent with other views of the file. A request the named
// object cannot serve (it is read-only or smaller) gets a private object.
#include "OrvexCommon/platform/OrvexSys.h"
#include "OrvexCommon/platform/win32/RegularFile.h"
#include "OrvexCommon/platform/win32/WindowsHeaders.h"

namespace Orvex {
namespace sys {

namespace {

// A mapping object of the file (named, or private to the call when `name` is
// null) and a view of its first `size` bytes; null, nothing left open, when
// either cannot be had.
void* MapObjectView(HANDLE file, const wchar_t* name, unsigned size, bool readOnly,
                    HANDLE& mapping) {
    mapping =
        CreateFileMappingW(file, nullptr, readOnly ? PAGE_READONLY : PAGE_READWRITE, 0, size, name);
    if (mapping == nullptr) {
        return nullptr;
    }
    // When the name already stood for an object (another view of the file is
    // alive), that object keeps the size and protection it was made with;
    // asking for exactly `size` bytes makes a smaller or read-only one fail
    // here instead of giving a view shorter than the caller will use.
    void* view = MapViewOfFile(mapping, readOnly ? FILE_MAP_READ : FILE_MAP_WRITE, 0, 0, size);
    if (view == nullptr) {
        CloseHandle(mapping);
        mapping = nullptr;
    }
    return view;
}

} // namespace

bool MapFileView(const wchar_t* path, const wchar_t* name, unsigned size, bool readOnly,
                 MappedFile& out) {
    // Only files on a disk are mapped (RegularFile.h).
    if (path == nullptr || size == 0 || KindOfName(path) == NameKind::Other) {
        return false;
    }
    HANDLE file = CreateFileW(path, readOnly ? GENERIC_READ : GENERIC_READ | GENERIC_WRITE,
                              FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return false;
    }
    if (!IsDiskFile(file)) {
        CloseHandle(file);
        return false;
    }
    const wchar_t* objectName = name != nullptr && name[0] != L'\0' ? name : nullptr;
    HANDLE mapping = nullptr;
    void* view = MapObjectView(file, objectName, size, readOnly, mapping);
    if (view == nullptr && objectName != nullptr) {
        // The named object cannot serve this access or size. A mapping of its
        // own still shares the file's pages with every other view of the
        // file, here and in other processes: views of one local file are
        // coherent whatever object they come from.
        view = MapObjectView(file, nullptr, size, readOnly, mapping);
    }
    if (view == nullptr) {
        CloseHandle(file);
        return false;
    }
    out.view = view;
    out.file = file;
    out.mapping = mapping;
    out.length = size;
    return true;
}

void UnmapFileView(const MappedFile& mapped) {
    UnmapViewOfFile(mapped.view);
    CloseHandle(static_cast<HANDLE>(mapped.mapping));
    CloseHandle(static_cast<HANDLE>(mapped.file));
}

} // namespace sys
} // namespace Orvex
