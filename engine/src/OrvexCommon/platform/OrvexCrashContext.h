// The description of a fault that a crash handler passes to DebugGenMiniDump.
//
// Windows: the system's EXCEPTION_POINTERS, as an unhandled-exception filter
// or a __except filter receives it. POSIX: a record of the same name and
// members that an SA_SIGINFO signal handler fills from its arguments, so crash
// handler code reads the same on both:
//
//     Orvex::EXCEPTION_POINTERS pointers;
//     pointers.ExceptionRecord = info;                          // siginfo_t*
//     pointers.ContextRecord = static_cast<ucontext_t*>(context);
//     Orvex::DebugGenMiniDump(&pointers, L"crash.dmp", false);
#ifndef ORVEX_PLATFORM_ORVEXCRASHCONTEXT_H
#define ORVEX_PLATFORM_ORVEXCRASHCONTEXT_H

#if defined(_WIN32)

struct _EXCEPTION_POINTERS;

namespace Orvex {
typedef ::_EXCEPTION_POINTERS EXCEPTION_POINTERS;
} // namespace Orvex

#else

#include <signal.h>
#include <ucontext.h>

namespace Orvex {
struct EXCEPTION_POINTERS {
    siginfo_t* ExceptionRecord; // the signal and the faulting address
    ucontext_t* ContextRecord;  // the registers at the fault
};
} // namespace Orvex

#endif

#endif // ORVEX_PLATFORM_ORVEXCRASHCONTEXT_H
