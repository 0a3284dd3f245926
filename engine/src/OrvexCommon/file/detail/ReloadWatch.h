// Hot reload: the watcher thread, the queue of settled files that Dispatch
// delivers, and the reload listeners (see the bottom of file/OrvexFile.h).
//
// One lock guards what the game's thread and the watcher thread share: the
// files noted for watching, the queue and its byte count, the listeners, and
// each watched file's `ready` link. The watched files themselves
// (detail/WatchedFiles.h) are the watcher thread's alone; the queue holds
// copies of what Dispatch needs, so a delivery never reads them.
#ifndef ORVEX_FILE_DETAIL_RELOADWATCH_H
#define ORVEX_FILE_DETAIL_RELOADWATCH_H

#include "OrvexCommon/file/OrvexFile.h"
#include "OrvexCommon/file/detail/WatchedFiles.h"
#include "OrvexCommon/memory/OrvexList.h"

#include <atomic>

namespace Orvex {
namespace detail {

// One delivery waiting for Dispatch: a settled file's bytes, or the notice
// that it is gone.
struct SReadyReload : COrvexListNode, COrvexPoolObject {
    OrvexWString name;
    TOrvexVector<unsigned char> bytes;
    bool gone = false;
    SWatchedFile* file = nullptr; // whose `ready` points here
};

class CReloadWatch final : private IReloadSink {
public:
    CReloadWatch() = default;
    ~CReloadWatch() { Enable(false); }
    CReloadWatch(const CReloadWatch&) = delete;
    CReloadWatch& operator=(const CReloadWatch&) = delete;

    // The game's thread. Off stops the thread and forgets every file and
    // every delivery not yet made. False when watching could not start.
    bool Enable(bool on);
    bool IsEnabled() const { return m_on.load(std::memory_order_relaxed); }
    void SetSettleTime(std::uint32_t milliseconds);
    std::uint32_t SettleTime() const { return m_settleMs.load(std::memory_order_relaxed); }

    // A loose file opened under `path` for `name`, or an archive opened; any
    // thread, one flag test while off.
    void NoteLooseFile(const wchar_t* name, const OrvexWString& path) { Note(name, path, false); }
    void NoteArchive(const wchar_t* path) { Note(path, path, true); }

    bool AddListener(const wchar_t* fileName, IFileReloadListener* listener);
    void RemoveListener(const wchar_t* fileName, IFileReloadListener* listener);
    // The listeners a delivery for `name` goes to, each once.
    void ListenersOf(const OrvexWString& name, TOrvexVector<IFileReloadListener*>& out);
    // The first queued delivery, taken off the queue (the caller deletes
    // it); null when none waits.
    SReadyReload* TakeReady();

    // Tests: the reports of the next wait are dropped, as a system whose
    // queue overflowed drops them.
    void DropNextReports() { m_dropReports = true; }
    // Deliveries waiting for Dispatch.
    std::size_t QueuedDeliveries();
    // True while files noted have not all been taken up by the watcher
    // thread (attached, or found to be watched already).
    bool NotesPending();
    // The files and folders watched (the watcher thread's counts, read
    // loosely).
    std::size_t WatchedFileCount() const { return m_watchedFiles.load(std::memory_order_relaxed); }
    std::size_t WatchedFolderCount() const {
        return m_watchedFolders.load(std::memory_order_relaxed);
    }

private:
    struct SNoted {
        OrvexWString name;
        OrvexWString path;
        bool archive;
    };

    void Note(const wchar_t* name, const OrvexWString& path, bool archive);
    bool Start();
    void Stop();
    void NoteOpenArchives();
    static unsigned ORVEX_THREAD_CALL ThreadMain(void* context);
    void Run();
    void AttachNoted();
    static void OnReport(const sys::WatchEvent& event, void* context);

    bool HasRoomFor(std::uint64_t bytes) override;
    bool QueueReload(SWatchedFile& file, TOrvexVector<unsigned char>& bytes) override;
    bool QueueGone(SWatchedFile& file) override;
    bool DropQueued(SWatchedFile& file) override;
    bool Queue(SWatchedFile& file, TOrvexVector<unsigned char>* bytes);

    sys::OwnedLock m_lock;
    std::atomic<bool> m_on{false};
    std::atomic<bool> m_quit{false};
    std::atomic<bool> m_dropReports{false};
    std::atomic<std::uint32_t> m_settleMs{100};
    std::atomic<std::size_t> m_watchedFiles{0};
    std::atomic<std::size_t> m_watchedFolders{0};
    sys::Thread* m_thread = nullptr;
    sys::ThreadLife m_life;
    sys::DirectoryWatcher* m_watcher = nullptr;
    CWatchedFiles* m_files = nullptr; // the watcher thread's while it runs
    bool m_droppedAny = false;        // the watcher thread's
    // Under m_lock:
    TOrvexVector<SNoted> m_noted;
    TOrvexList<SReadyReload> m_ready;
    std::uint64_t m_readyBytes = 0;
    std::size_t m_readyCount = 0;
    std::uint64_t m_notesMade = 0;
    std::uint64_t m_notesTaken = 0;
    TOrvexMap<OrvexWString, TOrvexVector<IFileReloadListener*>> m_named;
    TOrvexVector<IFileReloadListener*> m_everyName;
};

// The process-wide watch; made before the file manager, so it outlives it.
CReloadWatch& ReloadWatch();

// A package or zip archive opened at `path`: watched while watching is on.
void NoteArchiveForWatch(const wchar_t* path);

} // namespace detail
} // namespace Orvex

#endif // ORVEX_FILE_DETAIL_RELOADWATCH_H
