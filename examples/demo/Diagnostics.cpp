// Diagnostics in the demo: a stack with names, and profiled sections of the
// frame loop with a report when the demo ends.
#include "DemoSections.h"

#include <OrvexCommon/OrvexCommon.h>

#include <cstdio>
#include <filesystem>
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
        Orvex::GetProfileMgr().CreateProfile(__FILE__, __LINE__, __func__, "frame", 0),
        Orvex::GetProfileMgr().CreateProfile(__FILE__, __LINE__, __func__, "frame: tick update", 0),
        Orvex::GetProfileMgr().CreateProfile(__FILE__, __LINE__, __func__, "frame: work", 4),
        Orvex::GetProfileMgr().CreateProfile(__FILE__, __LINE__, __func__, "worker: job", 0),
        Orvex::GetProfileMgr().CreateProfile(__FILE__, __LINE__, __func__, "worker: step", 0),
    };
    return profiles;
}

CDemoWorker::CDemoWorker() : m_thread(nullptr), m_stop(false) {
    FrameProfiles(); // made here, not raced for by the worker
    Orvex::OrvexCreateThread(&m_thread, 0, Run, this);
}

CDemoWorker::~CDemoWorker() {
    Stop();
}

void CDemoWorker::Stop() {
    m_stop.store(true);
    if (m_thread != nullptr) {
        Orvex::OrvexJoinThread(m_thread);
        m_thread = nullptr;
    }
}

unsigned ORVEX_THREAD_CALL CDemoWorker::Run(void* context) {
    auto* worker = static_cast<CDemoWorker*>(context);
    Orvex::SetProfileThreadName("worker");
    Orvex::CProfile* job = FrameProfiles().workerJob;
    Orvex::CProfile* step = FrameProfiles().workerStep;
    for (unsigned round = 0; !worker->m_stop.load(); ++round) {
        job->CheckBegin();
        // Two to four steps of a few milliseconds each.
        for (unsigned k = 0; k < 2 + round % 3; ++k) {
            step->CheckBegin();
            Orvex::OrvexSleep(2 + (round + k) % 4);
            step->CheckEnd();
        }
        job->CheckEnd();
        Orvex::OrvexSleep(5);
    }
    return 0;
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
    // Beside the demo's other outputs, under output/.
    std::error_code error;
    std::filesystem::create_directories("output", error);
    const bool saved = Orvex::SaveProfileRecord(L"output/profile.json");
    std::printf("  the frame loop's timeline %s output/profile.json (orvex-flame draws it)\n",
                saved ? "saved as" : "could not be saved as");
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
