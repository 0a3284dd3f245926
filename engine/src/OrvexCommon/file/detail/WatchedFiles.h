// The files and folders the watcher thread keeps an eye on, what it knows of
// each, and when a changed file has settled. Owned by the watcher thread
// alone: nothing here takes a lock, except what the sink does.
#ifndef ORVEX_FILE_DETAIL_WATCHEDFILES_H
#define ORVEX_FILE_DETAIL_WATCHEDFILES_H

#include "OrvexCommon/memory/OrvexMemory.h"
#include "OrvexCommon/platform/OrvexSys.h"

#include <cstdint>

namespace Orvex {
namespace detail {

struct SReadyReload;
struct SWatchedFolder;

struct SWatchedFile : COrvexPoolObject {
    OrvexWString name; // the name it was first loaded by
    OrvexWString path; // its folder's absolute path and its entry name
    SWatchedFolder* folder = nullptr;
    sys::FileStamp stamp;          // of the version last delivered (or first seen)
    bool present = false;          // `stamp` holds a version
    bool archive = false;          // a package or zip: reported, never reloaded
    bool reported = false;         // the gone notice, or the archive's change, went out
    bool dirty = false;            // changed since it was last looked at
    bool writerOpen = false;       // written and not yet closed (where closes are told)
    bool redeliver = false;        // a queued version was dropped: deliver even an equal stamp
    std::uint64_t changedAt = 0;   // when the last change was reported
    std::uint32_t retryMs = 0;     // the wait before the next look, after a refused one
    SReadyReload* ready = nullptr; // its queued delivery; the sink's, under its lock
};

struct SWatchedFolder : COrvexPoolObject {
    OrvexWString path; // absolute
    int watch = -1;    // -1: not watched (gone, or the system refused)
    TOrvexMap<OrvexWString, SWatchedFile*>
        files; // by entry name (case folded where names ignore case)
};

// Where settled files go: the queue Dispatch takes them from.
class IReloadSink {
public:
    // Room for `bytes` more in the queue (always for the first).
    virtual bool HasRoomFor(std::uint64_t bytes) = 0;
    // Queues the file's new bytes (moved from `bytes`); false without memory.
    virtual bool QueueReload(SWatchedFile& file, TOrvexVector<unsigned char>& bytes) = 0;
    virtual bool QueueGone(SWatchedFile& file) = 0;
    // Drops the file's queued delivery, if any: a newer change replaces it.
    // True when there was one.
    virtual bool DropQueued(SWatchedFile& file) = 0;

protected:
    ~IReloadSink() = default;
};

class CWatchedFiles {
public:
    CWatchedFiles(sys::DirectoryWatcher& watcher, IReloadSink& sink)
        : m_watcher(watcher), m_sink(sink) {}
    ~CWatchedFiles();
    CWatchedFiles(const CWatchedFiles&) = delete;
    CWatchedFiles& operator=(const CWatchedFiles&) = delete;

    // Starts watching a file opened under `path` (throws std::bad_alloc); a
    // file watched already stays as it is. A file whose folder cannot be
    // resolved is not watched.
    void Attach(const wchar_t* name, const wchar_t* path, bool archive);
    void OnChange(const sys::WatchEvent& event, std::uint64_t now);
    // After lost reports: every file is compared with its stamp, and folders
    // that went away are watched again where they are back.
    void Rescan(std::uint64_t now);
    // Delivers what has settled by `now`; returns how long the watcher
    // thread may wait before it must look again.
    unsigned Settle(std::uint64_t now, std::uint32_t settleMs);

    std::size_t FileCount() const { return m_files.size(); }
    std::size_t FolderCount() const { return m_folders.size(); }

private:
    enum class Look { Done, Retry, Full };
    SWatchedFolder* FolderOf(const OrvexWString& absolute);
    // Files the folder's watch number for its reports; false (the folder
    // then counts as unwatched) when it has none or no memory is left.
    bool ListWatch(SWatchedFolder& folder);
    void MarkChanged(SWatchedFile& file, std::uint64_t now, bool writerOpen);
    bool CompareStamp(SWatchedFile& file, std::uint64_t now);
    void WatchLostFolders(std::uint64_t now);
    Look LookAt(SWatchedFile& file);
    Look ReadSettled(SWatchedFile& file, const sys::FileStamp& before);
    void ReportArchive(SWatchedFile& file);

    sys::DirectoryWatcher& m_watcher;
    IReloadSink& m_sink;
    TOrvexMap<OrvexWString, SWatchedFolder*> m_folders; // by absolute path (case key)
    TOrvexMap<int, SWatchedFolder*> m_byWatch;
    TOrvexVector<SWatchedFile*> m_files;
    TOrvexVector<SWatchedFile*> m_dirty;
    std::size_t m_lostFolders = 0;
    std::uint64_t m_lastRewatch = 0;
};

} // namespace detail
} // namespace Orvex

#endif // ORVEX_FILE_DETAIL_WATCHEDFILES_H
