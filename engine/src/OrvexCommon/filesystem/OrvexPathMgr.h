// Wide-character file-system paths: a root and a current path that callers
// move around relative to it, and static helpers that work on the file system
// directly (a recursive directory walk, file-or-directory tests, creating a
// chain of directories, one directory's path relative to another). Paths
// prefer '/' as separator and accept '\' on input. A path is absolute when it
// starts with a drive ("C:") on Windows or with '/' on POSIX.
//
// Root and current path live in fixed 1024-unit buffers. The static helpers go
// through the platform's directory services (sys::OpenDirectorySearch and the
// calls beside it: FindFirstFileW with "dir\*.*" on Windows, opendir on
// Linux), whose search state lives in the caller's storage, so a walk keeps
// each level in one pooled block sized to its directory plus the longest
// name. There is no 260-unit cut: MakeDirectory too passes whole paths to the
// system.
#ifndef ORVEX_FILESYSTEM_ORVEXPATHMGR_H
#define ORVEX_FILESYSTEM_ORVEXPATHMGR_H

#include "OrvexCommon/base/OrvexExport.h"

namespace Orvex {

class ORVEX_API CPathMgr {
public:
    // What a path names.
    enum FTW_FLAG {
        FTW_DIR = 0x10,  // a directory
        FTW_FILE = 0x80, // anything else
    };
    // What a walk's callback asks for next: FTW_STOP ends the whole walk,
    // FTW_SKIP goes on without entering the entry just reported, any other
    // value goes on and enters it (a directory, while depth remains).
    enum FTW_RESULT {
        FTW_STOP = 0,
        FTW_SKIP = 1,
        FTW_CONTINUE = 2,
    };
    typedef FTW_RESULT (*FTW_FUNC)(const wchar_t* path, FTW_FLAG flag, void* context);

    // Null or empty: the process's working directory with '/' separators (a
    // drive's root keeps its separator), or "." when it cannot be read.
    // Otherwise `root` with every '\\' made '/' and one trailing separator
    // removed. Root and current path are then equal; each holds at most 1023
    // units, longer text being cut. No case changes, no "." or ".." resolved.
    CPathMgr(const wchar_t* root = nullptr);
    // Copy and assignment copy both buffers whole.
    CPathMgr(const CPathMgr& other);
    CPathMgr& operator=(const CPathMgr& other);
    virtual ~CPathMgr();

    // Pointers into the object's buffers: valid for its life, they see later
    // changes.
    virtual const wchar_t* GetRootPath() const;
    virtual const wchar_t* GetCurPath() const;
    // Null or "": the current path becomes the root path. An absolute `path`
    // (see above) replaces it; any other becomes root + "/" + path (so a text
    // starting with a separator on Windows leaves two slashes). '\\' turns
    // into '/'; the result is cut to 1023 units.
    virtual void SetCurPath(const wchar_t* path);

    // FTW_DIR when `path` names a directory (links followed), FTW_FILE for
    // anything else, including a path that does not exist, cannot be examined
    // or is null: only a directory can be entered.
    static FTW_FLAG GetFlag(const wchar_t* path);
    // Reports every entry of `dir` to `fn` with its full path (`dir` + name,
    // with '/' between them unless `dir` ends in a separator; valid only
    // during the call) and its flag, in the file system's order, each
    // directory before its contents. ".", ".." and ".svn" (exactly so
    // spelt) are neither reported nor entered. Directories are entered while
    // depth remains: 0 reports only the entries directly in `dir`. Paths are
    // never cut, whatever their length; the system decides what it can list.
    // Each level takes one block from the pooled allocator for its search.
    // On POSIX, entry names that are not UTF-8 are passed over.
    // 1 when a callback answered FTW_STOP, else 0 (also when `dir` cannot be
    // listed, or `dir` or `fn` is null).
    static int FileTreeWalk(const wchar_t* dir, FTW_FUNC fn, void* context, unsigned depth);
    // Creates every directory along `path` ('/' or '\\' between components;
    // a trailing separator creates nothing more; two in a row count as one; a
    // leading one makes the path absolute): the directories that changing
    // into each level in turn would create. Each level is created under the
    // full path of the one before it; the working directory is never changed,
    // so other threads resolving relative paths meanwhile are not disturbed,
    // and a level that cannot be created keeps the levels below it from
    // appearing anywhere else (changing into each level would have created
    // them in the wrong place). Failures are ignored: an existing level is
    // simply passed. No length limit applies.
    static void MakeDirectory(const wchar_t* path);
    // Writes the path from directory `from` to directory `to` into `out`
    // (always ending in '/', "./" for the same directory) and returns `out`.
    // Both are compared with ASCII letters lowered and '\\' made '/'; a
    // relative argument is taken from the working directory, spelt the same
    // way, so a relative and an absolute argument compare correctly. The
    // result is lower case as compared. Returns null, leaving `out`
    // untouched, when the two lie on different drives (Windows), when the
    // working directory is needed and cannot be read, or when the result and
    // its terminator need more than `outLen` units: a cut path would lead
    // elsewhere.
    static const wchar_t* GetRelativePath(const wchar_t* from, const wchar_t* to, wchar_t* out,
                                          unsigned outLen);
    // Whether a search for `path` (its last component may hold the wildcards
    // '*' and '?', matched without case for ASCII letters) finds an entry and
    // that first entry is a directory; "." comes first, as Windows lists it.
    // The same search on every target, Linux included.
    static bool CheckDirectory(const wchar_t* path);

private:
    wchar_t m_rootPath[1024];
    wchar_t m_curPath[1024];
};

} // namespace Orvex

#endif // ORVEX_FILESYSTEM_ORVEXPATHMGR_H
