// The one gate every name the POSIX backend opens as a file passes through.
// Only a regular file (links followed) is ever opened: opening a FIFO waits
// for its other end, and succeeding releases a writer waiting there; opening
// a device may act on it (a terminal becomes the controlling one). So the
// name's type is asked first (stat), without opening anything; a regular file
// is then opened without waiting (O_NONBLOCK) and asked again (fstat), in case
// the name was replaced in between, before it may block as usual.
#ifndef ORVEX_PLATFORM_POSIX_REGULARFILE_H
#define ORVEX_PLATFORM_POSIX_REGULARFILE_H

#include <sys/types.h>

namespace Orvex {
namespace sys {

// Opens `name` (UTF-8) with the open(2) `flags` when it names a regular file.
// A missing name is created, with `mode` narrowed by the umask, only when
// `flags` hold O_CREAT, and always exclusively: a name that appears meanwhile
// is asked about again, and a link that leads nowhere is refused rather than
// followed to make its target. O_EXCL in `flags` refuses an existing file.
// Returns a blocking, close-on-exec descriptor, or -1 for a directory, a
// FIFO, a device, a socket, a missing name (without O_CREAT) or any failure.
int OpenRegularFile(const char* name, int flags, mode_t mode);

} // namespace sys
} // namespace Orvex

#endif // ORVEX_PLATFORM_POSIX_REGULARFILE_H
