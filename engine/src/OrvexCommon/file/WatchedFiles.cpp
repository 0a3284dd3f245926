// The watcher thread's view of the watched files: one watch per folder,
// changes marked per file, and a look at each file once it has been quiet
// for the settle time.
#include "OrvexCommon/file/detail/WatchedFiles.h"
#include "OrvexCommon/file/detail/PooledBytes.h"
#include "OrvexCommon/log/OrvexLog.h"

#include <algorithm>
#include <cstdio>
#include <new>

namespace Orvex {
namespace detail {

namespace {

// A file written and not closed counts as settled after this many settle
// times of quiet: some writers never close (truncate(2), a tool that keeps
// its file open).
constexpr std::uint32_t kUnclosedQuietFactor = 10;
// A look refused (a writer holds the file, or it changed under the read) is
// tried again after the settle time, then after twice as long, up to this.
constexpr std::uint32_t kLongestRetryMs = 1000;
// How often folders that went away are tried again.
constexpr std::uint64_t kRewatchEveryMs = 1000;
// How long the thread may sleep when nothing is pending; a new file or the
// end wakes it sooner.
constexpr unsigned kIdleWaitMs = 1000;
// How soon a full queue is looked at again: about a frame, in which Dispatch
// makes room.
constexpr unsigned kFullQueueWaitMs = 10;
constexpr std::size_t kLongestPath = 4096;

bool IsSeparator(wchar_t unit) {
    return unit == L'/' || (unit == L'\\' && sys::PathsHaveDrives());
}

// Names as the file system compares them.
OrvexWString CaseKey(const wchar_t* text) {
    OrvexWString key(text);
    if (sys::FileNamesIgnoreCase()) {
        for (wchar_t& unit : key) {
            if (unit >= L'A' && unit <= L'Z') {
                unit = static_cast<wchar_t>(unit + 0x20);
            }
        }
    }
    return key;
}

} // namespace

CWatchedFiles::~CWatchedFiles() {
    for (SWatchedFile* file : m_files) {
        delete file;
    }
    for (const auto& folder : m_folders) {
        delete folder.second;
    }
}

SWatchedFolder* CWatchedFiles::FolderOf(const OrvexWString& absolute) {
    const OrvexWString key = CaseKey(absolute.c_str());
    const auto found = m_folders.find(key);
    if (found != m_folders.end()) {
        return found->second;
    }
    SWatchedFolder* folder = new SWatchedFolder;
    try {
        folder->path = absolute;
        m_folders[key] = folder;
    } catch (...) {
        delete folder;
        throw;
    }
    folder->watch = sys::WatchDirectory(&m_watcher, absolute.c_str());
    if (!ListWatch(*folder)) {
        ++m_lostFolders; // tried again with the folders that went away
    }
    return folder;
}

bool CWatchedFiles::ListWatch(SWatchedFolder& folder) {
    if (folder.watch < 0) {
        return false;
    }
    try {
        m_byWatch[folder.watch] = &folder;
        return true;
    } catch (const std::bad_alloc&) {
        folder.watch = -1; // its reports could not be placed
        return false;
    }
}

void CWatchedFiles::Attach(const wchar_t* name, const wchar_t* path, bool archive) {
    const wchar_t* entry = path;
    for (const wchar_t* at = path; *at != L'\0'; ++at) {
        if (IsSeparator(*at)) {
            entry = at + 1;
        }
    }
    if (*entry == L'\0') {
        return;
    }
    OrvexWString folderPart(path, static_cast<std::size_t>(entry - path));
    if (folderPart.empty()) {
        folderPart = L".";
    }
    wchar_t absolute[kLongestPath];
    if (!sys::AbsoluteDirectory(folderPart.c_str(), absolute, kLongestPath)) {
        return;
    }
    SWatchedFolder* folder = FolderOf(absolute);
    const OrvexWString entryKey = CaseKey(entry);
    if (folder->files.count(entryKey) != 0) {
        return;
    }
    SWatchedFile* file = new SWatchedFile;
    try {
        file->name = name;
        file->path = absolute;
        if (!IsSeparator(file->path.back())) {
            file->path += L'/';
        }
        file->path += entry;
        file->folder = folder;
        file->archive = archive;
        file->present = sys::ReadFileStamp(file->path.c_str(), file->stamp);
        // Room for every file to be marked, so a report never allocates.
        m_files.reserve(m_files.size() + 1);
        m_dirty.reserve(m_files.size() + 1);
        folder->files[entryKey] = file;
    } catch (...) {
        delete file;
        throw;
    }
    m_files.push_back(file);
}

void CWatchedFiles::MarkChanged(SWatchedFile& file, std::uint64_t now, bool writerOpen) {
    if (!file.dirty) {
        file.dirty = true;
        m_dirty.push_back(&file); // room reserved when the file was attached
    }
    file.changedAt = now;
    file.retryMs = 0;
    file.writerOpen = writerOpen;
    if (!file.archive && m_sink.DropQueued(file)) {
        // What was dropped never reached the listeners: the next look
        // delivers the file even when its stamp has not moved since.
        file.redeliver = true;
        file.reported = false;
    }
}

void CWatchedFiles::OnChange(const sys::WatchEvent& event, std::uint64_t now) {
    const auto folderFound = m_byWatch.find(event.watch);
    if (folderFound == m_byWatch.end()) {
        return;
    }
    SWatchedFolder& folder = *folderFound->second;
    if (event.change == sys::WatchChange::Lost) {
        m_byWatch.erase(folderFound);
        folder.watch = -1;
        ++m_lostFolders;
        for (const auto& file : folder.files) {
            MarkChanged(*file.second, now, false);
        }
        return;
    }
    OrvexWString key;
    try {
        key = CaseKey(event.name);
    } catch (const std::bad_alloc&) {
        return; // a change that cannot be placed is found by the next rescan
    }
    const auto fileFound = folder.files.find(key);
    if (fileFound == folder.files.end()) {
        return; // never loaded: dropped at once
    }
    SWatchedFile& file = *fileFound->second;
    switch (event.change) {
    case sys::WatchChange::Written:
        MarkChanged(file, now, sys::WatcherReportsClose());
        break;
    case sys::WatchChange::Touched:
        MarkChanged(file, now, file.writerOpen);
        break;
    default:
        MarkChanged(file, now, false);
        break;
    }
}

bool CWatchedFiles::CompareStamp(SWatchedFile& file, std::uint64_t now) {
    sys::FileStamp stamp;
    const bool present = sys::ReadFileStamp(file.path.c_str(), stamp);
    if (present != file.present || (present && stamp != file.stamp)) {
        // What became of a writer is not known: the look itself tells.
        MarkChanged(file, now, false);
        return true;
    }
    return false;
}

void CWatchedFiles::Rescan(std::uint64_t now) {
    WatchLostFolders(now);
    for (SWatchedFile* file : m_files) {
        (void)CompareStamp(*file, now);
    }
}

void CWatchedFiles::WatchLostFolders(std::uint64_t now) {
    m_lastRewatch = now;
    for (const auto& entry : m_folders) {
        SWatchedFolder& folder = *entry.second;
        if (folder.watch >= 0) {
            continue;
        }
        folder.watch = sys::WatchDirectory(&m_watcher, folder.path.c_str());
        if (!ListWatch(folder)) {
            continue;
        }
        --m_lostFolders;
        // What happened while it was gone.
        for (const auto& file : folder.files) {
            (void)CompareStamp(*file.second, now);
        }
    }
}

unsigned CWatchedFiles::Settle(std::uint64_t now, std::uint32_t settleMs) {
    std::uint64_t wait = kIdleWaitMs;
    std::size_t kept = 0;
    bool full = false;
    for (std::size_t at = 0; at < m_dirty.size(); ++at) {
        SWatchedFile& file = *m_dirty[at];
        const std::uint64_t quiet = now - file.changedAt;
        const std::uint64_t needed =
            file.retryMs != 0
                ? file.retryMs
                : std::uint64_t{settleMs} * (file.writerOpen ? kUnclosedQuietFactor : 1);
        Look look = Look::Retry;
        if (full || quiet < needed) {
            wait = std::min(wait, full ? std::uint64_t{kFullQueueWaitMs} : needed - quiet);
        } else if ((look = LookAt(file)) == Look::Done) {
            file.dirty = false;
            continue;
        } else if (look == Look::Full) {
            full = true; // Dispatch makes room; the rest wait on disk
            wait = std::min<std::uint64_t>(wait, kFullQueueWaitMs);
        } else {
            file.changedAt = now;
            file.retryMs =
                std::min(std::max(file.retryMs * 2, std::max(settleMs, 1u)), kLongestRetryMs);
            wait = std::min<std::uint64_t>(wait, file.retryMs);
        }
        m_dirty[kept++] = &file;
    }
    m_dirty.resize(kept);
    if (m_lostFolders > 0) {
        if (now - m_lastRewatch >= kRewatchEveryMs) {
            WatchLostFolders(now);
        }
        wait = std::min<std::uint64_t>(wait, kRewatchEveryMs);
    }
    return static_cast<unsigned>(std::max<std::uint64_t>(wait, 1));
}

CWatchedFiles::Look CWatchedFiles::LookAt(SWatchedFile& file) {
    if (file.archive) {
        ReportArchive(file);
        return Look::Done;
    }
    sys::FileStamp before;
    if (!sys::ReadFileStamp(file.path.c_str(), before)) {
        if (!file.reported && !m_sink.QueueGone(file)) {
            return Look::Retry;
        }
        file.reported = true;
        file.present = false;
        return Look::Done;
    }
    if (file.present && before == file.stamp && !file.redeliver) {
        return Look::Done; // back to the version last delivered
    }
    if (!FitsPooledBuffer(before.size)) {
        GetErrStream() << "reloaded file too large: " << file.path.c_str() << "\n";
        file.stamp = before;
        file.present = true;
        return Look::Done;
    }
    if (!m_sink.HasRoomFor(before.size)) {
        return Look::Full;
    }
    return ReadSettled(file, before);
}

CWatchedFiles::Look CWatchedFiles::ReadSettled(SWatchedFile& file, const sys::FileStamp& before) {
    // Refused while a writer holds it (Windows), or gone since the stamp.
    std::FILE* stream = sys::OpenFileStreamWithoutWriters(file.path.c_str());
    if (stream == nullptr) {
        return Look::Retry;
    }
    TOrvexVector<unsigned char> bytes;
    bool whole = false;
    try {
        bytes.resize(static_cast<std::size_t>(before.size));
        whole = std::fread(bytes.data(), 1, bytes.size(), stream) == bytes.size() &&
                std::fgetc(stream) == EOF;
    } catch (const std::bad_alloc&) {
        whole = false;
    }
    std::fclose(stream);
    // The same version before and after the read, or it was being replaced.
    sys::FileStamp after;
    if (!whole || !sys::ReadFileStamp(file.path.c_str(), after) || after != before ||
        !m_sink.QueueReload(file, bytes)) {
        return Look::Retry;
    }
    file.stamp = after;
    file.present = true;
    file.reported = false;
    file.redeliver = false;
    return Look::Done;
}

void CWatchedFiles::ReportArchive(SWatchedFile& file) {
    sys::FileStamp stamp;
    const bool present = sys::ReadFileStamp(file.path.c_str(), stamp);
    if (file.reported || (present == file.present && (!present || stamp == file.stamp))) {
        return;
    }
    file.reported = true;
    GetErrStream() << "package changed on disk: " << file.path.c_str() << "\n";
}

} // namespace detail
} // namespace Orvex
