// Diagnostics in the demo: a stack with names, and profiled sections of the
// frame loop with a report when the demo ends.
#include "DemoSections.h"

#include <OrvexCommon/OrvexCommon.h>

#include <cstdio>
#include <iostream>

namespace {

// Kept out of line so that it appears in the stack printed below.
__attribute__((noinline)) void PrintStackFromHere() {
    void* frames[6] = {};
    const unsigned stored = Orvex::GetStack(frames, 1, 6);
    std::printf("  GetStack stored %u return addresses; PrintStack names them:\n", stored);
    Orvex::PrintStack(frames, stored, __LINE__, std::cout);
    __asm__ __volatile__("" ::: "memory");
}

} // namespace

void ShowStacks() {
    std::printf("\n== stack capture and symbol names ==\n");
    PrintStackFromHere();
    void* here = Orvex::GetEipFun()();
    char name[256] = "(no symbol)";
    Orvex::DebugAddress2Symbol(here, name, sizeof(name));
    std::printf("  the caller-address routine returned %p, inside %s\n", here, name);
}

SFrameProfiles& FrameProfiles() {
    // Labels are identified by their address: each literal names one profile.
    static SFrameProfiles profiles = {
        Orvex::GetProfileMgr().CreateProfile(__FILE__, __LINE__, __func__, "frame: tick update", 0),
        Orvex::GetProfileMgr().CreateProfile(__FILE__, __LINE__, __func__, "frame: work", 4),
    };
    return profiles;
}

void DoProfiledFrameWork(long long frame) {
    Orvex::CProfile* work = FrameProfiles().frameWork;
    work->StartDetailBlock();
    for (int piece = 0; piece < 3; ++piece) {
        work->StartAddDetail();
        // Every eighth frame has a slow piece, which shows as that frame's
        // maximum.
        Orvex::OrvexSleep(frame % 8 == 0 && piece == 1 ? 10 : 1);
        work->EndAddDetail();
    }
    work->EndDetailBlock();
}

void PrintProfileReport() {
    std::printf("\n== profile report ==\n");
    Orvex::IProfileMgr& manager = Orvex::GetProfileMgr();
    for (Orvex::CProfile* profile = manager.GetFirstProfile(); profile != nullptr;
         profile = manager.GetNextProfile(profile)) {
        std::printf("  %-20s hits %4lld  total %5lld ms  min %3lld  max %3lld  last %3lld\n",
                    profile->GetLabel(), profile->GetHitCount(), profile->GetTotalCpuTick(),
                    profile->GetMin(), profile->GetMax(), profile->GetCurDelta());
        if (profile->Detail()) {
            std::printf("  %-20s last blocks (ms):", "");
            // Past the last entry GetDeltaTime gives 0; no block lasts 0 ms.
            for (long long i = 0; profile->GetDeltaTime(i) != 0; ++i) {
                std::printf(" %lld", profile->GetDeltaTime(i));
            }
            std::printf("\n");
        }
    }
}
