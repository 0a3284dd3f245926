// Process queries on Windows.
#include "OrvexCommon/platform/OrvexSys.h"
#include "OrvexCommon/platform/win32/WindowsHeaders.h"

#include <process.h>

namespace Orvex {
namespace sys {

unsigned CurrentProcessId() {
    return static_cast<unsigned>(_getpid());
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
    MEMORYSTATUS status;
    status.dwLength = sizeof(status);
    GlobalMemoryStatus(&status);
    // The difference is taken in 32 bits and widened without sign.
    return static_cast<std::uint32_t>(status.dwTotalVirtual - status.dwAvailVirtual);
}

} // namespace sys
} // namespace Orvex
