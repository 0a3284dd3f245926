// Operating-system helpers for tests: console capture, loading a shared
// library by hand, counting the process's threads, running a helper program.
#ifndef ORVEX_TESTS_SUPPORT_ORVEXTESTSUPPORT_H
#define ORVEX_TESTS_SUPPORT_ORVEXTESTSUPPORT_H

#include <cstdint>
#include <string>
#include <vector>

namespace OrvexTest {

enum class ConsoleTarget { Output, Error };

// Redirects the process's standard output or standard error (the descriptor on
// POSIX, the standard handle on Windows) into a temporary file until Finish,
// which restores it and returns every byte written meanwhile.
class ConsoleCapture {
public:
    explicit ConsoleCapture(ConsoleTarget target);
    ~ConsoleCapture();
    ConsoleCapture(const ConsoleCapture&) = delete;
    ConsoleCapture& operator=(const ConsoleCapture&) = delete;

    std::string Finish();

private:
    struct State;
    State* m_state;
};

// A shared library loaded with the platform's loader (dlopen, LoadLibraryW).
class SharedLibrary {
public:
    explicit SharedLibrary(const std::string& path);
    ~SharedLibrary();
    SharedLibrary(const SharedLibrary&) = delete;
    SharedLibrary& operator=(const SharedLibrary&) = delete;

    bool IsLoaded() const { return m_handle != nullptr; }
    std::string Error() const { return m_error; }
    // The address of an exported symbol by its linker (mangled) name.
    void* Symbol(const char* name) const;
    // Unloads it; true when the platform reports success.
    bool Unload();

private:
    void* m_handle;
    std::string m_error;
};

// True when a library of that path (POSIX) or file name (Windows) is loaded.
bool IsLibraryResident(const std::string& path);

// Sets (or, with null, removes) a variable of the process environment as the
// C runtime sees it, so that the runtime's time-zone reading picks it up.
void SetEnvironment(const char* name, const char* value);

// Starts a short-lived child process, waits for it to end and reaps it (its
// handles closed); returns its process id, or 0 when none could be started.
unsigned SpawnAndReapChild();

// The number of threads the process runs now, or -1 when it cannot be told.
int CountProcessThreads();

// The number of handles (file descriptors) the process holds open now, or -1
// when it cannot be told.
int CountOpenHandles();

// Lowers the size any file of this process may grow to (writes beyond it
// fail as on a full disk) until the object goes; IsActive is false where the
// platform cannot (Windows).
class FileSizeLimit {
public:
    explicit FileSizeLimit(std::uint64_t bytes);
    ~FileSizeLimit();
    bool IsActive() const { return m_active; }

private:
    bool m_active;
    std::uint64_t m_saved;
};

// Makes a named pipe (FIFO) at `path`; false where the platform has none.
bool MakeFifo(const std::string& path);

// One end of the FIFO at `path`, opened without waiting and held until the
// object goes: the reading end always opens, and releases a writer waiting
// for a reader; the writing end opens only while a reader waits, and
// releases it. IsOpen is false where the platform has no FIFOs.
class FifoEnd {
public:
    FifoEnd(const std::string& path, bool writingEnd);
    ~FifoEnd();
    FifoEnd(const FifoEnd&) = delete;
    FifoEnd& operator=(const FifoEnd&) = delete;
    bool IsOpen() const { return m_descriptor >= 0; }

private:
    int m_descriptor;
};

// The hidden attribute of a file (Windows); false where files have none.
bool MarkHidden(const std::wstring& path);
bool IsHidden(const std::wstring& path);

// The operating system's id of the calling thread (the one dumps name).
unsigned CurrentThreadId();

// Reserves `bytes` of address space without memory behind it; null when the
// system refuses. ReleaseAddressSpace gives it back.
void* ReserveAddressSpace(std::uint64_t bytes);
void ReleaseAddressSpace(void* start, std::uint64_t bytes);

// Runs the program at `exe` with `args` (UTF-8; each one reaches the program
// as one argument), waits for it to end and returns its exit code; -1 when it
// could not be started or did not end by exiting.
int RunProcess(const std::string& exe, const std::vector<std::string>& args);

// A helper program left running while the test goes on; the destructor ends
// it as Kill does when it still runs.
class ChildProcess {
public:
    // Starts `exe` with `args` (as RunProcess takes them) and returns at once.
    ChildProcess(const std::string& exe, const std::vector<std::string>& args);
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    bool IsStarted() const { return m_handle != 0; }
    // True while it runs. Once it has ended, reaps it and stores its exit code
    // through `exitCode` (-1 when it did not end by exiting).
    bool IsRunning(int* exitCode = nullptr);
    // Ends it at once, the way a kill from outside does (POSIX SIGKILL,
    // Windows TerminateProcess), and reaps it. True when it was running and
    // was ended that way.
    bool Kill();

private:
    std::intptr_t m_handle; // POSIX: process id; Windows: process handle; 0: none
};

} // namespace OrvexTest

#endif // ORVEX_TESTS_SUPPORT_ORVEXTESTSUPPORT_H
