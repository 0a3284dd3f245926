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

void Fail(const char* what) {
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

Data& Shared() {
    static Data data;
    return data;
}

// Present names. Two names with the same 32-bit key cannot both be in a
// package (the later one's entry replaces the earlier one's): 100 000
// consecutive names hold two such pairs, so a name whose key is taken is
// skipped and the count goes on.
void MakeNames(Data& data) {
    char buffer[64];
    std::set<std::uint32_t> keys = {EntryKey(kBigInner)};
    std::uint32_t skipped = 0;
    for (std::uint32_t i = 0; data.inner.size() < kSmallFiles; ++i) {
        const auto directory = static_cast<std::uint32_t>(data.inner.size() / kFilesPerDirectory);
        std::snprintf(buffer, sizeof buffer, "dir%03u/file%06u.dat", directory, i);
        const std::wstring inner(buffer, buffer + std::strlen(buffer));
        if (!keys.insert(EntryKey(inner.c_str())).second) {
            ++skipped;
            continue;
        }
        data.inner.emplace_back(buffer);
        data.names.push_back(L"root/" + inner);
    }
    std::fprintf(stderr, "package_bench: %u names skipped, their keys being taken\n", skipped);
    std::mt19937 random(20261208);
    std::uniform_int_distribution<std::uint32_t> pick(0, kSmallFiles - 1);
    for (std::size_t i = 0; i < kOrder; ++i) {
        data.order.push_back(pick(random));
    }
}

void MakeContents(Data& data) {
    std::mt19937 random(1208);
    std::uniform_int_distribution<std::uint32_t> size(kSmallMin, kSmallMax);
    data.starts.push_back(0);
    for (std::uint32_t i = 0; i < kSmallFiles; ++i) {
        const std::uint32_t length = size(random);
        for (std::uint32_t k = 0; k < length; ++k) {
            data.bytes.push_back(static_cast<unsigned char>(random()));
        }
        data.starts.push_back(static_cast<std::uint32_t>(data.bytes.size()));
    }
    data.big.resize(kBigSize);
    for (auto& byte : data.big) {
        byte = static_cast<unsigned char>(random());
    }
    data.out.resize(kBigSize);
}

void WritePackage(const Data& data) {
    PackageWriter writer;
    bool written = writer.Open(kPackagePath, false);
    for (std::uint32_t i = 0; written && i < kSmallFiles; ++i) {
        const std::wstring inner(data.inner[i].begin(), data.inner[i].end());
        written = writer.AddFile(inner.c_str(), data.bytes.data() + data.starts[i],
                                 data.starts[i + 1] - data.starts[i], kSmallResident);
    }
    written = written && writer.AddFile(kBigInner, data.big.data(), kBigSize, kBigResident);
    if (!writer.Finish() || !written) {
        Fail("cannot write the package");
    }
}

void WriteArchive(const Data& data) {
    int error = 0;
    zip_t* archive = zip_open(kArchivePath, ZIP_CREATE | ZIP_TRUNCATE, &error);
    if (archive == nullptr) {
        Fail("cannot create the archive");
    }
    auto add = [archive](const char* name, const void* bytes, std::uint32_t size) {
        zip_source_t* source = zip_source_buffer(archive, bytes, size, 0);
        const zip_int64_t index =
            source == nullptr ? -1 : zip_file_add(archive, name, source, ZIP_FL_ENC_UTF_8);
        if (index < 0 || zip_set_file_compression(archive, static_cast<zip_uint64_t>(index),
                                                  ZIP_CM_STORE, 0) != 0) {
            Fail("cannot add a file to the archive");
        }
    };
    for (std::uint32_t i = 0; i < kSmallFiles; ++i) {
        add(data.inner[i].c_str(), data.bytes.data() + data.starts[i],
            data.starts[i + 1] - data.starts[i]);
    }
    add(kBigName, data.big.data(), kBigSize);
    if (zip_close(archive) != 0) {
        Fail("cannot write the archive");
    }
}

// A package record of the package file, loaded as OpenPackage loads it.
std::unique_ptr<SPackage> LoadLocal(bool keepMapped, const SFilePatch* patch) {
    auto package = std::make_unique<SPackage>();
    package->path = Orvex::OrvexWString(kPackagePath);
    package->patch = patch;
    if (!OpenReader(package->reader, kPackagePath)) {
        Fail("cannot open the package");
    }
    package->reader.owner = package.get();
    if (LoadPackage(*package, keepMapped) != EPackageLoad::Loaded ||
        package->mapped != keepMapped) {
        Fail("cannot load the package");
    }
    return package;
}

// Names of files that are not there. Keys are 32-bit hashes and a miss tries
// 17 of them (the name, then the name with a digit appended), so among 100 001
// keys a few absent names hit another file's entry: those are counted, told,
// and left out of the set.
void MakeAbsentNames(Data& data) {
    char buffer[64];
    std::uint32_t collisions = 0;
    for (std::uint32_t i = 0; data.innerAbsent.size() < kSmallFiles; ++i) {
        std::snprintf(buffer, sizeof buffer, "dir%03u/lost%06u.dat",
                      (i / kFilesPerDirectory) % (kSmallFiles / kFilesPerDirectory), i);
        const std::wstring inner(buffer, buffer + std::strlen(buffer));
        if (FindEntryByName(*data.mapped, inner.c_str()) != nullptr) {
            ++collisions;
            continue;
        }
        data.innerAbsent.emplace_back(buffer);
        data.namesAbsent.push_back(L"root/" + inner);
    }
    std::fprintf(stderr,
                 "package_bench: %u of the first %zu absent names found another file's entry "
                 "(32-bit keys); left out\n",
                 collisions, data.innerAbsent.size() + collisions);
}

// A patch of a few chunks over the 1 MiB file, and what it reads as then.
void MakePatch(Data& data) {
    const SPackageEntry* entry = FindEntryByName(*data.mapped, kBigInner);
    if (entry == nullptr) {
        Fail("the 1 MiB file is not in the package");
    }
    std::vector<unsigned char> block;
    data.bigPatched = data.big;
    for (const std::uint32_t at : kPatchAt) {
        unsigned char header[8];
        WriteLittleEndian32(header, kPatchChunk);
        WriteLittleEndian32(header + 4, entry->offset + at);
        block.insert(block.end(), header, header + 8);
        for (std::uint32_t k = 0; k < kPatchChunk; ++k) {
            const auto byte = static_cast<unsigned char>(k * 7 + at);
            block.push_back(byte);
            data.bigPatched[at + k] = byte;
        }
    }
    const std::uint32_t count = sizeof kPatchAt / sizeof kPatchAt[0];
    if (ParsePatchChunks(data.patch, count, block.data(), block.size()) !=
        static_cast<std::int64_t>(block.size())) {
        Fail("cannot parse the patch");
    }
}

void ReadWithArchive(zip_t* archive, zip_int64_t index, unsigned char* out, std::uint32_t size) {
    zip_file_t* file = zip_fopen_index(archive, static_cast<zip_uint64_t>(index), 0);
    if (file == nullptr) {
        Fail("zip_fopen_index failed");
    }
    const zip_int64_t read = zip_fread(file, out, size);
    zip_fclose(file);
    if (read != static_cast<zip_int64_t>(size)) {
        Fail("zip_fread read short");
    }
}

// Every contender finds every name and reads the same bytes.
void Check(Data& data) {
    for (std::uint32_t i = 0; i < kSmallFiles; ++i) {
        const std::uint32_t size = data.starts[i + 1] - data.starts[i];
        for (const bool deep : {true, false}) {
            const PackageMatch match = FindPackageEntry(data.names[i].c_str(), deep);
            if (match.entry == nullptr || match.entry->size != size) {
                Fail("a packaged file is not found");
            }
            if (FindPackageEntry(data.namesAbsent[i].c_str(), deep).entry != nullptr) {
                Fail("an absent name is found in the package");
            }
            if (i % 997 == 0) {
                std::vector<unsigned char> bytes(size);
                ReadPackageEntry(*match.package, *match.entry, bytes.data());
                if (std::memcmp(bytes.data(), data.bytes.data() + data.starts[i], size) != 0) {
                    Fail("a packaged file reads wrong");
                }
            }
        }
        const zip_int64_t index = zip_name_locate(data.archive, data.inner[i].c_str(), 0);
        if (index < 0 || zip_name_locate(data.archive, data.innerAbsent[i].c_str(), 0) >= 0) {
            Fail("zip_name_locate disagrees");
        }
        if (i % 997 == 0) {
            std::vector<unsigned char> bytes(size);
            ReadWithArchive(data.archive, index, bytes.data(), size);
            if (std::memcmp(bytes.data(), data.bytes.data() + data.starts[i], size) != 0) {
                Fail("an archived file reads wrong");
            }
        }
    }
    const struct {
        const SPackage* package;
        const std::vector<unsigned char>* expected;
    } reads[] = {{data.mapped.get(), &data.big},
                 {data.privateOnly.get(), &data.big},
                 {data.mappedPatched.get(), &data.bigPatched},
                 {data.privatePatched.get(), &data.bigPatched}};
    for (const auto& read : reads) {
        const SPackageEntry* entry = FindEntryByName(*read.package, kBigInner);
        std::fill(data.out.begin(), data.out.end(), 0);
        ReadPackageEntry(*read.package, *entry, data.out.data());
        if (data.out != *read.expected) {
            Fail("the 1 MiB file reads wrong from the package");
        }
    }
    std::fill(data.out.begin(), data.out.end(), 0);
    ReadWithArchive(data.archive, data.bigIndex, data.out.data(), kBigSize);
    if (data.out != data.big) {
        Fail("the 1 MiB file reads wrong from the archive");
    }
}

void Prepare() {
    Data& data = Shared();
    data.home = std::filesystem::current_path();
    data.directory = std::filesystem::temp_directory_path() /
                     ("orvex_package_bench_" + std::to_string(Orvex::OrvexGetCurrentProcessID()));
    std::filesystem::create_directories(data.directory);
    // Relative names: the shallow form needs the package's directory first.
    std::filesystem::current_path(data.directory);
    MakeNames(data);
    MakeContents(data);
    WritePackage(data);
    WriteArchive(data);

    data.mapped = LoadLocal(true, nullptr);
    data.privateOnly = LoadLocal(false, nullptr);
    MakeAbsentNames(data);
    MakePatch(data);
    data.mappedPatched = LoadLocal(true, &data.patch);
    data.privatePatched = LoadLocal(false, &data.patch);
    int error = 0;
    data.archive = zip_open(kArchivePath, ZIP_RDONLY, &error);
    if (data.archive == nullptr) {
        Fail("cannot open the archive");
    }
    data.bigIndex = zip_name_locate(data.archive, kBigName, 0);
    if (data.bigIndex < 0) {
        Fail("the 1 MiB file is not in the archive");
    }
    Check(data);
}

void CleanUp() {
    Data& data = Shared();
    for (auto* package :
         {&data.mapped, &data.mappedPatched, &data.privateOnly, &data.privatePatched}) {
        ReleasePackage(**package);
        package->reset();
    }
    zip_discard(data.archive);
    std::error_code ignored;
    std::filesystem::current_path(data.home, ignored);
    std::filesystem::remove_all(data.directory, ignored);
}

// ---- Finding names ----

void FindOrvex(benchmark::State& state, bool deep, bool present) {
    const Data& data = Shared();
    const std::vector<std::wstring>& names = present ? data.names : data.namesAbsent;
    std::size_t next = 0;
    for (auto _ : state) {
        const std::wstring& name = names[data.order[next++ & (kOrder - 1)]];
        PackageMatch match = FindPackageEntry(name.c_str(), deep);
        benchmark::DoNotOptimize(match);
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()));
}

