// The library's containers on the pooled allocator beside the same containers
// on std::allocator (the process allocator): group OrvexContainers.
#ifndef ORVEX_BENCH_CONTAINERBENCH_H
#define ORVEX_BENCH_CONTAINERBENCH_H

void RegisterContainerBenchmarks();

#endif // ORVEX_BENCH_CONTAINERBENCH_H
