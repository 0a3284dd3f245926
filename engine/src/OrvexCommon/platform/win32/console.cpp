// Console output on Windows: a real console gets the text as UTF-16 through
// WriteConsoleW; a redirected handle (file, pipe) gets the UTF-8 bytes through
// WriteFile, since WriteConsoleW fails on anything that is not a console.
#include "OrvexCommon/platform/OrvexSys.h"
#include "OrvexCommon/platform/win32/WindowsHeaders.h"
#include "OrvexCommon/text/OrvexText.h"

#include <new>
#include <string>

namespace Orvex {
namespace sys {

namespace {

void WriteBytes(HANDLE handle, const char* bytes, std::size_t length) {
    while (length > 0) {
        DWORD written = 0;
        const DWORD chunk = length > 0x40000000u ? 0x40000000u : static_cast<DWORD>(length);
        if (!WriteFile(handle, bytes, chunk, &written, nullptr) || written == 0) {
            return;
        }
        bytes += written;
        length -= written;
    }
}

} // namespace

void WriteConsoleText(ConsoleStream stream, const char* utf8, std::size_t length) {
    HANDLE handle =
        GetStdHandle(stream == ConsoleStream::Output ? STD_OUTPUT_HANDLE : STD_ERROR_HANDLE);
    if (handle == nullptr || handle == INVALID_HANDLE_VALUE) {
        return;
    }
    DWORD mode = 0;
    if (!GetConsoleMode(handle, &mode)) {
        WriteBytes(handle, utf8, length);
        return;
    }
    try {
        // The decoder wants its text terminated; a unit per byte is room.
        const std::string text(utf8, length);
        std::wstring wide(length + 1, L'\0');
        wide.resize(Utf8ToUcs(text.c_str(), &wide[0], static_cast<unsigned>(wide.size())) - 1);
        DWORD written = 0;
        WriteConsoleW(handle, wide.c_str(), static_cast<DWORD>(wide.size()), &written, nullptr);
    } catch (const std::bad_alloc&) {
        WriteBytes(handle, utf8, length); // no room to convert: the bytes as they are
    }
}

bool IsTerminal(ConsoleStream stream) {
    HANDLE handle =
        GetStdHandle(stream == ConsoleStream::Output ? STD_OUTPUT_HANDLE : STD_ERROR_HANDLE);
    if (handle == nullptr || handle == INVALID_HANDLE_VALUE) {
        return false;
    }
    DWORD mode = 0;
    return GetConsoleMode(handle, &mode) != 0;
}

} // namespace sys
} // namespace Orvex
