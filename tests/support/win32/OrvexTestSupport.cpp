// Windows helpers for tests.
#include "OrvexTestSupport.h"

#ifndef NOMINMAX
#define NOMINMAX
#endif
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
// Needs the types of windows.h.
#include <tlhelp32.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace OrvexTest {

namespace {

std::wstring Widen(const std::string& text) {
    std::wstring wide;
    for (unsigned char c : text) {
        wide.push_back(static_cast<wchar_t>(c));
    }
    return wide;
}

std::wstring FromUtf8(const std::string& text) {
    if (text.empty()) {
        return std::wstring();
    }
    const int units =
        MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(units), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &wide[0], units);
    return wide;
}

// One argument as the runtime's command-line parser reads it back: quoted,
// with quotes escaped and backslashes doubled where they precede a quote.
void AppendQuoted(std::wstring& line, const std::wstring& arg) {
    line += L'"';
    std::size_t backslashes = 0;
    for (wchar_t unit : arg) {
        if (unit == L'\\') {
            ++backslashes;
            continue;
        }
        if (unit == L'"') {
            line.append(backslashes * 2 + 1, L'\\');
        } else {
            line.append(backslashes, L'\\');
        }
        backslashes = 0;
        line += unit;
    }
    line.append(backslashes * 2, L'\\');
    line += L'"';
}

// Loading by file name: the test executables sit beside the library.
std::wstring FileNameOf(const std::string& path) {
    const std::string::size_type slash = path.find_last_of("/\\");
    return Widen(slash == std::string::npos ? path : path.substr(slash + 1));
}

} // namespace

struct ConsoleCapture::State {
    DWORD which;
    HANDLE saved;
    HANDLE file;
    wchar_t path[MAX_PATH];
};

ConsoleCapture::ConsoleCapture(ConsoleTarget target) : m_state(new State) {
    std::fflush(nullptr);
    m_state->which = target == ConsoleTarget::Output ? STD_OUTPUT_HANDLE : STD_ERROR_HANDLE;
    m_state->saved = GetStdHandle(m_state->which);
    wchar_t folder[MAX_PATH];
    GetTempPathW(MAX_PATH, folder);
    GetTempFileNameW(folder, L"ocp", 0, m_state->path);
    m_state->file =
        CreateFileW(m_state->path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                    nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_TEMPORARY, nullptr);
    SetStdHandle(m_state->which, m_state->file);
}

ConsoleCapture::~ConsoleCapture() {
    Finish();
    delete m_state;
}

std::string ConsoleCapture::Finish() {
    if (m_state->file == nullptr) {
        return std::string();
    }
    SetStdHandle(m_state->which, m_state->saved);
    std::string captured;
    SetFilePointer(m_state->file, 0, nullptr, FILE_BEGIN);
    char chunk[4096];
    DWORD got = 0;
    while (ReadFile(m_state->file, chunk, sizeof(chunk), &got, nullptr) && got > 0) {
        captured.append(chunk, got);
    }
    CloseHandle(m_state->file);
    DeleteFileW(m_state->path);
    m_state->file = nullptr;
    return captured;
}

SharedLibrary::SharedLibrary(const std::string& path)
    : m_handle(LoadLibraryW(FileNameOf(path).c_str())) {
    if (m_handle == nullptr) {
        m_error = "LoadLibraryW failed with error " + std::to_string(GetLastError());
    }
}

SharedLibrary::~SharedLibrary() {
    Unload();
}

void* SharedLibrary::Symbol(const char* name) const {
    return m_handle ? reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(m_handle), name))
                    : nullptr;
}

bool SharedLibrary::Unload() {
    if (m_handle == nullptr) {
        return false;
    }
    const bool freed = FreeLibrary(static_cast<HMODULE>(m_handle)) != 0;
    m_handle = nullptr;
    return freed;
}

bool IsLibraryResident(const std::string& path) {
    return GetModuleHandleW(FileNameOf(path).c_str()) != nullptr;
}

void SetEnvironment(const char* name, const char* value) {
    _putenv_s(name, value == nullptr ? "" : value);
}

