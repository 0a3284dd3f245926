// The exported thread functions over the platform layer.
#include "OrvexCommon/base/detail/ErrorLine.h"
#include "OrvexCommon/platform/OrvexPlatform.h"
#include "OrvexCommon/platform/OrvexSys.h"

namespace Orvex {

namespace {

sys::Thread* ThreadOf(void* handle) {
    return static_cast<sys::Thread*>(handle);
}

char g_joinFailure[] = "WaitForSingleObject failed.";

} // namespace

bool OrvexCreateThread(void** thread, unsigned int stackSize, OrvexThreadFun proc, void* context) {
    if (proc == nullptr || thread == nullptr) {
        return false;
    }
    *thread = sys::StartThread(proc, context, stackSize);
    return *thread != nullptr;
}

void OrvexDetachThread(void* thread) {
    sys::DetachThread(ThreadOf(thread));
}

void OrvexExitThread(unsigned int exitCode) {
    sys::ExitCurrentThread(exitCode);
}

bool OrvexTerminateThread(void* thread, unsigned int exitCode) {
    return sys::TerminateThread(ThreadOf(thread), exitCode);
}

void* OrvexGetCurrentThread() {
    return sys::CurrentThreadPseudoHandle();
}

bool OrvexJoinThread(void* thread) {
    switch (sys::JoinThread(ThreadOf(thread), nullptr)) {
    case sys::JoinResult::Joined:
        return true;
    case sys::JoinResult::WaitFailed:
        return false;
    case sys::JoinResult::Unexpected:
        break;
    }
    detail::ThrowErrorLine(g_joinFailure);
}

// The Windows priority values the exported call takes (-15 idle, -2 lowest,
// -1 below normal, 0 normal, 1 above normal, 2 highest, 15 time critical);
// any other is refused.
bool OrvexSetThreadPriority(void* thread, int priority) {
    static const int kWindowsValues[] = {-15, -2, -1, 0, 1, 2, 15};
    for (int level = 0; level < 7; ++level) {
        if (kWindowsValues[level] == priority) {
            return sys::SetThreadPriority(ThreadOf(thread),
                                          static_cast<sys::ThreadPriority>(level));
        }
    }
    return false;
}

} // namespace Orvex
