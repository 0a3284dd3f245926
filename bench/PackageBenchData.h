// What the package benchmark (PackageBench.cpp) and the zip source's
// (ZipBench.cpp) share: the files written once at start, as the package
// root.pkg and as the stored zip archive root.zip, and libzip's side of the
// lookups and of opening. Each runs in a process of its own, so that the
// directories one asks for do not crowd the other's settled answers.
#ifndef ORVEX_BENCH_PACKAGEBENCHDATA_H
#define ORVEX_BENCH_PACKAGEBENCHDATA_H

#include "OrvexCommon/file/detail/PackageTypes.h"

#include <benchmark/benchmark.h>
#include <zip.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace PackageBench {

using Orvex::detail::SFilePatch;
using Orvex::detail::SPackage;

constexpr std::uint32_t kSmallFiles = 100000;
constexpr std::uint32_t kFilesPerDirectory = 100;
constexpr std::uint32_t kSmallMin = 16;
constexpr std::uint32_t kSmallMax = 176;
constexpr std::uint32_t kSmallResident = 32;
constexpr std::uint32_t kBigSize = 1u << 20;
constexpr std::uint32_t kBigResident = 64u * 1024;
constexpr std::uint32_t kPatchChunk = 1024;
constexpr std::uint32_t kPatchAt[] = {4096, 300000, 600000, 1040000};
constexpr std::size_t kOrder = 1u << 14; // lookups cycle through this many names

constexpr wchar_t kPackagePath[] = L"root.pkg";
constexpr char kArchivePath[] = "root.zip";
constexpr wchar_t kBigInner[] = L"big/data.bin";
constexpr char kBigName[] = "big/data.bin";

inline void Fail(const char* what) {
    std::fprintf(stderr, "package_bench: %s\n", what);
    std::abort();
}

// Everything the benchmarks share, built once before any runs.
struct Data {
    std::filesystem::path home;      // the working directory at start
    std::filesystem::path directory; // the scratch directory
    std::vector<std::string> inner;  // dirNNN/fileNNNNNN.dat
    std::vector<std::string> innerAbsent;
    std::vector<std::wstring> names;       // root/dirNNN/fileNNNNNN.dat
    std::vector<std::wstring> namesAbsent; // root/dirNNN/lostNNNNNN.dat
    std::vector<std::uint32_t> order;      // random indices into the names
    std::vector<unsigned char> bytes;      // the small files, one after another
    std::vector<std::uint32_t> starts;     // file i is bytes[starts[i], starts[i + 1])
    std::vector<unsigned char> big;
    std::vector<unsigned char> bigPatched; // big with the patch's chunks laid over
    std::vector<unsigned char> out;        // every 1 MiB read lands here
    SFilePatch patch;
    // Loaded once for the reading benchmarks: mapped and private, unpatched
    // and patched. Records hold pointers to themselves: they never move.
    std::unique_ptr<SPackage> mapped, mappedPatched, privateOnly, privatePatched;
    zip_t* archive = nullptr;
    zip_int64_t bigIndex = -1;
};

inline Data& Shared() {
    static Data data;
    return data;
}

// libzip's side of the lookups and of opening, the peer of the package's
// cases and of the zip source's.
inline void FindLibzip(benchmark::State& state, bool present) {
    const Data& data = Shared();
    const std::vector<std::string>& names = present ? data.inner : data.innerAbsent;
    std::size_t next = 0;
    for (auto _ : state) {
        const std::string& name = names[data.order[next++ & (kOrder - 1)]];
        zip_int64_t index = zip_name_locate(data.archive, name.c_str(), 0);
        benchmark::DoNotOptimize(index);
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()));
}

inline void OpenLibzip(benchmark::State& state) {
    for (auto _ : state) {
        int error = 0;
        zip_t* archive = zip_open(kArchivePath, ZIP_RDONLY, &error);
        state.PauseTiming();
        if (archive == nullptr || zip_get_num_entries(archive, 0) != kSmallFiles + 1) {
            Fail("the archive did not open");
        }
        zip_discard(archive);
        state.ResumeTiming();
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()));
}

// Times `lookup(name)` over the benchmark's random order of `names`.
template <typename Lookup>
void TimeLookups(benchmark::State& state, const std::vector<std::wstring>& names, Lookup lookup) {
    const Data& data = Shared();
    std::size_t next = 0;
    for (auto _ : state) {
        const std::wstring& name = names[data.order[next++ & (kOrder - 1)]];
        auto match = lookup(name.c_str());
        benchmark::DoNotOptimize(match);
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()));
}

// Registers GROUP/CASE/Orvex (`ours(state, deep, present)`) and
// GROUP/CASE/libzip (zip_name_locate) for the four lookup cases: names
// present and absent, deep and shallow.
inline void RegisterLookups(const std::string& group,
                            void (*ours)(benchmark::State&, bool deep, bool present)) {
    const struct {
        const char* name;
        bool deep, present;
    } finds[] = {{"find-deep", true, true},
                 {"find-shallow", false, true},
                 {"miss-deep", true, false},
                 {"miss-shallow", false, false}};
    for (const auto& find : finds) {
        const std::string name = group + "/" + find.name;
        benchmark::RegisterBenchmark((name + "/Orvex").c_str(), ours, find.deep, find.present);
        // The same zip_name_locate under every case, so that each row has its
        // peer measured beside it.
        benchmark::RegisterBenchmark((name + "/libzip").c_str(), FindLibzip, find.present);
    }
}

// Reads the file at `index` of the archive whole through libzip.
void ReadWithArchive(zip_t* archive, zip_int64_t index, unsigned char* out, std::uint32_t size);

// Writes and checks the files in a scratch directory that becomes the
// working directory, registers the cases, runs the benchmarks, then cleans
// up (`cleanUp` first, when given). Returns what the run returns.
int RunPackageBenchmarks(int argc, char** argv, void (*registerCases)(), void (*cleanUp)());

} // namespace PackageBench

#endif // ORVEX_BENCH_PACKAGEBENCHDATA_H
