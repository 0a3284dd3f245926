// Watching directories on POSIX: one inotify instance per watcher, and a
// pipe whose read end the wait polls beside it, so another thread can wake
// the wait.
#include "OrvexCommon/platform/OrvexSys.h"
#include "OrvexCommon/platform/posix/EntryName.h"
#include "OrvexCommon/platform/posix/NarrowName.h"

#include <cerrno>
#include <cstdint>
#include <fcntl.h>
#include <initializer_list>
#include <new>
#include <poll.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

namespace Orvex {
namespace sys {

namespace {
// Room for many events per read; the kernel hands over whole events only.
constexpr std::size_t kEventBufferSize = 64 * 1024;
} // namespace

struct DirectoryWatcher {
    int notify = -1;
    int wakeRead = -1;
    int wakeWrite = -1;
    // One thread waits at a time, so one buffer serves every read.
    alignas(inotify_event) char buffer[kEventBufferSize];
};

namespace {

// What a directory's watch asks for. A file created is open for writing by
// its creator; a rename brings a whole file; IN_IGNORED (the end of a watch)
// comes unasked.
constexpr std::uint32_t kWatchMask = IN_CREATE | IN_MODIFY | IN_CLOSE_WRITE | IN_ATTRIB |
                                     IN_MOVED_TO | IN_MOVED_FROM | IN_DELETE | IN_MOVE_SELF |
                                     IN_ONLYDIR;

bool ChangeOfMask(std::uint32_t mask, WatchChange& change) {
    if ((mask & IN_IGNORED) != 0) {
        change = WatchChange::Lost;
    } else if ((mask & IN_ISDIR) != 0) {
        return false; // subdirectories are not watched
    } else if ((mask & (IN_CREATE | IN_MODIFY)) != 0) {
        change = WatchChange::Written;
    } else if ((mask & IN_CLOSE_WRITE) != 0) {
        change = WatchChange::Closed;
    } else if ((mask & IN_ATTRIB) != 0) {
        change = WatchChange::Touched;
    } else if ((mask & IN_MOVED_TO) != 0) {
        change = WatchChange::Appeared;
    } else if ((mask & (IN_MOVED_FROM | IN_DELETE)) != 0) {
        change = WatchChange::Vanished;
    } else {
        return false;
    }
    return true;
}

// Hands one event to the visitor; a name with no exact wide spelling could
// not be a file the library opened, so it is passed over.
void Report(DirectoryWatcher& watcher, const inotify_event& event, WatchVisitor visit,
            void* context) {
    if ((event.mask & IN_MOVE_SELF) != 0) {
        // The directory moved away: its names no longer lead to it. Ending
        // the watch brings IN_IGNORED, reported as Lost.
        (void)inotify_rm_watch(watcher.notify, event.wd);
        return;
    }
    WatchChange change;
    if (!ChangeOfMask(event.mask, change)) {
        return;
    }
    wchar_t name[kEntryNameCapacity] = L"";
    if (change != WatchChange::Lost && event.len > 0 &&
        !DecodeEntryName(event.name, name, kEntryNameCapacity)) {
        return;
    }
    visit(WatchEvent{event.wd, change, name}, context);
}

// Reads every event queued now. True when any arrived; `overflow` is set when
// the kernel's queue overflowed.
bool ReadEvents(DirectoryWatcher& watcher, WatchVisitor visit, void* context, bool& overflow) {
    char* const buffer = watcher.buffer;
    bool any = false;
    for (;;) {
        const ssize_t length = read(watcher.notify, buffer, kEventBufferSize);
        if (length <= 0) {
            return any; // EAGAIN: the queue is empty
        }
        any = true;
        for (ssize_t at = 0; at < length;) {
            const auto& event = *reinterpret_cast<const inotify_event*>(buffer + at);
            if ((event.mask & IN_Q_OVERFLOW) != 0) {
                overflow = true;
            } else {
                Report(watcher, event, visit, context);
            }
            at += static_cast<ssize_t>(sizeof(inotify_event) + event.len);
        }
    }
}

void DrainWake(int descriptor) {
    char bytes[64];
    while (read(descriptor, bytes, sizeof(bytes)) > 0) {
    }
}

} // namespace

DirectoryWatcher* CreateDirectoryWatcher() {
    void* storage = AllocateBlock(sizeof(DirectoryWatcher));
    if (storage == nullptr) {
        return nullptr;
    }
    auto* watcher = new (storage) DirectoryWatcher;
    int wake[2];
    watcher->notify = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (watcher->notify < 0 || pipe2(wake, O_NONBLOCK | O_CLOEXEC) != 0) {
        DestroyDirectoryWatcher(watcher);
        return nullptr;
    }
    watcher->wakeRead = wake[0];
    watcher->wakeWrite = wake[1];
    return watcher;
}

int WatchDirectory(DirectoryWatcher* watcher, const wchar_t* directory) {
    if (watcher == nullptr || directory == nullptr) {
        return -1;
    }
    const NarrowName narrow(directory[0] == L'\0' ? L"." : directory);
    if (!narrow.IsWhole()) {
        return -1;
    }
    return inotify_add_watch(watcher->notify, narrow.c_str(), kWatchMask);
}

WatchWait WaitDirectoryChanges(DirectoryWatcher* watcher, unsigned timeoutMs, WatchVisitor visit,
                               void* context) {
    if (watcher == nullptr || visit == nullptr) {
        return WatchWait::Failed;
    }
    pollfd waits[2] = {{watcher->notify, POLLIN, 0}, {watcher->wakeRead, POLLIN, 0}};
    const int timeout = timeoutMs > 0x7FFFFFFFu ? -1 : static_cast<int>(timeoutMs);
    const int ready = poll(waits, 2, timeout);
    if (ready < 0) {
        return errno == EINTR ? WatchWait::Events : WatchWait::Failed;
    }
    bool woken = false;
    if ((waits[1].revents & POLLIN) != 0) {
        DrainWake(watcher->wakeRead);
        woken = true;
    }
    bool overflow = false;
    const bool any =
        (waits[0].revents & POLLIN) != 0 && ReadEvents(*watcher, visit, context, overflow);
    if (overflow) {
        return WatchWait::Overflow;
    }
    return any || woken ? WatchWait::Events : WatchWait::Timeout;
}

void WakeDirectoryWatcher(DirectoryWatcher* watcher) {
    if (watcher != nullptr) {
        const char byte = 1;
        // A full pipe already holds a wake.
        (void)!write(watcher->wakeWrite, &byte, 1);
    }
}

void DestroyDirectoryWatcher(DirectoryWatcher* watcher) {
    if (watcher == nullptr) {
        return;
    }
    for (const int descriptor : {watcher->notify, watcher->wakeRead, watcher->wakeWrite}) {
        if (descriptor >= 0) {
            close(descriptor);
        }
    }
    watcher->~DirectoryWatcher();
    FreeBlock(watcher);
}

bool WatcherReportsClose() {
    return true;
}

bool FileNamesIgnoreCase() {
    return false;
}

bool ReadFileStamp(const wchar_t* name, FileStamp& out) {
    if (name == nullptr) {
        return false;
    }
    const NarrowName narrow(name);
    struct stat status;
    if (!narrow.IsWhole() || stat(narrow.c_str(), &status) != 0 || !S_ISREG(status.st_mode)) {
        return false;
    }
    out.size = static_cast<std::uint64_t>(status.st_size);
    out.modified =
        static_cast<std::int64_t>(status.st_mtim.tv_sec) * 1000000000 + status.st_mtim.tv_nsec;
    out.identity = static_cast<std::uint64_t>(status.st_ino) ^
                   (static_cast<std::uint64_t>(status.st_dev) << 40);
    return true;
}

std::FILE* OpenFileStreamWithoutWriters(const wchar_t* name) {
    return OpenFileStream(name, "rb");
}

} // namespace sys
} // namespace Orvex
