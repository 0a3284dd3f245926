// A host of the shared library that ends through the library's fatal paths
// while the library would have something to say at its teardown (a block
// still allocated, so the leak line):
//   teardown_child <mode> <output file>
// <mode>: "return" (main returns, the teardown runs), "fatal-ok" (a fatal
// report answered OK), "abort" (a report answered Abort), "duplicate" (a
// profile label created twice, nobody could be asked), "threads-ending"
// (main returns while eight threads that allocated end). Standard output goes
// to the output file. Exit codes of its own: 20 bad arguments, 21 the fatal
// path returned.
#include "OrvexCommon/diag/OrvexDiag.h"
#include "OrvexCommon/diag/OrvexProfile.h"
#include "OrvexCommon/memory/OrvexMemory.h"

#include <atomic>
#include <cstdio>
#include <cstring>
#include <thread>

namespace {

int g_answer = 0;

int Answer(const wchar_t*, bool) {
    return g_answer;
}

const char kLabel[] = "teardown site";

// Threads that take a cache of the allocator, release all they took, and end
// the moment main returns: their caches go back while the teardown runs.
void StartThreadsThatEndAtExit(std::atomic<bool>& go) {
    std::atomic<int> ready{0};
    for (int k = 0; k < 8; ++k) {
        std::thread([&ready, &go] {
            for (unsigned size = 8; size < 70000; size = size * 3 / 2 + 1) {
                OrvexFree(OrvexAlloc(size));
            }
            ready.fetch_add(1);
            while (!go.load()) {
            }
        }).detach();
    }
    while (ready.load() != 8) {
        std::this_thread::yield();
    }
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 3 || std::freopen(argv[2], "w", stdout) == nullptr) {
        return 20;
    }
    const char* mode = argv[1];
    std::printf("child started\n");
    std::fflush(stdout);
    OrvexAlloc(100); // never given back: the teardown reports it
    Orvex::SetGlobExceptionBoxFun(&Answer);
    if (std::strcmp(mode, "return") == 0) {
        return 0;
    }
    static std::atomic<bool> go{false};
    if (std::strcmp(mode, "threads-ending") == 0) {
        StartThreadsThatEndAtExit(go);
        go.store(true);
        return 0;
    }
    if (std::strcmp(mode, "fatal-ok") == 0) {
        g_answer = 1;
        Orvex::OrvexException("broken", "child.cpp", "Jan 31 2020", "23:59:58", 1, "main", true);
    } else if (std::strcmp(mode, "abort") == 0) {
        g_answer = 3;
        Orvex::OrvexException("broken", "child.cpp", "Jan 31 2020", "23:59:58", 1, "main", false);
    } else if (std::strcmp(mode, "duplicate") == 0) {
        Orvex::IProfileMgr& manager = Orvex::GetProfileMgr();
        manager.CreateProfile(__FILE__, __LINE__, "main", kLabel, 0);
        manager.CreateProfile(__FILE__, __LINE__, "main", kLabel, 0);
    } else {
        return 20;
    }
    return 21;
}
