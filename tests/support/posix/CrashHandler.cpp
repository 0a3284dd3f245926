// POSIX crash handling for tests: signal handlers, ELF cores read by gdb.
#include "CrashHandler.h"

#include <cerrno>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace OrvexTest {

namespace {

CrashCallback g_callback = nullptr;

// The handler runs here, so it works even when the fault was a stack overflow.
alignas(16) char g_alternateStack[64 * 1024];

const int kFaultSignals[] = {SIGSEGV, SIGBUS, SIGILL, SIGFPE};

void OnFault(int signal, siginfo_t* info, void* context) {
    Orvex::EXCEPTION_POINTERS pointers;
    pointers.ExceptionRecord = info;
    pointers.ContextRecord = static_cast<ucontext_t*>(context);
    if (g_callback != nullptr) {
        g_callback(&pointers);
    }
    // The faulting instruction runs again on return and ends the process.
    struct sigaction fallback = {};
    fallback.sa_handler = SIG_DFL;
    sigaction(signal, &fallback, nullptr);
}

} // namespace

void InstallCrashHandler(CrashCallback callback) {
    g_callback = callback;
    stack_t stack = {};
    stack.ss_sp = g_alternateStack;
    stack.ss_size = sizeof(g_alternateStack);
    sigaltstack(&stack, nullptr);

    struct sigaction action = {};
    action.sa_sigaction = OnFault;
    action.sa_flags = SA_SIGINFO | SA_ONSTACK;
    sigemptyset(&action.sa_mask);
    for (int signal : kFaultSignals) {
        sigaction(signal, &action, nullptr);
    }
}

std::string DumpMagic() {
    return std::string("\x7f"
                       "ELF");
}

bool DumpsOpenInGdb() {
    return true;
}

DebuggerRun RunGdbBacktrace(const std::string& program, const std::string& core) {
    DebuggerRun run = {127, std::string()};
    std::vector<std::string> args = {"gdb", "-nx", "-batch", "-iex", "set debuginfod enabled off",
                                     "-ex", "bt",  program,  core};
    std::vector<char*> argv;
    for (std::string& arg : args) {
        argv.push_back(&arg[0]);
    }
    argv.push_back(nullptr);

    int output[2];
    if (pipe(output) != 0) {
        return run;
    }
    const pid_t child = fork();
    if (child == 0) {
        dup2(output[1], STDOUT_FILENO);
        dup2(output[1], STDERR_FILENO);
        close(output[0]);
        close(output[1]);
        execvp("gdb", argv.data());
        _exit(127);
    }
    close(output[1]);
    char buffer[4096];
    ssize_t got;
    while ((got = read(output[0], buffer, sizeof(buffer))) != 0) {
        if (got > 0) {
            run.text.append(buffer, static_cast<std::size_t>(got));
        } else if (errno != EINTR) {
            break;
        }
    }
    close(output[0]);
    if (child < 0) {
        return run;
    }
    int status = 0;
    while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return run;
}

} // namespace OrvexTest
