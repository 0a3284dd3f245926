// OrvexHash throughput beside libiberty's iterative_hash (the same lookup2
// function, so the results must be identical), XXH32 (a hash built for speed)
// and a plain sequential read of the same bytes (the memory bandwidth limit).
#include "OrvexCommon/text/OrvexText.h"

#include <benchmark/benchmark.h>

#include "BenchMain.h"
#include <xxhash.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

// libiberty declares iterative_hash beside its hash tables.
#include <hashtab.h>

namespace {

constexpr std::size_t kLargestBlock = std::size_t{64} << 20;

const struct {
    const char* name;
    std::size_t size;
} kBlocks[] = {{"12B", 12}, {"64B", 64}, {"256B", 256}, {"4KiB", 4096}, {"64MiB", kLargestBlock}};

// One buffer of random bytes for every block size; a few spare bytes let the
// start-up check try unaligned starts as well.
const unsigned char* Bytes() {
    static const std::vector<unsigned char> bytes = [] {
        std::vector<unsigned char> filled(kLargestBlock + 8);
        std::mt19937_64 random(20261208);
        for (std::size_t i = 0; i < filled.size(); i += 8) {
            const std::uint64_t word = random();
            std::memcpy(&filled[i], &word, 8);
        }
        return filled;
    }();
    return bytes.data();
}

std::uint32_t HashOrvex(const unsigned char* data, std::size_t size) {
    return Orvex::OrvexHash(data, static_cast<unsigned>(size));
}

std::uint32_t HashLibiberty(const unsigned char* data, std::size_t size) {
    return iterative_hash(data, size, 0);
}

std::uint32_t HashXxh32(const unsigned char* data, std::size_t size) {
    return XXH32(data, size, 0);
}

// Reads every byte once, in 64-bit words; the compiler is free to vectorise
// the sum, which is the point: nothing that looks at every byte can beat it.
std::uint32_t ReadOnly(const unsigned char* data, std::size_t size) {
    std::uint64_t sum = 0;
    std::size_t i = 0;
    for (; i + 8 <= size; i += 8) {
        std::uint64_t word;
        std::memcpy(&word, data + i, 8);
        sum += word;
    }
    for (; i < size; ++i) {
        sum += data[i];
    }
    return static_cast<std::uint32_t>(sum ^ (sum >> 32));
}

using HashFunction = std::uint32_t (*)(const unsigned char*, std::size_t);

void RunHash(benchmark::State& state, HashFunction hash, std::size_t size) {
    const unsigned char* data = Bytes();
    for (auto _ : state) {
        // Hiding the pointer keeps the compiler from hoisting the inlined
        // sequential read out of the loop.
        benchmark::DoNotOptimize(data);
        std::uint32_t value = hash(data, size);
        benchmark::DoNotOptimize(value);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                            static_cast<std::int64_t>(size));
}

// The libiberty function is the reference: a benchmark of a hash that gives
// other values would measure nothing worth knowing.
void CheckAgainstReference() {
    std::vector<std::size_t> sizes;
    for (std::size_t size = 0; size <= 100; ++size) {
        sizes.push_back(size);
    }
    for (std::size_t size : {255u, 256u, 257u, 4095u, 4096u, 4097u, 1u << 20}) {
        sizes.push_back(size);
    }
    sizes.push_back(kLargestBlock);
    for (std::size_t size : sizes) {
        for (std::size_t offset = 0; offset < 4; ++offset) {
            const unsigned char* block = Bytes() + offset;
            const std::uint32_t ours = HashOrvex(block, size);
            const std::uint32_t reference = HashLibiberty(block, size);
            if (ours != reference) {
                std::fprintf(stderr,
                             "OrvexHash disagrees with iterative_hash: size %zu, offset %zu: "
                             "0x%08X != 0x%08X\n",
                             size, offset, static_cast<unsigned>(ours),
                             static_cast<unsigned>(reference));
                std::abort();
            }
        }
    }
}

void RegisterAll() {
    const struct {
        const char* name;
        HashFunction function;
    } contenders[] = {
        {"Orvex", HashOrvex},
        {"libiberty", HashLibiberty},
        {"XXH32", HashXxh32},
        {"read", ReadOnly},
    };
    for (const auto& block : kBlocks) {
        for (const auto& contender : contenders) {
            const std::string name = std::string("OrvexHash/") + block.name + "/" + contender.name;
            benchmark::RegisterBenchmark(name.c_str(), RunHash, contender.function, block.size);
        }
    }
}

} // namespace

int main(int argc, char** argv) {
    CheckAgainstReference();
    RegisterAll();
    return RunRegisteredBenchmarks(argc, argv);
}
