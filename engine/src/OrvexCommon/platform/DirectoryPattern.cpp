// The search by pattern, once for every platform, over the directory listing
// of the backend: the first entry of the path's directory whose name matches
// its last component, and whether that entry is a directory.
#include "OrvexCommon/platform/OrvexSys.h"

#include <cwchar>
#include <string>

namespace Orvex {
namespace sys {

namespace {

bool IsSeparator(wchar_t unit) {
    return unit == L'/' || unit == L'\\';
}

wchar_t Folded(wchar_t unit) {
    return unit >= L'A' && unit <= L'Z' ? static_cast<wchar_t>(unit - L'A' + L'a') : unit;
}

// '*' any run of characters, '?' any one; ASCII letters without case.
bool Matches(const wchar_t* pattern, const wchar_t* name) {
    const wchar_t* star = nullptr; // the last '*' seen, and where it started to match
    const wchar_t* resume = nullptr;
    while (*name != 0) {
        if (*pattern == L'*') {
            star = pattern++;
            resume = name;
        } else if (*pattern != 0 && (*pattern == L'?' || Folded(*pattern) == Folded(*name))) {
            ++pattern;
            ++name;
        } else if (star != nullptr) {
            pattern = star + 1;
            name = ++resume;
        } else {
            return false;
        }
    }
    while (*pattern == L'*') {
        ++pattern;
    }
    return *pattern == 0;
}

// The first entry of `directory` that `pattern` matches, "." before any
// other as the file systems of Windows list it; empty when none does.
std::wstring FirstMatch(const std::wstring& directory, const wchar_t* pattern) {
    if (Matches(pattern, L".")) {
        return L".";
    }
    void* storage = AllocateBlock(DirectorySearchSize());
    if (storage == nullptr || !OpenDirectorySearch(storage, directory.c_str())) {
        FreeBlock(storage);
        return std::wstring();
    }
    std::wstring found;
    wchar_t name[kEntryNameCapacity];
    while (found.empty() && NextDirectoryEntry(storage, name)) {
        if (std::wcscmp(name, L".") != 0 && Matches(pattern, name)) {
            found = name;
        }
    }
    CloseDirectorySearch(storage);
    FreeBlock(storage);
    return found;
}

} // namespace

bool FirstMatchIsDirectory(const wchar_t* path) {
    if (path == nullptr) {
        return false;
    }
    const std::size_t length = std::wcslen(path);
    std::size_t start = length;
    while (start > 0 && !IsSeparator(path[start - 1])) {
        --start;
    }
    const wchar_t* pattern = path + start;
    if (*pattern == 0) {
        return false; // a trailing separator names no entry
    }
    if (std::wcspbrk(pattern, L"*?") == nullptr) {
        return IsDirectoryPath(path);
    }
    try {
        // "" lists the root; a pattern without a directory searches the
        // working directory.
        const std::wstring directory =
            start == 0 ? std::wstring(L".") : std::wstring(path, start == 1 ? 0 : start - 1);
        const std::wstring match = FirstMatch(directory, pattern);
        return !match.empty() && IsDirectoryPath((std::wstring(path, start) + match).c_str());
    } catch (const std::bad_alloc&) {
        return false;
    }
}

} // namespace sys
} // namespace Orvex
