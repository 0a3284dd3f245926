// The package benchmark's files, written once at start and checked against
// libzip before anything is timed (see PackageBenchData.h).
#include "PackageBenchData.h"
#include "BenchMain.h"

#include "OrvexCommon/file/detail/FileReader.h"
#include "OrvexCommon/file/detail/NameKey.h"
#include "OrvexCommon/file/detail/Package.h"
#include "OrvexCommon/file/detail/PackageWriter.h"
#include "OrvexCommon/file/detail/Patch.h"
#include "OrvexCommon/platform/OrvexPlatform.h"

#include <algorithm>
#include <cstring>
#include <random>
#include <set>
#include <system_error>

namespace PackageBench {

using namespace Orvex::detail;

namespace {

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

} // namespace

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

namespace {

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

} // namespace

int RunPackageBenchmarks(int argc, char** argv, void (*registerCases)(), void (*cleanUp)()) {
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
    registerCases();
    const int result = RunRegisteredBenchmarks(argc, argv);
    if (cleanUp != nullptr) {
        cleanUp();
    }
    CleanUp();
    return result;
}

} // namespace PackageBench
