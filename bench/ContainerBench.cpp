// OrvexString and TOrvexMap against std::string and std::map, the same code
// on another allocator:
//   - string: build a string of 8-200 characters from a fixed text, append a
//     second piece (growing it), copy it, drop both;
//   - map: a map of 10 000 keys; each step erases one key and inserts
//     another (random, fixed seed), so every step frees one node and
//     allocates one.
// One item is one step.
#include "ContainerBench.h"
#include "OrvexCommon/memory/OrvexMemory.h"

#include <benchmark/benchmark.h>

#include <cstdint>
#include <map>
#include <random>
#include <string>
#include <vector>

namespace {

constexpr unsigned kMapKeys = 10000;
constexpr unsigned kSteps = 1u << 16;

const char kText[] = "The quick brown fox jumps over the lazy dog while the engine streams "
                     "its packages, logs its frames and counts its ticks; every container "
                     "of the library sits on the pooled allocator, block after block.";

// Lengths of the two pieces, and keys erased and inserted, the same for both.
struct SWork {
    std::vector<unsigned> firstLengths;
    std::vector<unsigned> secondLengths;
    std::vector<std::uint32_t> erased;
    std::vector<std::uint32_t> inserted;
};

const SWork& Work() {
    static const SWork work = [] {
        SWork made;
        std::mt19937 random(20261209);
        std::uniform_int_distribution<unsigned> length(8, 100);
        for (unsigned k = 0; k < kSteps; ++k) {
            made.firstLengths.push_back(length(random));
            made.secondLengths.push_back(length(random));
        }
        // Keys 0 .. 2 kMapKeys: the map starts with the even ones; each step
        // erases a present key and inserts an absent one.
        std::vector<std::uint32_t> present, absent;
        for (std::uint32_t key = 0; key < 2 * kMapKeys; ++key) {
            (key % 2 == 0 ? present : absent).push_back(key);
        }
        for (unsigned k = 0; k < kSteps; ++k) {
            std::uniform_int_distribution<std::size_t> pickPresent(0, present.size() - 1);
            std::uniform_int_distribution<std::size_t> pickAbsent(0, absent.size() - 1);
            const std::size_t out = pickPresent(random);
            const std::size_t in = pickAbsent(random);
            made.erased.push_back(present[out]);
            made.inserted.push_back(absent[in]);
            std::swap(present[out], absent[in]);
        }
        return made;
    }();
    return work;
}

template <typename String> void Strings(benchmark::State& state) {
    const SWork& work = Work();
    std::size_t k = 0;
    for (auto _ : state) {
        String text(kText, work.firstLengths[k]);
        text.append(kText + 50, work.secondLengths[k]);
        String copy(text);
        benchmark::DoNotOptimize(copy.data());
        k = k + 1 == kSteps ? 0 : k + 1;
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()));
}

template <typename Map> void Maps(benchmark::State& state) {
    const SWork& work = Work();
    Map map;
    for (std::uint32_t key = 0; key < 2 * kMapKeys; key += 2) {
        map.emplace(key, key);
    }
    std::size_t k = 0;
    for (auto _ : state) {
        map.erase(work.erased[k]);
        map.emplace(work.inserted[k], k);
        if (++k == kSteps) {
            // Back to the start: undo the steps, untimed.
            state.PauseTiming();
            for (std::size_t back = kSteps; back-- > 0;) {
                map.erase(work.inserted[back]);
                map.emplace(work.erased[back], back);
            }
            k = 0;
            state.ResumeTiming();
        }
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()));
}

using StdMap = std::map<std::uint32_t, std::size_t>;
using PooledMap = Orvex::TOrvexMap<std::uint32_t, std::size_t>;

} // namespace

void RegisterContainerBenchmarks() {
    benchmark::RegisterBenchmark("OrvexContainers/string/Orvex", Strings<Orvex::OrvexString>);
    benchmark::RegisterBenchmark("OrvexContainers/string/std", Strings<std::string>);
    benchmark::RegisterBenchmark("OrvexContainers/map/Orvex", Maps<PooledMap>);
    benchmark::RegisterBenchmark("OrvexContainers/map/std", Maps<StdMap>);
}
