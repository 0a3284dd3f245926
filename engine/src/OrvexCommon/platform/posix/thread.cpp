// Threads on POSIX. A handle is a small record owning the pthread_t and the
// thread's exit code, so the exit code survives until the join.
#include "OrvexCommon/platform/OrvexSys.h"

#include <cerrno>
#include <cstdlib>
#include <new>
#include <pthread.h>
#include <time.h>

namespace Orvex {
namespace sys {

struct Thread {
    pthread_t id;
    ThreadProc proc;
    void* context;
    unsigned exitCode;
};

namespace {

void* RunThread(void* record) {
    Thread* thread = static_cast<Thread*>(record);
    thread->exitCode = thread->proc(thread->context);
    return nullptr;
}

} // namespace

Thread* StartThread(ThreadProc proc, void* context, unsigned stackSize) {
    if (proc == nullptr) {
        return nullptr;
    }
    void* storage = std::malloc(sizeof(Thread));
    if (storage == nullptr) {
        return nullptr;
    }
    Thread* thread = new (storage) Thread{pthread_t(), proc, context, 0};
    pthread_attr_t attributes;
    pthread_attr_init(&attributes);
    if (stackSize != 0) {
        // A size below the platform minimum is refused; the default is kept then.
        pthread_attr_setstacksize(&attributes, stackSize);
    }
    const int started = pthread_create(&thread->id, &attributes, RunThread, thread);
    pthread_attr_destroy(&attributes);
    if (started != 0) {
        std::free(thread);
        return nullptr;
    }
    return thread;
}

bool JoinThread(Thread* thread, unsigned* exitCode) {
    if (thread == nullptr || pthread_join(thread->id, nullptr) != 0) {
        return false;
    }
    if (exitCode != nullptr) {
        *exitCode = thread->exitCode;
    }
    std::free(thread);
    return true;
}

void SleepMilliseconds(unsigned milliseconds) {
    timespec remaining;
    remaining.tv_sec = milliseconds / 1000;
    remaining.tv_nsec = static_cast<long>(milliseconds % 1000) * 1000000L;
    while (nanosleep(&remaining, &remaining) != 0 && errno == EINTR) {
    }
}

} // namespace sys
} // namespace Orvex
