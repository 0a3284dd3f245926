// Console output on POSIX: the UTF-8 bytes go to descriptor 1 or 2 unchanged;
// a descriptor is a terminal when isatty says so.
#include "OrvexCommon/platform/OrvexSys.h"

#include <cerrno>
#include <unistd.h>

namespace Orvex {
namespace sys {

void WriteConsoleText(ConsoleStream stream, const char* utf8, std::size_t length) {
    const int descriptor = stream == ConsoleStream::Output ? STDOUT_FILENO : STDERR_FILENO;
    while (length > 0) {
        const ssize_t written = write(descriptor, utf8, length);
        if (written < 0) {
            if (errno == EINTR) {
                continue;
            }
            return; // closed or missing descriptor: the text is dropped
        }
        utf8 += written;
        length -= static_cast<std::size_t>(written);
    }
}

bool IsTerminal(ConsoleStream stream) {
    return isatty(stream == ConsoleStream::Output ? STDOUT_FILENO : STDERR_FILENO) == 1;
}

} // namespace sys
} // namespace Orvex
