// The watcher thread and its life: started and stopped by the switch, fed
// the files opened while it runs, and queueing what settles for Dispatch.
#include "OrvexCommon/file/detail/ReloadWatch.h"
#include "OrvexCommon/file/detail/Package.h"
#include "OrvexCommon/file/detail/ZipArchive.h"
#include "OrvexCommon/log/OrvexLog.h"

#include <algorithm>
#include <new>
#include <utility>

namespace Orvex {
namespace detail {

namespace {

// Settled files wait for Dispatch in at most this many bytes (always one).
constexpr std::uint64_t kMostReadyBytes = 64ull << 20;
constexpr std::uint32_t kLongestSettleMs = 60000;
// How long turning watching on waits, at most, for the thread to get going.
constexpr unsigned kEntryWaitMs = 2000;

} // namespace

CReloadWatch& ReloadWatch() {
    static CReloadWatch watch;
    return watch;
}

void NoteArchiveForWatch(const wchar_t* path) {
    CReloadWatch& watch = ReloadWatch();
    if (watch.IsEnabled()) {
        watch.NoteArchive(path);
    }
}

bool CReloadWatch::Enable(bool on) {
    if (on == IsEnabled()) {
        return true;
    }
    if (!on) {
        Stop();
        return true;
    }
    if (!Start()) {
        GetErrStream() << "file watching could not start\n";
        Stop();
        return false;
    }
    NoteOpenArchives();
    return true;
}

void CReloadWatch::SetSettleTime(std::uint32_t milliseconds) {
    m_settleMs = std::min(milliseconds, kLongestSettleMs);
    if (m_watcher != nullptr) {
        sys::WakeDirectoryWatcher(m_watcher);
    }
}

bool CReloadWatch::Start() {
    m_watcher = sys::CreateDirectoryWatcher();
    if (m_watcher == nullptr) {
        return false;
    }
    try {
        m_files = new CWatchedFiles(*m_watcher, *this);
    } catch (const std::bad_alloc&) {
        return false;
    }
    m_quit = false;
    m_life.stage = sys::ThreadLife::kStarting;
    m_on = true; // before the thread, so no open in between goes unnoted
    m_thread = sys::StartThread(&CReloadWatch::ThreadMain, this, 0);
    if (m_thread == nullptr) {
        return false;
    }
    sys::AwaitLibraryEntry(m_life, kEntryWaitMs);
    return true;
}

void CReloadWatch::Stop() {
    m_on = false;
    m_quit = true;
    if (m_thread != nullptr) {
        sys::WakeDirectoryWatcher(m_watcher);
        sys::ReleaseThreadAtUnload(m_thread, m_life);
        m_thread = nullptr;
    }
    {
        sys::ScopedLock hold(m_lock.get());
        while (SReadyReload* ready = m_ready.GetFirst()) {
            ready->Unlink();
            delete ready;
        }
        m_readyBytes = 0;
        m_readyCount = 0;
        TOrvexVector<SNoted>().swap(m_noted);
        m_notesTaken = m_notesMade;
    }
    delete m_files;
    m_files = nullptr;
    m_watchedFiles = 0;
    m_watchedFolders = 0;
    sys::DestroyDirectoryWatcher(m_watcher);
    m_watcher = nullptr;
}

void CReloadWatch::NoteOpenArchives() {
    const auto note = [](const wchar_t* path, void* context) {
        static_cast<CReloadWatch*>(context)->NoteArchive(path);
    };
    VisitOpenPackagePaths(note, this);
    VisitOpenZipPaths(note, this);
}

void CReloadWatch::Note(const wchar_t* name, const OrvexWString& path, bool archive) {
    if (!IsEnabled() || name == nullptr || path.empty()) {
        return;
    }
    // Under the lock, so Stop cannot free the watcher between the test and
    // the wake.
    sys::ScopedLock hold(m_lock.get());
    if (!IsEnabled()) {
        return;
    }
    try {
        const bool wake = m_noted.empty();
        m_noted.push_back(SNoted{name, path, archive});
        ++m_notesMade;
        if (wake) {
            sys::WakeDirectoryWatcher(m_watcher);
        }
    } catch (const std::bad_alloc&) {
        // Not watched: loading goes on as ever.
    }
}

unsigned ORVEX_THREAD_CALL CReloadWatch::ThreadMain(void* context) {
    CReloadWatch& watch = *static_cast<CReloadWatch*>(context);
    if (sys::EnterLibraryCode(watch.m_life)) {
        watch.Run();
        sys::LeaveLibraryCode(watch.m_life);
    }
    return 0;
}

void CReloadWatch::Run() {
    while (!m_quit) {
        AttachNoted();
        const unsigned wait = m_files->Settle(sys::MonotonicMilliseconds(), SettleTime());
        m_droppedAny = false;
        const sys::WatchWait result = sys::WaitDirectoryChanges(m_watcher, wait, &OnReport, this);
        if (result == sys::WatchWait::Failed) {
            sys::SleepMilliseconds(wait); // no reports any more: stamps alone
        }
        if (result == sys::WatchWait::Overflow || result == sys::WatchWait::Failed ||
            m_droppedAny) {
            m_files->Rescan(sys::MonotonicMilliseconds());
        }
    }
}

void CReloadWatch::OnReport(const sys::WatchEvent& event, void* context) {
    CReloadWatch& watch = *static_cast<CReloadWatch*>(context);
    if (watch.m_dropReports.exchange(false) || watch.m_droppedAny) {
        watch.m_droppedAny = true; // the rest of this wait's reports go too
        return;
    }
    watch.m_files->OnChange(event, sys::MonotonicMilliseconds());
}

void CReloadWatch::AttachNoted() {
    TOrvexVector<SNoted> noted;
    {
        sys::ScopedLock hold(m_lock.get());
        noted.swap(m_noted);
    }
    for (const SNoted& file : noted) {
        try {
            m_files->Attach(file.name.c_str(), file.path.c_str(), file.archive);
        } catch (const std::bad_alloc&) {
            // Not watched; a later open of the file notes it again.
        }
    }
    m_watchedFolders = m_files->FolderCount();
    m_watchedFiles = m_files->FileCount();
    sys::ScopedLock hold(m_lock.get());
    m_notesTaken += noted.size();
}

bool CReloadWatch::NotesPending() {
    sys::ScopedLock hold(m_lock.get());
    return m_notesTaken != m_notesMade;
}

bool CReloadWatch::HasRoomFor(std::uint64_t bytes) {
    sys::ScopedLock hold(m_lock.get());
    return m_readyBytes == 0 || m_readyBytes + bytes <= kMostReadyBytes;
}

bool CReloadWatch::QueueReload(SWatchedFile& file, TOrvexVector<unsigned char>& bytes) {
    return Queue(file, &bytes);
}

bool CReloadWatch::QueueGone(SWatchedFile& file) {
    return Queue(file, nullptr);
}

bool CReloadWatch::Queue(SWatchedFile& file, TOrvexVector<unsigned char>* bytes) {
    SReadyReload* ready;
    try {
        ready = new SReadyReload;
        ready->name = file.name;
    } catch (const std::bad_alloc&) {
        return false;
    }
    ready->gone = bytes == nullptr;
    if (bytes != nullptr) {
        ready->bytes.swap(*bytes);
    }
    ready->file = &file;
    sys::ScopedLock hold(m_lock.get());
    file.ready = ready;
    m_readyBytes += ready->bytes.size();
    ++m_readyCount;
    m_ready.PushBack(*ready);
    return true;
}

bool CReloadWatch::DropQueued(SWatchedFile& file) {
    SReadyReload* ready;
    {
        sys::ScopedLock hold(m_lock.get());
        ready = file.ready;
        if (ready == nullptr) {
            return false;
        }
        ready->Unlink();
        file.ready = nullptr;
        m_readyBytes -= ready->bytes.size();
        --m_readyCount;
    }
    delete ready;
    return true;
}

std::size_t CReloadWatch::QueuedDeliveries() {
    sys::ScopedLock hold(m_lock.get());
    return m_readyCount;
}

SReadyReload* CReloadWatch::TakeReady() {
    sys::ScopedLock hold(m_lock.get());
    SReadyReload* ready = m_ready.GetFirst();
    if (ready != nullptr) {
        ready->Unlink();
        ready->file->ready = nullptr;
        m_readyBytes -= ready->bytes.size();
        --m_readyCount;
    }
    return ready;
}

} // namespace detail
} // namespace Orvex
