// Process queries on Windows.
#include "OrvexCommon/platform/OrvexSys.h"
#include "OrvexCommon/platform/win32/WindowsHeaders.h"

#include <clocale>
#include <process.h>

namespace Orvex {
namespace sys {

unsigned CurrentProcessId() {
    return static_cast<unsigned>(_getpid());
}

unsigned CurrentThreadId() {
    return static_cast<unsigned>(GetCurrentThreadId());
}

bool ProcessExists(unsigned processId) {
    const DWORD kQueryInformation = 0x400;
    HANDLE process = OpenProcess(kQueryInformation, FALSE, processId);
    if (process == nullptr) {
        return false;
    }
    CloseHandle(process);
    return true;
}

std::uint64_t AddressSpaceInUse() {
    // The extended status: the plain one caps its figures at 2 GiB for
    // programs not marked large-address aware, which a 64-bit process
    // outgrows.
    MEMORYSTATUSEX status;
    status.dwLength = sizeof(status);
    if (!GlobalMemoryStatusEx(&status)) {
        return 0;
    }
    // The difference is taken in the word size and widened without sign: 32
    // bits on the 32-bit target, where the address space fits them, the
    // whole difference on the 64-bit one.
    const SIZE_T inUse = static_cast<SIZE_T>(status.ullTotalVirtual - status.ullAvailVirtual);
    return static_cast<std::uint64_t>(inUse);
}

const char* DecimalPoint() {
    return std::localeconv()->decimal_point;
}

} // namespace sys
} // namespace Orvex
