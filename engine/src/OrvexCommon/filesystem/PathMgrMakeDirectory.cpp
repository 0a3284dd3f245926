// Creating every directory along a path.
//
// Each directory is created under the path of the one before it, composed in
// full, rather than by changing the working directory into each level in turn:
// the working directory belongs to the whole process, and another thread that
// opens a relative name meanwhile would land in the wrong place. Composing
// also means a level that cannot be created stops the levels below it from
// appearing anywhere else.
#include "OrvexCommon/filesystem/detail/PathMgrText.h"
#include "OrvexCommon/filesystem/detail/PathMgrWork.h"
#include "OrvexCommon/memory/OrvexMemory.h"
#include "OrvexCommon/platform/OrvexSys.h"

#include <cwchar>
#include <new>

namespace Orvex {
namespace detail {

namespace {

// Adds one component to the composed path and creates the directory it names.
// A failure (most often: it exists already) is no reason to stop, since the
// levels below may still be missing.
void CreateLevel(OrvexWString& composed, const wchar_t* component, std::size_t length) {
    if (!composed.empty() && !IsPathSeparator(composed.back())) {
        composed += L'/';
    }
    composed.append(component, length);
    sys::CreateOneDirectory(composed.c_str());
}

// Composes and creates the levels one after the other; see below.
void CreateEachLevel(const wchar_t* path) {
    const std::size_t length = std::wcslen(path);
    OrvexWString composed;
    composed.reserve(length);
    std::size_t start = 0;
    for (std::size_t end = 0; end <= length; ++end) {
        if (end < length && !IsPathSeparator(path[end])) {
            continue;
        }
        if (end > start) {
            CreateLevel(composed, path + start, end - start);
        } else if (end == 0 && length > 0) {
            composed += L'/';
        }
        start = end + 1;
    }
}

} // namespace

// Components end at '/', '\\' or the end of the text. A leading separator
// makes the path absolute (the root of the working directory's drive on
// Windows); a drive component ("C:") cannot be created, and what follows it
// lies in that drive's root. An empty component elsewhere (two separators in
// a row, or a trailing one) adds nothing, so "a//b" creates "a" and "a/b".
// The whole path is used, however long: the system refuses what it cannot
// create.
void CreateDirectoryChain(const wchar_t* path) {
    if (path == nullptr) {
        return;
    }
    try {
        CreateEachLevel(path);
    } catch (const std::bad_alloc&) {
        // No room to compose the path: nothing more can be created.
    }
}

} // namespace detail
} // namespace Orvex
