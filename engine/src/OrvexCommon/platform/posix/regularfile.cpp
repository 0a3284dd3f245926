// Opening regular files only (see RegularFile.h).
#include "OrvexCommon/platform/posix/RegularFile.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace Orvex {
namespace sys {

namespace {

// A missing name created by someone else between the stat and the exclusive
// open is looked at again; a dangling link fails every time.
constexpr int kCreateTries = 3;

int OpenWithoutWaiting(const char* name, int flags, mode_t mode) {
    int descriptor;
    do {
        descriptor = open(name, flags | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, mode);
    } while (descriptor < 0 && errno == EINTR);
    return descriptor;
}

// Keeps the descriptor only when it is a regular file, and lets it block from
// here on; closes it otherwise.
int KeepIfRegular(int descriptor) {
    struct stat status;
    const int flags = fcntl(descriptor, F_GETFL);
    if (fstat(descriptor, &status) != 0 || !S_ISREG(status.st_mode) || flags < 0 ||
        fcntl(descriptor, F_SETFL, flags & ~O_NONBLOCK) != 0) {
        close(descriptor);
        return -1;
    }
    return descriptor;
}

} // namespace

int OpenRegularFile(const char* name, int flags, mode_t mode) {
    if (name == nullptr) {
        return -1;
    }
    for (int attempt = 0; attempt < kCreateTries; ++attempt) {
        struct stat status;
        if (stat(name, &status) == 0) {
            if (!S_ISREG(status.st_mode) || (flags & O_EXCL) != 0) {
                return -1;
            }
            const int descriptor = OpenWithoutWaiting(name, flags & ~O_CREAT, 0);
            return descriptor < 0 ? -1 : KeepIfRegular(descriptor);
        }
        if (errno != ENOENT || (flags & O_CREAT) == 0) {
            return -1;
        }
        const int descriptor = OpenWithoutWaiting(name, flags | O_EXCL, mode);
        if (descriptor >= 0) {
            return KeepIfRegular(descriptor);
        }
        if (errno != EEXIST) {
            return -1;
        }
    }
    return -1;
}

} // namespace sys
} // namespace Orvex
