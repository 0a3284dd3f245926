// Saving a whole file so that a failure never costs the old one: the bytes go
// to a temporary file beside the target, are put on the disk, and only then
// does the temporary file take the target's place in one step. Configuration
// files and the profiler's timeline are saved through it.
#ifndef ORVEX_FILESYSTEM_DETAIL_FILEREPLACE_H
#define ORVEX_FILESYSTEM_DETAIL_FILEREPLACE_H

#include <cstdio>

namespace Orvex {
namespace detail {

// Writes the content into an open stream; false when a write failed.
typedef bool (*FileContentWriter)(std::FILE* stream, const void* content);

// Saves what `write` writes as the file `fileName`:
// - The target must be one a user could write (sys::ExamineSaveTarget): a
//   directory, a FIFO, a device, a link that leads nowhere or a file without
//   write permission is refused, and left as it is. A link is saved through,
//   the link kept.
// - The temporary file is ".~save" and eight hexadecimal digits (14 units)
//   in the target's folder: its name fits wherever the target's does, however
//   long the target's own name is. It is created new, with the permission
//   bits (POSIX) or attributes (Windows) of the file it replaces.
// - The bytes are flushed and put on the disk (sys::FlushStreamToDisk)
//   before the rename (sys::ReplaceFileWith): a reader sees the old file or
//   the whole new one.
// Returns true once the new file is in place. On any failure (a full disk, a
// write error, no memory) the temporary file is removed, the old file is as
// it was, and false is returned.
bool SaveByReplacing(const wchar_t* fileName, FileContentWriter write, const void* content);

} // namespace detail
} // namespace Orvex

#endif // ORVEX_FILESYSTEM_DETAIL_FILEREPLACE_H