void FindLibzip(benchmark::State& state, bool present) {
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

void OpenLibzip(benchmark::State& state) {
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
    const struct {
        const char* name;
        bool deep, present;
    } finds[] = {{"find-deep", true, true},
                 {"find-shallow", false, true},
                 {"miss-deep", true, false},
                 {"miss-shallow", false, false}};
    for (const auto& find : finds) {
        const std::string name = std::string("OrvexPackage/") + find.name;
        benchmark::RegisterBenchmark((name + "/Orvex").c_str(), FindOrvex, find.deep, find.present);
        // The same zip_name_locate under every case, so that each row has its
        // peer measured beside it.
        benchmark::RegisterBenchmark((name + "/libzip").c_str(), FindLibzip, find.present);
    }
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
    // The run changes the working directory: a relative output file must be
    // named from where the binary was started.
    const std::string outOption = "--benchmark_out=";
    std::vector<std::string> absolute;
    absolute.reserve(static_cast<std::size_t>(argc));
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        if (argument.compare(0, outOption.size(), outOption) == 0) {
            absolute.push_back(
                outOption + std::filesystem::absolute(argument.substr(outOption.size())).string());
            argv[i] = &absolute.back()[0];
        }
    }
    Prepare();
    RegisterAll();
    const int result = RunRegisteredBenchmarks(argc, argv);
    CleanUp();
    return result;
}
