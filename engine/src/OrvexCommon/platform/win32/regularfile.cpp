// Opening files on a disk only (see RegularFile.h).
#include "OrvexCommon/platform/win32/RegularFile.h"

namespace Orvex {
namespace sys {

namespace {

bool IsSeparator(wchar_t unit) {
    return unit == L'\\' || unit == L'/';
}

// "\\.\" with either separator.
bool StartsInDeviceNamespace(const wchar_t* path) {
    return IsSeparator(path[0]) && IsSeparator(path[1]) && path[2] == L'.' && IsSeparator(path[3]);
}

} // namespace

bool NamesDevice(const wchar_t* name) {
    if (StartsInDeviceNamespace(name)) {
        return true;
    }
    // The system resolves a reserved name to "\\.\NAME", a short path: a
    // name whose full form does not fit MAX_PATH is no such name.
    wchar_t full[MAX_PATH + 1];
    const DWORD length = GetFullPathNameW(name, MAX_PATH + 1, full, nullptr);
    return length > 0 && length <= MAX_PATH && StartsInDeviceNamespace(full);
}

NameKind KindOfName(const wchar_t* name) {
    if (NamesDevice(name)) {
        return NameKind::Other;
    }
    const DWORD attributes = GetFileAttributesW(name);
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        return NameKind::Missing;
    }
    return (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE)) != 0 ? NameKind::Other
                                                                                  : NameKind::File;
}

bool IsDiskFile(HANDLE handle) {
    return GetFileType(handle) == FILE_TYPE_DISK;
}

} // namespace sys
} // namespace Orvex
