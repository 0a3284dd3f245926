// One measured hit of the profiler, CheckBegin + CheckEnd on a profile, beside
// what such a hit cannot do without: two reads of the clock it uses,
// GetProcessTime, and two reads of std::chrono::steady_clock, the clock a
// program would otherwise time a section of code with.
//
// The same pair while the profiler records a timeline (case pair-recording):
// both ends also read the fine clock, and CheckEnd writes the event into the
// thread's ring, which is full and overwrites its oldest event as a long
// recording does.
//
// Each contender does one pair per iteration; the figure is pairs per second
// of CPU time. The hits are short (far below the 9 ms that makes a detail),
// so the profile's path is the one every hit takes: the clock, the enabled
// flag, the counters.
#include "OrvexCommon/diag/OrvexProfile.h"
#include "OrvexCommon/time/OrvexClock.h"

#include <benchmark/benchmark.h>

#include "BenchMain.h"

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

namespace {

const char kLabel[] = "profile_bench";

// Events each thread keeps while recording.
constexpr unsigned kRingCapacity = 4096;

Orvex::CProfile& Profile() {
    static Orvex::CProfile* const profile =
        Orvex::GetProfileMgr().CreateProfile(__FILE__, __LINE__, "Profile", kLabel, 16);
    return *profile;
}

void PairOrvex(benchmark::State& state) {
    Orvex::CProfile& profile = Profile();
    for (auto _ : state) {
        profile.CheckBegin();
        profile.CheckEnd();
    }
    benchmark::DoNotOptimize(profile.GetTotalCpuTick());
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()));
}

void PairOrvexRecording(benchmark::State& state) {
    Orvex::CProfile& profile = Profile();
    if (!Orvex::StartProfileRecord(kRingCapacity)) {
        state.SkipWithError("recording did not start");
        return;
    }
    for (auto _ : state) {
        profile.CheckBegin();
        profile.CheckEnd();
    }
    Orvex::StopProfileRecord();
    benchmark::DoNotOptimize(profile.GetTotalCpuTick());
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()));
}

void PairProcessTime(benchmark::State& state) {
    for (auto _ : state) {
        const long long begin = Orvex::GetProcessTime();
        const long long end = Orvex::GetProcessTime();
        benchmark::DoNotOptimize(end - begin);
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()));
}

void PairSteadyClock(benchmark::State& state) {
    for (auto _ : state) {
        const auto begin = std::chrono::steady_clock::now();
        const auto end = std::chrono::steady_clock::now();
        benchmark::DoNotOptimize(end - begin);
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()));
}

// The profile must count what it is given, or its figure means nothing.
void CheckProfile() {
    Orvex::CProfile& profile = Profile();
    constexpr long long kHits = 100000;
    for (long long hit = 0; hit < kHits; ++hit) {
        profile.CheckBegin();
        profile.CheckEnd();
    }
    if (profile.GetHitCount() != kHits || profile.GetTotalCpuTick() < 0 ||
        profile.GetMax() < profile.GetMin() ||
        profile.GetTotalCpuTick() > profile.GetMax() * kHits) {
        std::fprintf(stderr, "profile_bench: the profile miscounted %lld hits\n", kHits);
        std::abort();
    }
    std::printf("profile_bench: %lld hits counted, %lld ms in all\n", profile.GetHitCount(),
                profile.GetTotalCpuTick());
}

// The recording must keep what it is given: the newest events, the others
// counted as dropped.
void CheckRecording() {
    Orvex::CProfile& profile = Profile();
    constexpr unsigned kCapacity = 1024;
    constexpr long long kHits = 100000;
    if (!Orvex::StartProfileRecord(kCapacity)) {
        std::fprintf(stderr, "profile_bench: recording did not start\n");
        std::abort();
    }
    for (long long hit = 0; hit < kHits; ++hit) {
        profile.CheckBegin();
        profile.CheckEnd();
    }
    Orvex::StopProfileRecord();
    const wchar_t kFile[] = L"profile_bench_record.json";
    const bool saved = Orvex::SaveProfileRecord(kFile);
    std::stringstream text;
    text << std::ifstream("profile_bench_record.json").rdbuf();
    std::remove("profile_bench_record.json");
    const std::string dropped = "\"droppedEvents\":" + std::to_string(kHits - kCapacity) + "}";
    if (!saved || text.str().find(dropped) == std::string::npos) {
        std::fprintf(stderr, "profile_bench: the recording lost count of %lld hits\n", kHits);
        std::abort();
    }
    std::printf("profile_bench: %lld hits recorded, the newest %u kept\n", kHits, kCapacity);
}

} // namespace

int main(int argc, char** argv) {
    CheckProfile();
    CheckRecording();
    benchmark::RegisterBenchmark("OrvexProfile/pair/Orvex", PairOrvex);
    benchmark::RegisterBenchmark("OrvexProfile/pair/GetProcessTime", PairProcessTime);
    benchmark::RegisterBenchmark("OrvexProfile/pair/steady_clock", PairSteadyClock);
    benchmark::RegisterBenchmark("OrvexProfile/pair-recording/Orvex", PairOrvexRecording);
    return RunRegisteredBenchmarks(argc, argv);
}
