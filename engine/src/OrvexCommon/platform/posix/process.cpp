// Process queries on POSIX.
#include "OrvexCommon/platform/OrvexSys.h"

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdio>
#include <langinfo.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace Orvex {
namespace sys {

unsigned CurrentProcessId() {
    return static_cast<unsigned>(getpid());
}

unsigned CurrentThreadId() {
    return static_cast<unsigned>(syscall(SYS_gettid));
}

bool ProcessExists(unsigned processId) {
    // 0 and ids beyond pid_t's range would address process groups.
    if (processId == 0 || processId > static_cast<unsigned>(INT_MAX)) {
        return false;
    }
    // EPERM (exists but may not be signalled) counts as refused, like a
    // process that refuses to be opened for queries.
    return kill(static_cast<pid_t>(processId), 0) == 0;
}

std::uint64_t AddressSpaceInUse() {
    std::FILE* statm = std::fopen("/proc/self/statm", "r");
    if (statm == nullptr) {
        return 0;
    }
    unsigned long long pages = 0;
    const int read = std::fscanf(statm, "%llu", &pages);
    std::fclose(statm);
    return read == 1 ? pages * static_cast<std::uint64_t>(sysconf(_SC_PAGESIZE)) : 0;
}

const char* DecimalPoint() {
    // localeconv rewrites one static record on every call; this reads the
    // thread's locale without writing anything.
    return nl_langinfo(RADIXCHAR);
}

} // namespace sys
} // namespace Orvex
