// Crash dumps on POSIX: an ELF core file, written by a forked copy of the
// process so that the faulting process itself neither allocates nor locks.
#include "OrvexCommon/platform/OrvexSys.h"
#include "OrvexCommon/platform/posix/CoreDump.h"

#include <asm/prctl.h>
#include <cerrno>
#include <sys/syscall.h>
#include <sys/wait.h>

namespace Orvex {
namespace sys {

namespace {

std::uint64_t TlsBase(int which) {
    std::uint64_t base = 0;
    core::Syscall3(SYS_arch_prctl, which, reinterpret_cast<long>(&base), 0);
    return base;
}

void Identify(core::DumpRequest& request) {
    request.pid = static_cast<pid_t>(core::Syscall3(SYS_getpid, 0, 0, 0));
    request.tid = static_cast<pid_t>(core::Syscall3(SYS_gettid, 0, 0, 0));
    request.parentPid = static_cast<pid_t>(core::Syscall3(SYS_getppid, 0, 0, 0));
    request.group = static_cast<pid_t>(core::Syscall3(SYS_getpgid, 0, 0, 0));
    request.session = static_cast<pid_t>(core::Syscall3(SYS_getsid, 0, 0, 0));
    // A signal handler runs on the thread that faulted, so these are its
    // bases (gdb needs fs to find the thread's TLS).
    request.fsBase = TlsBase(ARCH_GET_FS);
    request.gsBase = TlsBase(ARCH_GET_GS);
}

// A plain fork by the kernel: the C library's fork would run atfork handlers
// (which may take locks held by the interrupted code) and sanitizers'
// interceptors.
long RawFork() {
    return core::Syscall6(SYS_clone, SIGCHLD, 0, 0, 0, 0, 0);
}

void WaitFor(long child) {
    int status = 0;
    long result;
    do {
        result = core::Syscall6(SYS_wait4, child, reinterpret_cast<long>(&status), 0, 0, 0, 0);
    } while (result == -EINTR);
}

} // namespace

void WriteProcessDump(EXCEPTION_POINTERS* exception, const wchar_t* fileName, bool fullMemory) {
    core::DumpRequest request = {};
    request.fileName = fileName;
    request.fullMemory = fullMemory;
    if (exception != nullptr) {
        request.signal = exception->ExceptionRecord;
        request.context = exception->ContextRecord;
    }
    // Without the registers of a fault the core describes this very point,
    // and so the caller's stack.
    ucontext_t here;
    if (request.context == nullptr) {
        getcontext(&here);
        request.context = &here;
    }
    Identify(request);

    const long child = RawFork();
    if (child == 0) {
        const int code = core::WriteCore(request);
        core::Syscall3(SYS_exit_group, code, 0, 0);
    }
    if (child > 0) {
        WaitFor(child);
    }
}

} // namespace sys
} // namespace Orvex
