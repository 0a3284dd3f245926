// A forced end that lands in a condition-variable wait. The C runtime keeps
// the wait's cleanup on the thread's list of cancellation cleanups, and the
// jump that ends the thread runs that list: the cleanup settles the wait's
// bookkeeping (so the condition variable stays usable) and takes the wait's
// mutex again, as a cancelled wait must. The thread had given that mutex up
// to wait, so it is released again once the jump has landed. The cleanup's
// routine and where its argument keeps the mutex are learnt once, from a
// real wait on a helper thread; where that cannot be learnt, nothing is
// released.
#ifndef ORVEX_PLATFORM_POSIX_CONDWAITCLEANUP_H
#define ORVEX_PLATFORM_POSIX_CONDWAITCLEANUP_H

#include <pthread.h>

namespace Orvex {
namespace sys {

constexpr int kMaxWaitMutexes = 4;

struct SWaitMutexes {
    pthread_mutex_t* mutexes[kMaxWaitMutexes];
    int count;
};

// Learns the shape of a wait's cleanup, once per process; call before ending
// another thread. Blocks briefly (a helper thread is started and joined).
void LearnCondWaitCleanup();

// In the end signal's handler or just before the end's jump: the mutexes of
// the condition waits whose cleanups lie between the top of the stack and
// `stackMark` (an address in the frame the jump lands in).
void NoteWaitMutexes(const void* stackMark, SWaitMutexes& out);

// After the jump: releases each noted mutex that the calling thread holds.
void ReleaseWaitMutexes(const SWaitMutexes& noted);

// In the end signal's handler on a thread the library did not start: true
// when it was the helper's probe (then it has been answered).
bool AnswerCleanupProbe();

} // namespace sys
} // namespace Orvex

#endif // ORVEX_PLATFORM_POSIX_CONDWAITCLEANUP_H