unsigned SpawnAndReapChild() {
    // The test executable itself, asked to run no test.
    wchar_t path[MAX_PATH];
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring command = L"\"" + std::wstring(path) + L"\" --gtest_filter=-*";
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process = {};
    if (!CreateProcessW(path, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                        &process)) {
        return 0;
    }
    WaitForSingleObject(process.hProcess, INFINITE);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return process.dwProcessId;
}

void* ReserveAddressSpace(std::uint64_t bytes) {
    return VirtualAlloc(nullptr, static_cast<SIZE_T>(bytes), MEM_RESERVE, PAGE_NOACCESS);
}

void ReleaseAddressSpace(void* start, std::uint64_t) {
    VirtualFree(start, 0, MEM_RELEASE);
}

FileSizeLimit::FileSizeLimit(std::uint64_t) : m_active(false), m_saved(0) {}

FileSizeLimit::~FileSizeLimit() {}

bool MakeFifo(const std::string&) {
    return false;
}

FifoEnd::FifoEnd(const std::string&, bool) : m_descriptor(-1) {}

FifoEnd::~FifoEnd() {}

bool MarkHidden(const std::wstring& path) {
    const DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES &&
           SetFileAttributesW(path.c_str(), attributes | FILE_ATTRIBUTE_HIDDEN) != 0;
}

bool IsHidden(const std::wstring& path) {
    const DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_HIDDEN) != 0;
}

unsigned CurrentThreadId() {
    return static_cast<unsigned>(GetCurrentThreadId());
}

int CountOpenHandles() {
    DWORD count = 0;
    return GetProcessHandleCount(GetCurrentProcess(), &count) ? static_cast<int>(count) : -1;
}

int CountProcessThreads() {
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    if (snapshot == INVALID_HANDLE_VALUE) {
        return -1;
    }
    const DWORD self = GetCurrentProcessId();
    int count = 0;
    THREADENTRY32 entry;
    entry.dwSize = sizeof(entry);
    for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry)) {
        if (entry.th32OwnerProcessID == self) {
            ++count;
        }
    }
    CloseHandle(snapshot);
    return count;
}

namespace {

// Starts `exe` with `args` and returns its process handle, or null when it
// could not be started.
HANDLE StartProcess(const std::string& exe, const std::vector<std::string>& args) {
    const std::wstring program = FromUtf8(exe);
    std::wstring command;
    AppendQuoted(command, program);
    for (const std::string& arg : args) {
        command += L' ';
        AppendQuoted(command, FromUtf8(arg));
    }
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process = {};
    if (!CreateProcessW(program.c_str(), &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &process)) {
        return nullptr;
    }
    CloseHandle(process.hThread);
    return process.hProcess;
}

} // namespace

int RunProcess(const std::string& exe, const std::vector<std::string>& args) {
    const HANDLE process = StartProcess(exe, args);
    if (process == nullptr) {
        return -1;
    }
    DWORD code = 0;
    const bool ended = WaitForSingleObject(process, INFINITE) == WAIT_OBJECT_0 &&
                       GetExitCodeProcess(process, &code);
    CloseHandle(process);
    return ended ? static_cast<int>(code) : -1;
}

ChildProcess::ChildProcess(const std::string& exe, const std::vector<std::string>& args)
    : m_handle(reinterpret_cast<std::intptr_t>(StartProcess(exe, args))) {}

ChildProcess::~ChildProcess() {
    Kill();
}

bool ChildProcess::IsRunning(int* exitCode) {
    if (m_handle == 0) {
        return false;
    }
    HANDLE process = reinterpret_cast<HANDLE>(m_handle);
    if (WaitForSingleObject(process, 0) == WAIT_TIMEOUT) {
        return true;
    }
    DWORD code = 0;
    const bool known = GetExitCodeProcess(process, &code) != 0;
    CloseHandle(process);
    m_handle = 0;
    if (exitCode != nullptr) {
        *exitCode = known ? static_cast<int>(code) : -1;
    }
    return false;
}

bool ChildProcess::Kill() {
    if (m_handle == 0) {
        return false;
    }
    HANDLE process = reinterpret_cast<HANDLE>(m_handle);
    m_handle = 0;
    const bool ended = TerminateProcess(process, 137) != 0;
    WaitForSingleObject(process, INFINITE);
    CloseHandle(process);
    return ended;
}

} // namespace OrvexTest
