// Watching directories on Windows: one handle per watched directory, each with
// one ReadDirectoryChangesW outstanding, all completing through one I/O
// completion port that the waiting thread reads. A posted packet wakes it.
// Also the stamp of a file and the open that refuses a file a writer holds.
#include "OrvexCommon/platform/OrvexSys.h"
#include "OrvexCommon/platform/win32/RegularFile.h"
#include "OrvexCommon/platform/win32/WindowsHeaders.h"

#include <fcntl.h>
#include <io.h>

#include <climits>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <new>

namespace Orvex {
namespace sys {

namespace {

// What the system buffers per watch between two reads; 64 KiB is also the
// most a read of a directory on a network share may ask for.
constexpr DWORD kChangeBufferBytes = 64 * 1024;

// Entries created, removed or renamed, and bytes written. Times and
// attributes alone are left out: no FileStamp tells them apart.
constexpr DWORD kChangeFilter = FILE_NOTIFY_CHANGE_FILE_NAME | FILE_NOTIFY_CHANGE_DIR_NAME |
                                FILE_NOTIFY_CHANGE_SIZE | FILE_NOTIFY_CHANGE_LAST_WRITE;

// The completion key of a wake; a watch's key is its number.
constexpr ULONG_PTR kWakeKey = ~static_cast<ULONG_PTR>(0);

// Packets one wait takes at most, so a directory that never stops changing
// cannot hold the wait forever.
constexpr int kMostPacketsPerWait = 256;

// How long a teardown waits for each cancelled read to come through the port.
constexpr DWORD kCancelWaitMs = 300;

// Failed reads of one watch in a row after which it counts as lost, so a read
// that keeps failing is not re-issued without end.
constexpr int kMostFailedReads = 2;

// One watched directory. The system writes into `overlapped` and `changes`
// while a read is outstanding, so the record never moves (the table holds
// pointers) and is freed only once its read has come back.
struct WatchRecord {
    HANDLE directory;
    OVERLAPPED overlapped;
    bool pending;    // a read is outstanding
    int failedReads; // failed completions since the last good one
    // DWORD-aligned, as the read needs.
    DWORD changes[kChangeBufferBytes / sizeof(DWORD)];
};

} // namespace

// Heap storage (AllocateBlock), never the pooled allocator. Only the waiting
// thread removes a record and only WatchDirectory adds one; the lock keeps
// the table whole between the two.
struct DirectoryWatcher {
    HANDLE port;
    SRWLOCK lock;
    WatchRecord** records; // a slot is null when free
    int capacity;
};

namespace {

bool IssueRead(WatchRecord* record) {
    std::memset(&record->overlapped, 0, sizeof(record->overlapped));
    record->pending =
        ReadDirectoryChangesW(record->directory, record->changes, kChangeBufferBytes, FALSE,
                              kChangeFilter, nullptr, &record->overlapped, nullptr) != 0;
    return record->pending;
}

// The record behind a completion key, null for a free slot or a stale key.
WatchRecord* RecordOf(DirectoryWatcher* watcher, ULONG_PTR key) {
    AcquireSRWLockExclusive(&watcher->lock);
    WatchRecord* record = key < static_cast<ULONG_PTR>(watcher->capacity)
                              ? watcher->records[static_cast<int>(key)]
                              : nullptr;
    ReleaseSRWLockExclusive(&watcher->lock);
    return record;
}

void Forget(DirectoryWatcher* watcher, int watch) {
    AcquireSRWLockExclusive(&watcher->lock);
    WatchRecord* record = watcher->records[watch];
    watcher->records[watch] = nullptr;
    ReleaseSRWLockExclusive(&watcher->lock);
    CloseHandle(record->directory);
    FreeBlock(record);
}

// A free slot, the table grown when it has none; -1 when it cannot grow. The
// caller holds the lock.
int FreeSlot(DirectoryWatcher* watcher) {
    for (int slot = 0; slot < watcher->capacity; ++slot) {
        if (watcher->records[slot] == nullptr) {
            return slot;
        }
    }
    if (watcher->capacity > INT_MAX / 2) {
        return -1;
    }
    const int capacity = watcher->capacity == 0 ? 8 : watcher->capacity * 2;
    auto** records = static_cast<WatchRecord**>(AllocateBlock(sizeof(WatchRecord*) * capacity));
    if (records == nullptr) {
        return -1;
    }
    for (int slot = 0; slot < capacity; ++slot) {
        records[slot] = slot < watcher->capacity ? watcher->records[slot] : nullptr;
    }
    FreeBlock(watcher->records);
    watcher->records = records;
    const int slot = watcher->capacity;
    watcher->capacity = capacity;
    return slot;
}

// The change an action of the system reports; false for an action reported as
// none.
bool ChangeOf(DWORD action, WatchChange& change) {
    switch (action) {
    case FILE_ACTION_ADDED:
    case FILE_ACTION_MODIFIED:
        change = WatchChange::Written;
        return true;
    case FILE_ACTION_REMOVED:
    case FILE_ACTION_RENAMED_OLD_NAME:
        change = WatchChange::Vanished;
        return true;
    case FILE_ACTION_RENAMED_NEW_NAME:
        change = WatchChange::Appeared;
        return true;
    default:
        return false;
    }
}

// Hands every change of a completed read to `visit`. The records are chained
// by offsets; one that would reach past what the read returned ends the walk.
void ReportChanges(const WatchRecord* record, DWORD bytes, int watch, WatchVisitor visit,
                   void* context) {
    const unsigned char* base = reinterpret_cast<const unsigned char*>(record->changes);
    const DWORD headerBytes = offsetof(FILE_NOTIFY_INFORMATION, FileName);
    DWORD offset = 0;
    while (bytes - offset >= headerBytes) {
        const auto* information = reinterpret_cast<const FILE_NOTIFY_INFORMATION*>(base + offset);
        if (information->FileNameLength > bytes - offset - headerBytes) {
            return;
        }
        WatchChange change = WatchChange::Written;
        if (visit != nullptr && ChangeOf(information->Action, change)) {
            // The name is counted, not terminated.
            wchar_t name[kEntryNameCapacity];
            std::size_t length = information->FileNameLength / sizeof(WCHAR);
            if (length > kEntryNameCapacity - 1) {
                length = kEntryNameCapacity - 1;
            }
            std::memcpy(name, information->FileName, length * sizeof(WCHAR));
            name[length] = L'\0';
            visit(WatchEvent{watch, change, name}, context);
        }
        const DWORD next = information->NextEntryOffset;
        if (next == 0 || next > bytes - offset) {
            return;
        }
        offset += next;
    }
}

enum class Outcome { Changes, Overflow, Lost };

// Takes one completed read of watch `watch`: reports what it holds and starts
// the next read, or ends the watch when no next read can be started.
Outcome TakeCompletion(DirectoryWatcher* watcher, int watch, WatchRecord* record, bool succeeded,
                       DWORD error, DWORD bytes, WatchVisitor visit, void* context) {
    record->pending = false;
    // A read that fails for any reason but a full buffer may be one the
    // system will fail again.
    const bool full = (succeeded && bytes == 0) || (!succeeded && error == ERROR_NOTIFY_ENUM_DIR);
    record->failedReads = succeeded || full ? 0 : record->failedReads + 1;
    if (succeeded && bytes > 0) {
        ReportChanges(record, bytes, watch, visit, context);
    }
    // A deleted directory fails the outstanding read and refuses the next one
    // (access denied: delete pending); its handle is closed at once so the
    // deletion can finish. (Wine fails neither: there the directory stays,
    // still listed, until the handle closes, and the watch goes on.)
    if (record->failedReads >= kMostFailedReads || !IssueRead(record)) {
        Forget(watcher, watch);
        if (visit != nullptr) {
            visit(WatchEvent{watch, WatchChange::Lost, L""}, context);
        }
        return Outcome::Lost;
    }
    // A failed read may have dropped changes as a full buffer does.
    return succeeded && bytes > 0 ? Outcome::Changes : Outcome::Overflow;
}

} // namespace

DirectoryWatcher* CreateDirectoryWatcher() {
    void* storage = AllocateBlock(sizeof(DirectoryWatcher));
    if (storage == nullptr) {
        return nullptr;
    }
    const HANDLE port = CreateIoCompletionPort(INVALID_HANDLE_VALUE, nullptr, 0, 1);
    if (port == nullptr) {
        FreeBlock(storage);
        return nullptr;
    }
    DirectoryWatcher* watcher = new (storage) DirectoryWatcher;
    watcher->port = port;
    InitializeSRWLock(&watcher->lock);
    watcher->records = nullptr;
    watcher->capacity = 0;
    return watcher;
}

int WatchDirectory(DirectoryWatcher* watcher, const wchar_t* directory) {
    if (watcher == nullptr || directory == nullptr || NamesDevice(directory)) {
        return -1;
    }
    // Asked before opening: the backup flag would open a file just as well.
    const DWORD attributes = GetFileAttributesW(directory);
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0 ||
        (attributes & FILE_ATTRIBUTE_DEVICE) != 0) {
        return -1;
    }
    auto* record = static_cast<WatchRecord*>(AllocateBlock(sizeof(WatchRecord)));
    if (record == nullptr) {
        return -1;
    }
    // Sharing everything, deletion included, so the watch never stands in
    // the way of what is done to the directory.
    record->directory = CreateFileW(
        directory, FILE_LIST_DIRECTORY, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
        nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OVERLAPPED, nullptr);
    if (record->directory == INVALID_HANDLE_VALUE) {
        FreeBlock(record);
        return -1;
    }
    if (!IsDiskFile(record->directory)) {
        CloseHandle(record->directory);
        FreeBlock(record);
        return -1;
    }
    record->pending = false;
    record->failedReads = 0;
    // The slot is taken and the first read started under the lock: the read
    // may complete before this returns, and the waiter must find its record.
    AcquireSRWLockExclusive(&watcher->lock);
    const int watch = FreeSlot(watcher);
    const bool started =
        watch >= 0 &&
        CreateIoCompletionPort(record->directory, watcher->port, static_cast<ULONG_PTR>(watch),
                               0) == watcher->port &&
        IssueRead(record);
    if (started) {
        watcher->records[watch] = record;
    }
    ReleaseSRWLockExclusive(&watcher->lock);
    if (!started) {
        CloseHandle(record->directory);
        FreeBlock(record);
        return -1;
    }
    return watch;
}

WatchWait WaitDirectoryChanges(DirectoryWatcher* watcher, unsigned timeoutMs, WatchVisitor visit,
                               void* context) {
    if (watcher == nullptr) {
        return WatchWait::Failed;
    }
    bool taken = false;
    bool overflow = false;
    // The first packet is waited for (UINT_MAX is INFINITE); the rest of a
    // burst is taken only when already queued.
    for (int packets = 0; packets < kMostPacketsPerWait; ++packets) {
        DWORD bytes = 0;
        ULONG_PTR key = 0;
        OVERLAPPED* overlapped = nullptr;
        const BOOL succeeded = GetQueuedCompletionStatus(watcher->port, &bytes, &key, &overlapped,
                                                         taken ? 0 : static_cast<DWORD>(timeoutMs));
        const DWORD error = succeeded ? ERROR_SUCCESS : GetLastError();
        if (overlapped == nullptr && !(succeeded && key == kWakeKey)) {
            // Nothing queued, or the port itself failed.
            if (!taken && error != WAIT_TIMEOUT) {
                return WatchWait::Failed;
            }
            break;
        }
        taken = true;
        if (key == kWakeKey) {
            continue;
        }
        WatchRecord* record = RecordOf(watcher, key);
        if (record == nullptr || overlapped != &record->overlapped) {
            continue;
        }
        if (TakeCompletion(watcher, static_cast<int>(key), record, succeeded != 0, error, bytes,
                           visit, context) == Outcome::Overflow) {
            overflow = true;
        }
    }
    if (overflow) {
        return WatchWait::Overflow;
    }
    return taken ? WatchWait::Events : WatchWait::Timeout;
}

void WakeDirectoryWatcher(DirectoryWatcher* watcher) {
    if (watcher != nullptr) {
        PostQueuedCompletionStatus(watcher->port, 0, kWakeKey, nullptr);
    }
}

void DestroyDirectoryWatcher(DirectoryWatcher* watcher) {
    if (watcher == nullptr) {
        return;
    }
    int outstanding = 0;
    for (int slot = 0; slot < watcher->capacity; ++slot) {
        WatchRecord* record = watcher->records[slot];
        if (record != nullptr) {
            if (record->pending) {
                CancelIoEx(record->directory, &record->overlapped);
                ++outstanding;
            }
            CloseHandle(record->directory);
        }
    }
    // A cancelled read still writes its record until its completion comes
    // through; one that never does within the bound keeps its memory, which
    // is better than the system writing into freed memory.
    while (outstanding > 0) {
        DWORD bytes = 0;
        ULONG_PTR key = 0;
        OVERLAPPED* overlapped = nullptr;
        GetQueuedCompletionStatus(watcher->port, &bytes, &key, &overlapped, kCancelWaitMs);
        if (overlapped == nullptr) {
            if (key == kWakeKey) {
                continue;
            }
            break;
        }
        WatchRecord* record =
            key < static_cast<ULONG_PTR>(watcher->capacity) ? watcher->records[key] : nullptr;
        if (record != nullptr && overlapped == &record->overlapped && record->pending) {
            record->pending = false;
            --outstanding;
        }
    }
    for (int slot = 0; slot < watcher->capacity; ++slot) {
        WatchRecord* record = watcher->records[slot];
        if (record != nullptr && !record->pending) {
            FreeBlock(record);
        }
    }
    CloseHandle(watcher->port);
    FreeBlock(watcher->records);
    watcher->~DirectoryWatcher();
    FreeBlock(watcher);
}

bool WatcherReportsClose() {
    return false;
}

bool FileNamesIgnoreCase() {
    return true;
}

bool ReadFileStamp(const wchar_t* name, FileStamp& out) {
    // Only files on a disk (RegularFile.h). Attribute access takes no part in
    // sharing, so the stamp is read whoever holds the file and however.
    if (name == nullptr || KindOfName(name) != NameKind::File) {
        return false;
    }
    const HANDLE file = CreateFileW(name, FILE_READ_ATTRIBUTES,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return false;
    }
    BY_HANDLE_FILE_INFORMATION information;
    const bool read = IsDiskFile(file) && GetFileInformationByHandle(file, &information) != 0 &&
                      (information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
    CloseHandle(file);
    if (!read) {
        return false;
    }
    out.size =
        (static_cast<std::uint64_t>(information.nFileSizeHigh) << 32) | information.nFileSizeLow;
    out.modified = static_cast<std::int64_t>(
        (static_cast<std::uint64_t>(information.ftLastWriteTime.dwHighDateTime) << 32) |
        information.ftLastWriteTime.dwLowDateTime);
    // The index names the file on its volume only; the serial, laid over the
    // index's upper half, keeps files of two volumes apart.
    const std::uint64_t index =
        (static_cast<std::uint64_t>(information.nFileIndexHigh) << 32) | information.nFileIndexLow;
    out.identity = index ^ (static_cast<std::uint64_t>(information.dwVolumeSerialNumber) << 32);
    return true;
}

std::FILE* OpenFileStreamWithoutWriters(const wchar_t* name) {
    // Only files on a disk (RegularFile.h).
    if (name == nullptr || KindOfName(name) != NameKind::File) {
        return nullptr;
    }
    // The probe shares reading only, so any open handle with write access
    // makes it fail (a sharing violation). It asks for data: an open for
    // attributes alone takes no part in sharing.
    const HANDLE probe = CreateFileW(name, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                     FILE_ATTRIBUTE_NORMAL, nullptr);
    if (probe == INVALID_HANDLE_VALUE) {
        return nullptr;
    }
    // Opened from the probe, the stream reads the file probed whatever the
    // name leads to by now. Sharing everything, it lets writers open the file
    // once the probe is closed; a rename over it is still refused while it is
    // open, as the system refuses one over any open file.
    const HANDLE file = IsDiskFile(probe)
                            ? ReOpenFile(probe, GENERIC_READ,
                                         FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, 0)
                            : INVALID_HANDLE_VALUE;
    CloseHandle(probe);
    if (file == INVALID_HANDLE_VALUE) {
        return nullptr;
    }
    const int descriptor = _open_osfhandle(reinterpret_cast<intptr_t>(file), _O_RDONLY | _O_BINARY);
    if (descriptor == -1) {
        CloseHandle(file);
        return nullptr;
    }
    // From here the descriptor owns the handle.
    std::FILE* stream = _fdopen(descriptor, "rb");
    if (stream == nullptr) {
        _close(descriptor);
    }
    return stream;
}

} // namespace sys
} // namespace Orvex
