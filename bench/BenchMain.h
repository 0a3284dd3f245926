// The common end of every benchmark's main(): after its own start-up checks
// and registrations, hand the command line to Google Benchmark and run.
#ifndef ORVEX_BENCH_BENCHMAIN_H
#define ORVEX_BENCH_BENCHMAIN_H

#include <benchmark/benchmark.h>

inline int RunRegisteredBenchmarks(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}

#endif // ORVEX_BENCH_BENCHMAIN_H
