// A process that faults on purpose and writes a dump from its crash handler:
//   crash_child <dump file> normal|full [thread]
// With "thread" the fault happens on a second thread.
// Exit codes: 42 when the handler has written the dump; 20 bad arguments; 21
// when the fault did not happen.
#include "CrashHandler.h"
#include "OrvexCommon/diag/OrvexStack.h"
#include "OrvexCommon/text/OrvexText.h"
#include "OrvexTestSupport.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>

namespace {

constexpr int kDumpWritten = 42;

wchar_t g_fileName[1024];
char g_threadFile[1100];
bool g_fullMemory = false;

void WriteDumpAndExit(Orvex::EXCEPTION_POINTERS* exception) {
    Orvex::DebugGenMiniDump(exception, g_fileName, g_fullMemory);
    std::_Exit(kDumpWritten);
}

} // namespace

// The frame a backtrace of the dump must show. Not inlined, so it has a frame
// of its own; pointer and store are volatile, so the compiler can neither drop
// the store nor see the null and put a trap in its place, and UBSan's null
// check stays out of the way of the real fault.
__attribute__((noinline, no_sanitize("undefined"))) void OrvexCrashChildFaultsHere(int value) {
    volatile int* volatile target = nullptr;
    *target = value;
}

// Its caller, a frame of its own too: the barrier after the call keeps the
// call from becoming a jump. Writes the faulting thread's id to
// "<dump file>.thread" first, for the test to find in the dump.
__attribute__((noinline)) void OrvexCrashChildCallsTheFault(int value) {
    std::FILE* thread = std::fopen(g_threadFile, "w");
    if (thread != nullptr) {
        std::fprintf(thread, "%u\n", OrvexTest::CurrentThreadId());
        std::fclose(thread);
    }
    OrvexCrashChildFaultsHere(value + 1);
    asm volatile("" ::: "memory");
}

int main(int argc, char** argv) {
    const bool onThread = argc == 4 && std::strcmp(argv[3], "thread") == 0;
    if (argc != 3 && !onThread) {
        return 20;
    }
    const unsigned units = Orvex::Utf8ToUcs(argv[1], g_fileName, 1024);
    if (units == 0 || units > 1024) {
        return 20;
    }
    std::snprintf(g_threadFile, sizeof(g_threadFile), "%s.thread", argv[1]);
    g_fullMemory = std::strcmp(argv[2], "full") == 0;
    if (!g_fullMemory && std::strcmp(argv[2], "normal") != 0) {
        return 20;
    }
    OrvexTest::InstallCrashHandler(WriteDumpAndExit);
    if (onThread) {
        std::thread worker([argc] { OrvexCrashChildCallsTheFault(argc); });
        worker.join();
    } else {
        OrvexCrashChildCallsTheFault(argc);
    }
    return 21;
}
