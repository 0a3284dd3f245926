// POSIX helpers for tests.
#include "OrvexTestSupport.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <dirent.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <signal.h>
#include <string>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace OrvexTest {

struct ConsoleCapture::State {
    int descriptor;
    int saved;
    std::FILE* file;
};

ConsoleCapture::ConsoleCapture(ConsoleTarget target) : m_state(new State) {
    std::fflush(nullptr);
    m_state->descriptor = target == ConsoleTarget::Output ? STDOUT_FILENO : STDERR_FILENO;
    m_state->saved = dup(m_state->descriptor);
    m_state->file = std::tmpfile();
    dup2(fileno(m_state->file), m_state->descriptor);
}

ConsoleCapture::~ConsoleCapture() {
    Finish();
    delete m_state;
}

std::string ConsoleCapture::Finish() {
    if (m_state->file == nullptr) {
        return std::string();
    }
    std::fflush(nullptr);
    dup2(m_state->saved, m_state->descriptor);
    close(m_state->saved);
    std::string captured;
    std::rewind(m_state->file);
    char chunk[4096];
    std::size_t got;
    while ((got = std::fread(chunk, 1, sizeof(chunk), m_state->file)) > 0) {
        captured.append(chunk, got);
    }
    std::fclose(m_state->file);
    m_state->file = nullptr;
    return captured;
}

SharedLibrary::SharedLibrary(const std::string& path)
    : m_handle(dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL)) {
    if (m_handle == nullptr) {
        m_error = dlerror();
    }
}

SharedLibrary::~SharedLibrary() {
    Unload();
}

void* SharedLibrary::Symbol(const char* name) const {
    return m_handle ? dlsym(m_handle, name) : nullptr;
}

bool SharedLibrary::Unload() {
    if (m_handle == nullptr) {
        return false;
    }
    const bool closed = dlclose(m_handle) == 0;
    m_handle = nullptr;
    return closed;
}

bool IsLibraryResident(const std::string& path) {
    void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_NOLOAD);
    if (handle != nullptr) {
        dlclose(handle);
    }
    return handle != nullptr;
}

void SetEnvironment(const char* name, const char* value) {
    if (value == nullptr) {
        unsetenv(name);
    } else {
        setenv(name, value, 1);
    }
}

unsigned SpawnAndReapChild() {
    const pid_t child = fork();
    if (child == 0) {
        _exit(0);
    }
    if (child < 0) {
        return 0;
    }
    int status = 0;
    waitpid(child, &status, 0);
    return static_cast<unsigned>(child);
}

