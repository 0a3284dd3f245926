// The crash example's fault handler on POSIX.
#include "../CrashHandler.h"

#include <signal.h>
#include <unistd.h>

#include <cstring>
#include <initializer_list>

namespace {

CrashCallback g_callback = nullptr;
alignas(16) char g_handlerStack[64 * 1024];

void OnFault(int, siginfo_t* info, void* context) {
    Orvex::EXCEPTION_POINTERS pointers;
    pointers.ExceptionRecord = info;
    pointers.ContextRecord = static_cast<ucontext_t*>(context);
    g_callback(&pointers);
}

} // namespace

void InstallCrashHandler(CrashCallback callback) {
    g_callback = callback;
    stack_t stack = {};
    stack.ss_sp = g_handlerStack;
    stack.ss_size = sizeof(g_handlerStack);
    sigaltstack(&stack, nullptr);
    struct sigaction action = {};
    action.sa_sigaction = OnFault;
    action.sa_flags = SA_SIGINFO | SA_ONSTACK | SA_RESETHAND;
    sigemptyset(&action.sa_mask);
    for (int fault : {SIGSEGV, SIGBUS, SIGILL, SIGFPE}) {
        sigaction(fault, &action, nullptr);
    }
}

void WriteAndExit(const char* text, int code) {
    const ssize_t ignored = write(STDERR_FILENO, text, std::strlen(text));
    (void)ignored;
    _exit(code);
}
