// A host process for what only a fresh process or its exit can show: the
// statistics right after the library loaded, and the leak line at unload.
//   allocator_probe fresh   prints "fresh <mgr> <free> <alloc>"
//   allocator_probe leak    prints "pid <id>", leaves 100 bytes allocated
//   allocator_probe clean   prints "pid <id>", releases everything
#include <OrvexCommon/OrvexCommon.h>

#include <cstdio>
#include <cstring>

int main(int argc, char** argv) {
    const char* mode = argc > 1 ? argv[1] : "";
    if (std::strcmp(mode, "fresh") == 0) {
        std::printf("fresh %lld %lld %lld\n", GetTotalMgrSize(), GetFreeMgrSize(),
                    GetTotalAllocSize());
        return 0;
    }
    std::printf("pid %u\n", Orvex::OrvexGetCurrentProcessID());
    void* kept = OrvexAlloc(100);
    void* large = OrvexAlloc(5000);
    OrvexFree(large);
    if (std::strcmp(mode, "clean") == 0) {
        OrvexFree(kept);
    }
    std::fflush(stdout);
    return 0;
}