void* ReserveAddressSpace(std::uint64_t bytes) {
    void* start =
        mmap(nullptr, bytes, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
    return start == MAP_FAILED ? nullptr : start;
}

void ReleaseAddressSpace(void* start, std::uint64_t bytes) {
    munmap(start, bytes);
}

FileSizeLimit::FileSizeLimit(std::uint64_t bytes) : m_active(false), m_saved(0) {
    rlimit limit;
    if (getrlimit(RLIMIT_FSIZE, &limit) != 0) {
        return;
    }
    m_saved = limit.rlim_cur;
    limit.rlim_cur = static_cast<rlim_t>(bytes);
    // A write past the limit then fails with EFBIG instead of ending the process.
    std::signal(SIGXFSZ, SIG_IGN);
    m_active = setrlimit(RLIMIT_FSIZE, &limit) == 0;
}

FileSizeLimit::~FileSizeLimit() {
    if (m_active) {
        rlimit limit;
        getrlimit(RLIMIT_FSIZE, &limit);
        limit.rlim_cur = static_cast<rlim_t>(m_saved);
        setrlimit(RLIMIT_FSIZE, &limit);
    }
}

bool MakeFifo(const std::string& path) {
    return mkfifo(path.c_str(), 0600) == 0;
}

FifoEnd::FifoEnd(const std::string& path, bool writingEnd)
    : m_descriptor(open(path.c_str(), (writingEnd ? O_WRONLY : O_RDONLY) | O_NONBLOCK)) {}

FifoEnd::~FifoEnd() {
    if (m_descriptor >= 0) {
        close(m_descriptor);
    }
}

bool MarkHidden(const std::wstring&) {
    return false;
}

bool IsHidden(const std::wstring&) {
    return false;
}

unsigned CurrentThreadId() {
    return static_cast<unsigned>(syscall(SYS_gettid));
}

namespace {

int CountEntries(const char* folder) {
    DIR* entries = opendir(folder);
    if (entries == nullptr) {
        return -1;
    }
    int count = 0;
    while (dirent* entry = readdir(entries)) {
        if (entry->d_name[0] != '.') {
            ++count;
        }
    }
    closedir(entries);
    return count;
}

} // namespace

int CountOpenHandles() {
    const int count = CountEntries("/proc/self/fd");
    return count < 0 ? -1 : count - 1; // the listing's own descriptor
}

int CountProcessThreads() {
    return CountEntries("/proc/self/task");
}

namespace {

// Starts `exe` with `args` and returns its process id, or -1 when it could not
// be started (a failed exec included: the child reports it through a pipe
// that a successful exec closes, and is reaped here).
pid_t StartProcess(const std::string& exe, const std::vector<std::string>& args) {
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(exe.c_str()));
    for (const std::string& arg : args) {
        argv.push_back(const_cast<char*>(arg.c_str()));
    }
    argv.push_back(nullptr);
    int report[2];
    if (pipe2(report, O_CLOEXEC) != 0) {
        return -1;
    }
    const pid_t child = fork();
    if (child == 0) {
        close(report[0]);
        execv(exe.c_str(), argv.data());
        const int error = errno;
        ssize_t ignored = write(report[1], &error, sizeof(error));
        (void)ignored;
        _exit(127);
    }
    close(report[1]);
    if (child < 0) {
        close(report[0]);
        return -1;
    }
    int error = 0;
    ssize_t got;
    do {
        got = read(report[0], &error, sizeof(error));
    } while (got < 0 && errno == EINTR);
    close(report[0]);
    if (got > 0) {
        int status = 0;
        while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
        }
        return -1;
    }
    return child;
}

} // namespace

int RunProcess(const std::string& exe, const std::vector<std::string>& args) {
    const pid_t child = StartProcess(exe, args);
    if (child < 0) {
        return -1;
    }
    int status = 0;
    pid_t waited;
    do {
        waited = waitpid(child, &status, 0);
    } while (waited < 0 && errno == EINTR);
    if (waited != child || !WIFEXITED(status)) {
        return -1;
    }
    return WEXITSTATUS(status);
}

ChildProcess::ChildProcess(const std::string& exe, const std::vector<std::string>& args)
    : m_handle(0) {
    const pid_t child = StartProcess(exe, args);
    if (child > 0) {
        m_handle = static_cast<std::intptr_t>(child);
    }
}

ChildProcess::~ChildProcess() {
    Kill();
}

bool ChildProcess::IsRunning(int* exitCode) {
    if (m_handle == 0) {
        return false;
    }
    int status = 0;
    pid_t waited;
    do {
        waited = waitpid(static_cast<pid_t>(m_handle), &status, WNOHANG);
    } while (waited < 0 && errno == EINTR);
    if (waited == 0) {
        return true;
    }
    m_handle = 0;
    if (exitCode != nullptr) {
        *exitCode = waited > 0 && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    return false;
}

bool ChildProcess::Kill() {
    if (m_handle == 0) {
        return false;
    }
    const pid_t child = static_cast<pid_t>(m_handle);
    m_handle = 0;
    kill(child, SIGKILL);
    int status = 0;
    pid_t waited;
    do {
        waited = waitpid(child, &status, 0);
    } while (waited < 0 && errno == EINTR);
    return waited == child && WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL;
}

} // namespace OrvexTest
