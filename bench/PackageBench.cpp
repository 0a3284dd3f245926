// Packages beside libzip, the library a program would otherwise use for many
// files kept in one archive with a name index. At start-up, in a scratch
// directory that is also the working directory, the binary writes the same
// 100 001 files twice: as the package root.pkg (100 000 small files named
// dirNNN/fileNNNNNN.dat, 16-176 bytes each with a 32-byte resident part, and a
// 1 MiB file big/data.bin with a 64 KiB one) and as the stored (uncompressed)
// zip archive root.zip. Then it times:
//
//  - finding a name: FindPackageEntry("root/dirNNN/fileNNNNNN.dat") in the
//    deep form (the package of the deepest directory that has one, so
//    "root/dirNNN.pkg" is tried and refused before "root.pkg") and the shallow
//    one (the first directory's package), against zip_name_locate on the
//    archive opened once; names present and absent, in a fixed random order;
//    the names are asked again and again, so ours read their settled
//    answers; OrvexPackageSearch times the search itself, what a name's
//    first two asks cost;
//  - opening: reading the package's header and index into a fresh package
//    record (what OpenPackage does once per path, without its registry, so
//    that every iteration opens anew), kept mapped or private, against
//    zip_open;
//  - reading the 1 MiB file whole: ReadPackageEntry in mapped and in private
//    mode, with and without a patch of four 1 KiB chunks over it, against
//    zip_fopen_index + zip_fread + zip_fclose.
//
// Before timing, every name is looked up both ways and in the archive, a
// sample of the files and the 1 MiB file are read through every contender and
// compared with the bytes written; the binary aborts on a difference.
#include "OrvexCommon/file/detail/FileReader.h"
#include "OrvexCommon/file/detail/NameKey.h"
#include "OrvexCommon/file/detail/Package.h"
#include "OrvexCommon/file/detail/PackageWriter.h"
#include "OrvexCommon/file/detail/Patch.h"
#include "OrvexCommon/platform/OrvexPlatform.h"

#include <benchmark/benchmark.h>

#include "BenchMain.h"
#include "PackageBenchData.h"
#include <zip.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <filesystem>
#include <memory>
#include <random>
#include <set>
#include <string>
#include <system_error>
#include <vector>

namespace {

using namespace Orvex::detail;
using namespace PackageBench;

// ---- Finding names ----

void FindOrvex(benchmark::State& state, bool deep, bool present) {
    const Data& data = Shared();
    TimeLookups(state, present ? data.names : data.namesAbsent,
                [deep](const wchar_t* name) { return FindPackageEntry(name, deep); });
}

// The search without the settled answers: what a name's first two asks
// cost (the rows above time names asked again).
void SearchOrvex(benchmark::State& state, bool deep, bool present) {
    const Data& data = Shared();
    TimeLookups(state, present ? data.names : data.namesAbsent,
                [deep](const wchar_t* name) { return SearchArchiveEntry(name, deep, false); });
}

// ---- Opening ----

// Opening the file and reading the header and index are timed; giving the
// record back is not.
void OpenOrvex(benchmark::State& state, bool keepMapped) {
    for (auto _ : state) {
        auto package = std::make_unique<SPackage>();
        package->path = Orvex::OrvexWString(kPackagePath);
        const bool opened = OpenReader(package->reader, kPackagePath);
        package->reader.owner = package.get();
        const bool loaded = opened && LoadPackage(*package, keepMapped) == EPackageLoad::Loaded;
        state.PauseTiming();
        if (!loaded || package->index.size() != kSmallFiles + 1) {
            Fail("the package did not open");
        }
        ReleasePackage(*package);
        package.reset();
        state.ResumeTiming();
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()));
}

// ---- Reading the 1 MiB file ----

void ReadOrvex(benchmark::State& state, const std::unique_ptr<SPackage>* package) {
    Data& data = Shared();
    const SPackageEntry* entry = FindEntryByName(**package, kBigInner);
    for (auto _ : state) {
        ReadPackageEntry(**package, *entry, data.out.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * kBigSize);
}

void ReadLibzip(benchmark::State& state) {
    Data& data = Shared();
    for (auto _ : state) {
        ReadWithArchive(data.archive, data.bigIndex, data.out.data(), kBigSize);
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * kBigSize);
}

void RegisterAll() {
    Data& data = Shared();
    RegisterLookups("OrvexPackage", FindOrvex);
    RegisterLookups("OrvexPackageSearch", SearchOrvex);
    for (const bool keepMapped : {true, false}) {
        const std::string name =
            std::string("OrvexPackage/") + (keepMapped ? "open-mapped" : "open-private");
        benchmark::RegisterBenchmark((name + "/Orvex").c_str(), OpenOrvex, keepMapped)
            ->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark((name + "/libzip").c_str(), OpenLibzip)
            ->Unit(benchmark::kMillisecond);
    }
    const struct {
        const char* name;
        const std::unique_ptr<SPackage>* package;
    } reads[] = {{"mapped", &data.mapped},
                 {"mapped-patched", &data.mappedPatched},
                 {"private", &data.privateOnly},
                 {"private-patched", &data.privatePatched}};
    for (const auto& read : reads) {
        const std::string name = std::string("OrvexPackageRead/") + read.name;
        benchmark::RegisterBenchmark((name + "/Orvex").c_str(), ReadOrvex, read.package)
            ->Unit(benchmark::kMicrosecond);
        benchmark::RegisterBenchmark((name + "/libzip").c_str(), ReadLibzip)
            ->Unit(benchmark::kMicrosecond);
    }
}

} // namespace

int main(int argc, char** argv) {
    return RunPackageBenchmarks(argc, argv, RegisterAll, nullptr);
}
