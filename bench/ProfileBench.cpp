// One measured hit of the profiler, CheckBegin + CheckEnd on a profile, beside
// what such a hit cannot do without: two reads of the clock it uses,
// GetProcessTime, and two reads of std::chrono::steady_clock, the clock a
// program would otherwise time a section of code with.
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

namespace {

const char kLabel[] = "profile_bench";

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

} // namespace

int main(int argc, char** argv) {
    CheckProfile();
    benchmark::RegisterBenchmark("OrvexProfile/pair/Orvex", PairOrvex);
    benchmark::RegisterBenchmark("OrvexProfile/pair/GetProcessTime", PairProcessTime);
    benchmark::RegisterBenchmark("OrvexProfile/pair/steady_clock", PairSteadyClock);
    return RunRegisteredBenchmarks(argc, argv);
}
