// The one gate every name the Windows backend opens as a file passes through.
// Only a file on a disk is opened: a name in the device namespace ("\\.\...",
// among them named pipes) and the reserved names the system sends there
// (NUL, CON, COM1, ...) are refused before anything opens them, since
// opening a pipe connects to it and opening a device may act on it; a
// directory is refused by its attributes; and what a name opens must still
// be a disk file (GetFileType), in case the name was replaced meanwhile.
#ifndef ORVEX_PLATFORM_WIN32_REGULARFILE_H
#define ORVEX_PLATFORM_WIN32_REGULARFILE_H

#include "OrvexCommon/platform/win32/WindowsHeaders.h"

namespace Orvex {
namespace sys {

enum class NameKind {
    Missing, // nothing has the name (or its attributes cannot be read)
    File,    // a file on a disk, or so its attributes say
    Other,   // a device, a pipe, a directory
};

// What `name` designates, asked without opening it.
NameKind KindOfName(const wchar_t* name);

// True when `name` lies in the device namespace, written so or resolved so.
bool NamesDevice(const wchar_t* name);

// True when an open handle is a file on a disk.
bool IsDiskFile(HANDLE handle);

} // namespace sys
} // namespace Orvex

#endif // ORVEX_PLATFORM_WIN32_REGULARFILE_H
