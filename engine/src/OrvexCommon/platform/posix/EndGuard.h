// Forced ends held back while a thread is inside one of the library's
// critical sections (its locks, its heap calls): the end signal then only
// marks the end as pending, and the section that closes last ends the thread.
// So a forced end never leaves one of the library's locks held. The counter
// is the thread's own, read by the signal handler on the same thread, so
// compiler fences are all the ordering it needs.
#ifndef ORVEX_PLATFORM_POSIX_ENDGUARD_H
#define ORVEX_PLATFORM_POSIX_ENDGUARD_H

#include <atomic>

namespace Orvex {
namespace sys {

struct SEndGuard {
    int depth;   // open sections
    int pending; // an end arrived while depth was above zero
};

// Initial-exec: one load from the thread pointer, and safe to touch in a
// signal handler (no lazy allocation of the thread's storage).
extern thread_local SEndGuard t_endGuard __attribute__((tls_model("initial-exec")));

// Ends the calling thread now: its forced end was held back until here.
// Returns only on a thread past its jump point (ending already).
void EndHeldBackThread();

// The signal that ends a thread by force (SIGRTMIN + 5).
int ForcedEndSignal();

inline void HoldEndBackHere() {
    ++t_endGuard.depth;
    std::atomic_signal_fence(std::memory_order_seq_cst);
}

inline void AllowEndHere() {
    std::atomic_signal_fence(std::memory_order_seq_cst);
    if (--t_endGuard.depth == 0 && t_endGuard.pending != 0) {
        EndHeldBackThread();
    }
}

} // namespace sys
} // namespace Orvex

#endif // ORVEX_PLATFORM_POSIX_ENDGUARD_H
