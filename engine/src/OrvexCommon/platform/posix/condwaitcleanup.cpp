// The cleanup of a condition-variable wait, as the C runtime keeps it on the
// thread's list of cancellation cleanups: learnt once from a helper thread's
// real wait, then used to find the mutexes that a forced end's jump takes
// again on behalf of the waits it abandons.
#include "CondWaitCleanup.h"
#include "EndGuard.h"

#include <atomic>
#include <csignal>
#include <sched.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

// The runtime's own push and pop of a cleanup record: the one portable way to
// read the head of the calling thread's list (a record pushed and popped at
// once links to it).
extern "C" {
void _pthread_cleanup_push(struct _pthread_cleanup_buffer* buffer, void (*routine)(void*),
                           void* arg);
void _pthread_cleanup_pop(struct _pthread_cleanup_buffer* buffer, int execute);
// Present only under ThreadSanitizer, which does not see the cleanup take the
// mutex again (the runtime's own call inside its wait) and must be told.
void __tsan_mutex_pre_lock(void* mutex, unsigned flags) __attribute__((weak));
void __tsan_mutex_post_lock(void* mutex, unsigned flags, int recursion) __attribute__((weak));
}

namespace Orvex {
namespace sys {

namespace {

// A wait's cleanup argument holds a few words (its sequence number, the
// condition variable, the mutex, a flag); only these are looked at.
constexpr int kArgWords = 4;

typedef void (*CleanupRoutine)(void*);

std::atomic<CleanupRoutine> g_waitRoutine{nullptr};
std::atomic<int> g_mutexWord{-1};
pthread_once_t g_learnOnce = PTHREAD_ONCE_INIT;

struct SProbeAnswer {
    std::atomic<bool> answered;
    CleanupRoutine routine;
    void* words[kArgWords];
};

thread_local SProbeAnswer* t_probe __attribute__((tls_model("initial-exec"))) = nullptr;

void IgnoreCleanup(void*) {}

_pthread_cleanup_buffer* CleanupListHead() {
    _pthread_cleanup_buffer probe;
    _pthread_cleanup_push(&probe, IgnoreCleanup, nullptr);
    _pthread_cleanup_buffer* head = probe.__prev;
    _pthread_cleanup_pop(&probe, 0);
    return head;
}

struct SHelperWait {
    pthread_mutex_t mutex;
    pthread_cond_t cond;
    bool done;
    std::atomic<bool> waiting;
    SProbeAnswer answer;
};

void* WaitUntilDone(void* context) {
    SHelperWait& wait = *static_cast<SHelperWait*>(context);
    t_probe = &wait.answer;
    pthread_mutex_lock(&wait.mutex);
    wait.waiting.store(true);
    while (!wait.done) {
        pthread_cond_wait(&wait.cond, &wait.mutex);
    }
    pthread_mutex_unlock(&wait.mutex);
    t_probe = nullptr;
    return nullptr;
}

void PauseBriefly() {
    timespec pause = {0, 200000};
    nanosleep(&pause, nullptr);
}

// Probes the helper until its handler saw a cleanup (the wait may still be
// spinning before it sleeps, with no cleanup pushed yet).
bool ProbeHelper(pthread_t helper, SHelperWait& wait) {
    for (int attempt = 0; attempt < 200; ++attempt) {
        // Taking the mutex proves the helper has given it up inside the wait.
        pthread_mutex_lock(&wait.mutex);
        pthread_mutex_unlock(&wait.mutex);
        if (pthread_kill(helper, ForcedEndSignal()) != 0) {
            return false;
        }
        for (int look = 0; look < 10; ++look) {
            if (wait.answer.answered.load()) {
                return true;
            }
            PauseBriefly();
        }
    }
    return false;
}

void LearnOnce() {
    SHelperWait wait;
    pthread_mutex_init(&wait.mutex, nullptr);
    pthread_cond_init(&wait.cond, nullptr);
    wait.done = false;
    wait.waiting.store(false);
    wait.answer.answered.store(false);
    pthread_t helper;
    if (pthread_create(&helper, nullptr, WaitUntilDone, &wait) != 0) {
        return;
    }
    while (!wait.waiting.load()) {
        sched_yield();
    }
    const bool answered = ProbeHelper(helper, wait);
    pthread_mutex_lock(&wait.mutex);
    wait.done = true;
    pthread_cond_broadcast(&wait.cond);
    pthread_mutex_unlock(&wait.mutex);
    pthread_join(helper, nullptr);
    if (!answered) {
        return;
    }
    // The mutex must sit in exactly one word of the argument.
    int found = -1;
    for (int word = 0; word < kArgWords; ++word) {
        if (wait.answer.words[word] == &wait.mutex) {
            found = found == -1 ? word : -2;
        }
    }
    if (found >= 0) {
        g_mutexWord.store(found);
        g_waitRoutine.store(wait.answer.routine);
    }
}

} // namespace

void LearnCondWaitCleanup() {
    pthread_once(&g_learnOnce, LearnOnce);
}

bool AnswerCleanupProbe() {
    SProbeAnswer* answer = t_probe;
    if (answer == nullptr) {
        return false;
    }
    const _pthread_cleanup_buffer* head = CleanupListHead();
    if (head != nullptr && head->__arg != nullptr && !answer->answered.load()) {
        answer->routine = head->__routine;
        for (int word = 0; word < kArgWords; ++word) {
            answer->words[word] = static_cast<void* const*>(head->__arg)[word];
        }
        answer->answered.store(true);
    }
    return true;
}

void NoteWaitMutexes(const void* stackMark, SWaitMutexes& out) {
    out.count = 0;
    const CleanupRoutine routine = g_waitRoutine.load();
    const int mutexWord = g_mutexWord.load();
    if (routine == nullptr || mutexWord < 0) {
        return;
    }
    // The stack grows down: records below the mark belong to abandoned frames.
    for (const _pthread_cleanup_buffer* record = CleanupListHead();
         record != nullptr && out.count < kMaxWaitMutexes; record = record->__prev) {
        if (static_cast<const void*>(record) >= stackMark) {
            break;
        }
        if (record->__routine == routine && record->__arg != nullptr) {
            void* word = static_cast<void* const*>(record->__arg)[mutexWord];
            out.mutexes[out.count++] = static_cast<pthread_mutex_t*>(word);
        }
    }
}

void ReleaseWaitMutexes(const SWaitMutexes& noted) {
    const int self = static_cast<int>(syscall(SYS_gettid));
    for (int k = 0; k < noted.count; ++k) {
        pthread_mutex_t* mutex = noted.mutexes[k];
        // Only a mutex the cleanup did take again, by this thread.
        if (mutex != nullptr && mutex->__data.__owner == self) {
            if (__tsan_mutex_pre_lock != nullptr && __tsan_mutex_post_lock != nullptr) {
                __tsan_mutex_pre_lock(mutex, 0);
                __tsan_mutex_post_lock(mutex, 0, 0);
            }
            pthread_mutex_unlock(mutex);
        }
    }
}

} // namespace sys
} // namespace Orvex
