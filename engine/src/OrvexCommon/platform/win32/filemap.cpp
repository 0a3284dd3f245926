// File mappings on Windows: a file handle, a named file-mapping object and one
// view of it. The name makes every view of one file, in any process, a view
// of one object; a mapping with no name (null or empty) is private to the
// call, and still coherent with other views of the file.
#include "OrvexCommon/platform/OrvexSys.h"
#include "OrvexCommon/platform/win32/WindowsHeaders.h"

namespace Orvex {
namespace sys {

bool MapFileView(const wchar_t* path, const wchar_t* name, unsigned size, bool readOnly,
                 MappedFile& out) {
    if (path == nullptr || size == 0) {
        return false;
    }
    HANDLE file = CreateFileW(path, readOnly ? GENERIC_READ : GENERIC_READ | GENERIC_WRITE,
                              FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return false;
    }
    const wchar_t* objectName = name != nullptr && name[0] != L'\0' ? name : nullptr;
    HANDLE mapping = CreateFileMappingW(file, nullptr, readOnly ? PAGE_READONLY : PAGE_READWRITE, 0,
                                        size, objectName);
    if (mapping == nullptr) {
        CloseHandle(file);
        return false;
    }
    // When this call made the object, `size` bytes are the whole mapping. When
    // the name already stood for an object (another view of the file is
    // alive), that object keeps the size it was made with; asking for exactly
    // `size` bytes makes a smaller one fail here instead of giving a view
    // shorter than the caller will use.
    void* view = MapViewOfFile(mapping, readOnly ? FILE_MAP_READ : FILE_MAP_WRITE, 0, 0, size);
    if (view == nullptr) {
        CloseHandle(mapping);
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
