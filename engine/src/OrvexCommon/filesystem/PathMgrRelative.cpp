// One directory's path relative to another.
#include "OrvexCommon/filesystem/detail/PathMgrText.h"
#include "OrvexCommon/filesystem/detail/PathMgrWork.h"
#include "OrvexCommon/memory/OrvexMemory.h"
#include "OrvexCommon/platform/OrvexSys.h"

#include <algorithm>
#include <new>

namespace Orvex {
namespace detail {

namespace {

// Units read for the working directory, terminator included: the longest
// path POSIX promises to resolve; Windows working directories are shorter.
constexpr std::size_t kWorkingDirectoryCapacity = 4096;

// One spelling for comparison: ASCII letters lowered (no other letter
// changes), every '\\' made '/', and a final '/' so that each text reads as a
// directory.
OrvexWString ComparableDirectory(const wchar_t* path) {
    OrvexWString text(path);
    for (wchar_t& unit : text) {
        if (unit >= L'A' && unit <= L'Z') {
            unit = static_cast<wchar_t>(unit - L'A' + L'a');
        } else if (unit == L'\\') {
            unit = L'/';
        }
    }
    if (text.empty() || text.back() != L'/') {
        text += L'/';
    }
    return text;
}

// The working directory spelt like the arguments, so that a relative argument
// and an absolute one compare equal wherever they name the same place. False
// when it cannot be read.
bool ComparableWorkingDirectory(OrvexWString& out) {
    // On the heap rather than the stack: the buffer is large and seldom needed.
    OrvexWString buffer(kWorkingDirectoryCapacity, L'\0');
    if (!sys::ReadWorkingDirectory(&buffer[0], kWorkingDirectoryCapacity)) {
        return false;
    }
    out = ComparableDirectory(buffer.c_str());
    return true;
}

// Puts the working directory in front of relative texts; false when one needs
// it and it cannot be read.
bool MakeAbsolute(OrvexWString& from, OrvexWString& to) {
    const bool fromRelative = !IsAbsolutePath(from.c_str());
    const bool toRelative = !IsAbsolutePath(to.c_str());
    if (!fromRelative && !toRelative) {
        return true;
    }
    OrvexWString working;
    if (!ComparableWorkingDirectory(working)) {
        return false;
    }
    if (fromRelative) {
        from.insert(0, working);
    }
    if (toRelative) {
        to.insert(0, working);
    }
    return true;
}

// Where the last directory the two texts share ends: just after the last '/'
// of their common beginning.
std::size_t SharedDirectoryEnd(const OrvexWString& from, const OrvexWString& to) {
    std::size_t shared = 0;
    for (std::size_t i = 0; i < from.size() && i < to.size() && from[i] == to[i]; ++i) {
        if (from[i] == L'/') {
            shared = i + 1;
        }
    }
    return shared;
}

// "../" for every directory of `from` below the shared beginning, then the rest of
// `to`; "./" for one directory to itself.
OrvexWString RelativeText(const OrvexWString& from, const OrvexWString& to) {
    const std::size_t shared = SharedDirectoryEnd(from, to);
    const std::size_t levelsUp = static_cast<std::size_t>(
        std::count(from.begin() + static_cast<std::ptrdiff_t>(shared), from.end(), L'/'));
    OrvexWString result;
    for (std::size_t i = 0; i < levelsUp; ++i) {
        result += L"../";
    }
    result.append(to, shared, OrvexWString::npos);
    return result.empty() ? OrvexWString(L"./") : result;
}

// Null, with `out` untouched, whenever there is no whole answer: the two lie
// on different drives; a relative argument needs the working directory and it
// cannot be read; the result with its terminator needs more than `outLen`
// units (a cut relative path would lead somewhere else).
const wchar_t* RelativePathInto(const wchar_t* from, const wchar_t* to, wchar_t* out,
                                unsigned outLen) {
    OrvexWString fromText = ComparableDirectory(from);
    OrvexWString toText = ComparableDirectory(to);
    // POSIX paths all start at '/', so only Windows drives can differ.
    if (!MakeAbsolute(fromText, toText) || fromText[0] != toText[0]) {
        return nullptr;
    }
    const OrvexWString result = RelativeText(fromText, toText);
    if (result.size() >= outLen) {
        return nullptr;
    }
    std::copy(result.begin(), result.end(), out);
    out[result.size()] = L'\0';
    return out;
}

} // namespace

const wchar_t* WriteRelativePath(const wchar_t* from, const wchar_t* to, wchar_t* out,
                                 unsigned outLen) {
    if (from == nullptr || to == nullptr || out == nullptr) {
        return nullptr;
    }
    try {
        return RelativePathInto(from, to, out, outLen);
    } catch (const std::bad_alloc&) {
        return nullptr; // no memory to work in
    }
}

} // namespace detail
} // namespace Orvex
