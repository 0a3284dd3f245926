// The file manager: the one place through which the engine reads its data
// files. A file is named by a wide path and found either loose on disk or
// inside a package file (a directory shipped as one file named like it with
// ".pkg" appended). The manager hands a file's bytes to a caller's listener,
// at once or from a background loading thread, and keeps three tables: the
// open packages, path aliases that redirect loose-file names, and in-memory
// patches that overlay the bytes of package files.
//
// The manager keeps no cache and counts no references: every load reads the
// file again. Objects from its factories belong to the caller, who gives them
// back with their Release.
//
// Memory: a call that runs out of memory reports it through its result
// (Load -1, IsFileExist, OpenPackage and Open false, the factories null) and
// leaves the manager as it was; the next call may succeed.
//
// Threads: Load, Dispatch, IsFileExist, the flags, aliases and patches are for
// the engine's main thread; listeners run on it too. The loading thread only
// reads files for pending loads.
//
// The manager (file/detail/FileMgr.h) owns the finished and pending request
// lists (TOrvexList of pooled SLoadRequests, guarded by one lock that is never
// held while a file is read or a listener runs), the flags, the path-alias
// table and the patch table, whose records are never removed (packages point
// into them).
//
// Loading: Load asks its sources (file/detail/FileSource.h: loose files
// through the aliases, then the name as given; files inside packages) in the
// order of the package-first flag; a source that has the file answers, even
// with a refusal. A packaged file's resident part is
// read in place (copied first when the package is mapped and scrambled, patched
// in that range, or the entry runs past the mapping) and its head is read from
// it; the rest is read straight from the mapping, copied out of it, read
// through a handle of its own (private mode) or queued for the loading thread.
// A loose file's head and extra data are read in the caller's thread. A rest
// that a pooled buffer cannot hold (2 GiB with its spare bytes) fails the load
// before any callback, as does a loose file's head whose extra data runs past
// the end of the file; a pool out of memory after OnLoadHead makes Load return
// -1 without OnLoadData.
//
// Resident parts and listeners of type -1: a packaged file with a resident
// part is loaded head first whatever the listener asks for. The head is read
// from the resident part and must carry the listener's type, so a listener of
// type -1 gets such a file only when its head says -1; a file with no valid
// head there fails every load (Load -1 before any callback). A packaged file
// without a resident part is never read for a head: every listener, typed or
// not, gets it whole in OnLoadData alone. orvex-pack gives a resident part by
// default only to files that begin with a valid head (docs/PACKAGE_FORMAT.md).
//
// The loading thread, started by the first SetAsyncLoad(true) at the highest
// normal priority, serves pending requests in order (through a copy of the
// package's reader, or a fresh handle for a loose file, retried every
// millisecond while the file does not open, for at most a second of
// wall-clock time, so that a file deleted after Load measured it does not
// hold up every load behind it) and moves each to the finished list.
// SetAsyncLoad(true) waits (at most 2 s) until the thread has entered the
// library's code (sys::ThreadLife), since a thread still starting could not
// get in while an unload holds the loader lock. Should an unload under the
// loader lock still find it starting (the host started it from its own
// module's entry), the thread is marked abandoned and ended by force
// (sys::ReleaseThreadAtUnload). A test loads the DLL, starts the thread and
// unloads at once, 200 times.
//
// Teardown: the quit flag, the thread stopped (joined on Linux; on Windows
// waited for until it has left the library's code, then its handle closed),
// Dispatch(0xFFFFFFFF), then pending requests are dropped without a callback:
// a loose file still being retried gets none. The package registry is created
// after the manager, so it is torn down first; it stops the loading thread
// before it closes any package handle, so the thread never reads through a
// closed handle.
#ifndef ORVEX_FILE_ORVEXFILE_H
#define ORVEX_FILE_ORVEXFILE_H

#include "OrvexCommon/base/OrvexExport.h"
#include "OrvexCommon/file/OrvexFileHead.h"

#include <cstdint>

