// Files on Windows: the runtime's wide open and the system's path resolver.
#include "OrvexCommon/platform/OrvexSys.h"
#include "OrvexCommon/platform/win32/RegularFile.h"
#include "OrvexCommon/platform/win32/WindowsHeaders.h"

#include <io.h>

#include <cstdint>
#include <cstdio>
#include <cwchar>

namespace Orvex {
namespace sys {

std::FILE* OpenFileStream(const wchar_t* name, const char* mode) {
    if (name == nullptr || mode == nullptr) {
        return nullptr;
    }
    // Only files on a disk (RegularFile.h); a missing name only for a mode
    // that creates.
    const NameKind kind = KindOfName(name);
    if (kind == NameKind::Other || (kind == NameKind::Missing && mode[0] == 'r')) {
        return nullptr;
    }
    // fopen modes are a few ASCII letters; widened unit by unit.
    wchar_t wideMode[16];
    std::size_t length = 0;
    for (; mode[length] != '\0'; ++length) {
        if (length + 1 >= sizeof(wideMode) / sizeof(wideMode[0])) {
            return nullptr;
        }
        wideMode[length] = static_cast<wchar_t>(static_cast<unsigned char>(mode[length]));
    }
    wideMode[length] = L'\0';
    std::FILE* stream = _wfopen(name, wideMode);
    if (stream != nullptr &&
        !IsDiskFile(reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stream))))) {
        std::fclose(stream);
        return nullptr;
    }
    return stream;
}

bool IsReadableRegularFile(const wchar_t* name) {
    if (name == nullptr || KindOfName(name) != NameKind::File) {
        return false;
    }
    // The sharing is the runtime's for a stream opened for reading.
    const HANDLE file = CreateFileW(name, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return false;
    }
    const bool regular = IsDiskFile(file);
    CloseHandle(file);
    return regular;
}

bool FlushStreamToDisk(std::FILE* stream) {
    return std::fflush(stream) == 0 && _commit(_fileno(stream)) == 0;
}

namespace {

bool IdentifyFile(std::FILE* stream, BY_HANDLE_FILE_INFORMATION& information) {
    const intptr_t handle = _get_osfhandle(_fileno(stream));
    return handle != -1 &&
           GetFileInformationByHandle(reinterpret_cast<HANDLE>(handle), &information) != 0;
}

} // namespace

bool IsSameFile(std::FILE* first, std::FILE* second) {
    BY_HANDLE_FILE_INFORMATION one;
    BY_HANDLE_FILE_INFORMATION other;
    return first != nullptr && second != nullptr && IdentifyFile(first, one) &&
           IdentifyFile(second, other) && one.dwVolumeSerialNumber == other.dwVolumeSerialNumber &&
           one.nFileIndexHigh == other.nFileIndexHigh && one.nFileIndexLow == other.nFileIndexLow;
}

bool ReplaceFileWith(const wchar_t* source, const wchar_t* target) {
    return source != nullptr && target != nullptr &&
           MoveFileExW(source, target, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
}

bool RemoveFile(const wchar_t* name) {
    return name != nullptr && DeleteFileW(name) != 0;
}

bool AbsoluteDirectory(const wchar_t* directory, wchar_t* out, std::size_t capacity) {
    if (directory == nullptr || out == nullptr || capacity == 0) {
        return false;
    }
    const DWORD room = capacity > MAXDWORD ? MAXDWORD : static_cast<DWORD>(capacity);
    // The count without the terminator on success; the room needed, terminator
    // included, when the buffer is too small; 0 on failure.
    const DWORD length = GetFullPathNameW(directory, room, out, nullptr);
    if (length == 0 || length >= room) {
        return false;
    }
    // "dir\" resolves to "C:\...\dir\", while the working directory reads
    // "C:\...\dir" once changed to it: the separator is dropped, except after a
    // drive ("C:\"), where the working directory keeps it too.
    if (length > 1 && (out[length - 1] == L'\\' || out[length - 1] == L'/') &&
        out[length - 2] != L':') {
        out[length - 1] = L'\0';
    }
    return true;
}

int SeekStream64(std::FILE* stream, std::int64_t offset, int origin) {
    return _fseeki64(stream, static_cast<__int64>(offset), origin);
}

std::int64_t TellStream64(std::FILE* stream) {
    return static_cast<std::int64_t>(_ftelli64(stream));
}

} // namespace sys
} // namespace Orvex
