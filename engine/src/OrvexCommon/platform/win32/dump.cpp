// Crash dumps on Windows: a minidump through dbghelp.
#include "OrvexCommon/platform/OrvexSys.h"
#include "OrvexCommon/platform/win32/WindowsHeaders.h"

#include <dbghelp.h>

namespace Orvex {
namespace sys {

void WriteProcessDump(EXCEPTION_POINTERS* exception, const wchar_t* fileName, bool fullMemory) {
    // An existing file is reused as it is, not truncated.
    HANDLE file = CreateFileW(fileName, GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
                              FILE_FLAG_WRITE_THROUGH, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return;
    }
    MINIDUMP_EXCEPTION_INFORMATION information;
    information.ThreadId = GetCurrentThreadId();
    information.ExceptionPointers = exception;
    information.ClientPointers = FALSE;
    // Without a fault there is no exception record to describe: the dump then
    // shows the threads as they are.
    MINIDUMP_EXCEPTION_INFORMATION* described = exception != nullptr ? &information : nullptr;
    const MINIDUMP_TYPE type = fullMemory ? MiniDumpWithFullMemory : MiniDumpNormal;
    MiniDumpWriteDump(GetCurrentProcess(), GetCurrentProcessId(), file, type, described, nullptr,
                      nullptr);
    CloseHandle(file);
}

} // namespace sys
} // namespace Orvex