namespace Orvex {

class CCommonFileHead;
class IIniFile;
class ITabFile;

// A view of a file's bytes. Positions are positions in the file: the byte at
// file position x is origin[x]. Only [start, end) is backed by memory; pos is
// the reading position that head readers advance.
struct SLoadBuffer {
    const unsigned char* origin;
    std::uint32_t pos;
    std::uint32_t end;
    std::uint32_t start;
};

// Implemented by callers of Load. The buffers passed in belong to the manager
// and are valid only during the call. The manager never destroys a listener;
// it must stay alive until its OnLoadData has run.
class IFileLoadListener {
public:
    // The file-type code the file's common head must carry, or -1 for files
    // without a head (a packaged file with a resident part still has its head
    // read, which must then say -1: see the top of this header).
    virtual std::int32_t GetFileType() = 0;
    // The head was read and matches; `buffer` stands just after it.
    virtual void OnLoadHead(const CCommonFileHead& head, SLoadBuffer& buffer) = 0;
    // The file's bytes from buffer.pos to buffer.end. A background load
    // whose loose file no longer opens when the loading thread reaches it
    // (deleted, or unopenable for a second) comes with none: pos == end.
    // Bytes a file lost after Load measured it (it shrank) read as zeros,
    // never as what the buffer held before.
    virtual void OnLoadData(SLoadBuffer& buffer) = 0;

protected:
    ~IFileLoadListener() = default;
};

// Blocking, random-access reading of one file the manager can find, loose or
// in a package. Positions are relative to the start of the file. Made by
// CreateReadFile, given back with Release; one thread at a time. A packaged
// file is read through a handle of the object's own in private mode and
// copied from the mapping in mapped mode; a package switched between modes
// under an open object keeps working.
class IReadFile {
public:
    // Closes, then looks for the file (packages and loose files in the
    // manager's order, aliases applied to loose names). True when it is open.
    virtual bool Open(const wchar_t* fileName) = 0;
    // The same for a UTF-8 name; false for null or a name of 1024 wide
    // characters or more (no room would be left for the terminator).
    virtual bool Open(const char* fileName) = 0;
    // Origin 0: from the start, 1: from the position, 2: from the end. False,
    // changing nothing, when closed or when the new position lies outside
    // [0, size]. Any other origin logs "Invalid seek origin." and throws that
    // text as a char*.
    virtual bool Seek(std::int32_t offset, std::int32_t origin) = 0;
    // Reads up to `size` bytes from the position and returns how many (the
    // bytes left at most); -1 when closed. Bytes the file does not really hold
    // read as zeros. The end is position + size in 32 bits, as callers written
    // for the format expect: a size that carries it past 4 GiB wraps below the
    // position and the read gives -1, the position unchanged.
    virtual std::int32_t Read(void* buffer, std::uint32_t size) = 0;
    virtual void Close() = 0;
    // Closes and destroys the object.
    virtual void Release() = 0;
    virtual std::uint32_t Tell() = 0;
    // Where the file starts inside its package; 0 for a loose file.
    virtual std::uint32_t GetOffset() = 0;
    virtual std::uint32_t GetSize() = 0;
    virtual bool IsOpen() = 0;
    // The path of the last loose file opened (packaged files leave it alone).
    virtual const wchar_t* GetFileName() = 0;

protected:
    ~IReadFile() = default;
};

// Called once when a package has been opened: progress 1.0 and the caller's
// value.
typedef void (*PackageProgressFun)(float progress, std::uint32_t userData);

class IOrvexFileMgr {
public:
    virtual bool IsAsyncLoad() = 0;
    // True starts the loading thread the first time; false never stops it, it
    // only makes later loads synchronous.
    virtual void SetAsyncLoad(bool enable) = 0;
    // Search packages before loose files (default: loose files first).
    virtual void SetPackageFirst(bool enable) = 0;
    // Deep (default): a path belongs to the package of its deepest directory
    // that has one. Shallow: to the package of its first directory.
    virtual void SetDeepPackageSearch(bool enable) = 0;
    // Delivers finished background loads for at most budgetMs milliseconds of
    // game time; true while any load is still pending or finished.
    virtual bool Dispatch(std::uint32_t budgetMs) = 0;
    virtual std::int32_t Load(const wchar_t* fileName, IFileLoadListener* listener) = 0;
    // True when a package holds the name or the file opens as given; aliases
    // are not applied. A loose file counts when it is a regular file the
    // process may read (sys::IsReadableRegularFile: its type is asked before
    // anything is opened, so a FIFO is never opened, and neither waits nor
    // releases a writer waiting on it; directories and devices are refused on
    // every target). Load, IReadFile::Open and package opening refuse the
    // same names the same way (the file gate in platform/OrvexSys.h).
    virtual bool IsFileExist(const wchar_t* fileName) = 0;
    virtual IReadFile* CreateReadFile() = 0;
    virtual IIniFile* CreateIniFile() = 0;
    virtual ITabFile* CreateTabFile() = 0;
    // Opens a package file (or one that exists only as a patch) and reads its
    // index; true when it is open. Opening an open package changes nothing; a
    // path that failed once fails for the rest of the process, unless it
    // failed for want of memory. keepMapped
    // leaves it memory-mapped, otherwise only the files' resident parts are
    // kept in memory.
    virtual bool OpenPackage(const wchar_t* path, PackageProgressFun progress,
                             std::uint32_t userData, bool keepMapped) = 0;
    // Switches the package holding fileName between mapped and private mode.
    virtual void SetPackageMapped(const wchar_t* fileName, bool mapped) = 0;
    // Registers the patch of a package path: `count` chunks, each a 32-bit
    // little-endian length, a 32-bit little-endian file offset and that many
    // bytes, in ascending offset order without overlap; `size` overrides the
    // file's length unless it is -1. Replaces an earlier patch of the same path
    // (spelled exactly the same). Returns the bytes of `data` consumed.
    virtual std::int32_t SetFilePatch(const wchar_t* path, std::int32_t size, std::uint32_t count,
                                      const void* data) = 0;
    // Loose-file names that begin with `prefix` (compared without case, '\'
    // equal to '/') are read from `replacement` followed by the rest of the
    // name. Only the nearest prefix at or below the name is tried; an empty
    // prefix catches what no nearer prefix matches.
    virtual void SetPathAlias(const wchar_t* prefix, const wchar_t* replacement) = 0;

protected:
    ~IOrvexFileMgr() = default;
};

// The process-wide manager, a function-local static created synchronous on
// the first call (meant to be made from the main thread; it starts no thread)
// and torn down when the library unloads.
ORVEX_API IOrvexFileMgr& GetOrvexFileMgr();

// Zip archives as a third source of files, beside loose files and packages:
// wherever a lookup tries a directory's package `<dir>.pkg` (deep and
// shallow search alike) it then tries `<dir>.zip`, and a package wins when
// both exist. Names in an archive are found as in a package of the same tree
// (`/` and `\` alike, case folded). Stored and deflated entries are read,
// with ZIP64; each entry's CRC-32 is checked as its bytes are read, and a
// mismatch fails the read. On by default; the switch applies to the next
// lookup. Archives already open stay open.
ORVEX_API void SetZipArchiveSearch(bool enable);
ORVEX_API bool IsZipArchiveSearch();

// ---- Hot reload ----
//
// While watching is on, the manager watches the folders of the loose files
// it opens (Load, file objects, configuration and table files: one watch per
// folder) and the package and zip files it has open. A watcher thread
// collects the system's change reports; nothing is read on the game's thread
// but during delivery.
//
// A loose file that changes is read again once it has settled: no change
// reported for the settle time (100 ms by default), and no writer holding it
// open. Where the system reports when a writer closes a file (Linux), a file
// written and not yet closed waits for that close, or for ten settle times
// of quiet, whichever comes first; on Windows the file is read through a
// handle that shares reading only, which cannot be had while a writer holds
// it and keeps writers out during the read. The read is checked against the
// file's stamp (size, last write, identity) before and after, so a file
// being replaced meanwhile is looked at again after another settle time: a
// half-written file is never delivered, and the saves editors make (in place,
// a temporary file renamed over, truncate then write, delete then create)
// each deliver the final bytes once. A change that comes while an earlier
// version of the same file waits for delivery replaces it; a file whose stamp
// is back to the one last delivered is not delivered again.
//
// Delivery happens in Dispatch, within its budget, after the loads finished
// before it, one file at a time: each reload listener registered for the
// file's name (compared as package names are: case folded, '\' equal to
// '/') and each registered for every name gets OnReload, then OnLoadHead and
// OnLoadData as for a synchronous first load, from bytes in memory. A file
// whose head the listener's type refuses is reported on the error stream and
// the listener hears nothing. A file that is deleted and has not come back
// after the settle time gives one OnReloadGone; when it comes back it is
// reloaded. Dispatch's result still tells only of loads.
//
// Packages and zip archives are never reloaded in place: files already
// delivered own mappings and offsets into them. A change to one is reported
// once on the error stream, "package changed on disk: <path>".
//
// Bounds: off, watching costs one flag test per loose open. Memory follows
// the files watched, not the changes: a report for a file that was never
// loaded is dropped at once, a burst of changes to one file is one pending
// mark, and settled files wait for delivery in at most 64 MiB (the rest wait
// on disk until Dispatch has made room). When the system drops reports (its
// queue overflowed), every watched file is looked at again by its stamp and
// what changed is delivered. A folder that goes away is watched again when
// it comes back (tried once a second).
//
// Known gaps: a change between a file's load and the moment the watcher
// thread takes its stamp (at most one wake of that thread) is not seen. On
// Windows, while the watcher reads a settled file (milliseconds), the system
// refuses to rename another file over it, as it does while any program has
// the file open; an editor that saves by renaming sees that refusal.
class IFileReloadListener : public IFileLoadListener {
public:
    // `fileName` (the name the file was first loaded by while watching) has
    // settled after a change; OnLoadHead and OnLoadData follow at once.
    virtual void OnReload(const wchar_t* fileName) = 0;
    // `fileName` was deleted and has not come back within the settle time.
    virtual void OnReloadGone(const wchar_t* fileName) = 0;

protected:
    ~IFileReloadListener() = default;
};

// Turns watching on or off (off by default). Turning it off stops the
// watcher thread and forgets the watched files and every change not yet
// delivered; nothing more is delivered. Listeners stay registered. Files are
// watched from their first open while watching is on.
ORVEX_API void SetFileWatching(bool enable);
ORVEX_API bool IsFileWatching();
// The quiet time after which a changed file counts as settled, in
// milliseconds (100 by default, at most 60000).
ORVEX_API void SetReloadSettleTime(std::uint32_t milliseconds);
ORVEX_API std::uint32_t GetReloadSettleTime();
// Registers `listener` for reloads of `fileName`, or of every file when
// `fileName` is null. A pair registered twice is called once. False for a
// null listener or when memory runs out. The listener must stay alive until
// it is removed.
ORVEX_API bool AddReloadListener(const wchar_t* fileName, IFileReloadListener* listener);
// Undoes AddReloadListener for the same name (or null) and listener.
ORVEX_API void RemoveReloadListener(const wchar_t* fileName, IFileReloadListener* listener);

} // namespace Orvex

#endif // ORVEX_FILE_ORVEXFILE_H
