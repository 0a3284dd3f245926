// Zip archives read by the file manager beside libzip, on the package
// benchmark's archive: root.zip (written by libzip, stored) copied as
// zroot.zip (read privately) and zmapped.zip (switched to mapped mode), and
// a 1 MiB text written by libzip deflated as zdeflated.zip. Timed:
//
//  - finding a name: FindArchiveEntry("zroot/dirNNN/fileNNNNNN.dat") deep
//    (zroot/dirNNN.pkg and .zip are tried and settled as none before
//    zroot.pkg and zroot.zip) and shallow, names present and absent, against
//    zip_name_locate;
//  - opening: reading the central directory into a fresh index, against
//    zip_open;
//  - reading through the public file object (open by name, read whole,
//    release): a random small file, the 1 MiB stored file private and
//    mapped, the deflated text; and a synchronous Load of the mapped 1 MiB
//    file, which is delivered in place. libzip opens by name (zip_fopen),
//    reads and closes on its archive opened once.
//
// Every name is looked up and a sample of files read both ways and compared
// with the bytes written before timing; the binary aborts on a difference.
#include "OrvexCommon/file/OrvexFile.h"
#include "OrvexCommon/file/detail/Package.h"
#include "OrvexCommon/file/detail/ZipArchive.h"

#include <benchmark/benchmark.h>

#include "PackageBenchData.h"

#include <cstring>
#include <random>

namespace PackageBench {

namespace {

using namespace Orvex::detail;

constexpr char kDeflatedPath[] = "zdeflated.zip";
constexpr char kTextName[] = "big/text.txt";

struct ZipData {
    std::vector<std::wstring> privateNames, privateAbsent, mappedNames;
    std::vector<unsigned char> text; // the deflated archive's 1 MiB text
    zip_t* deflated = nullptr;       // libzip's view of zdeflated.zip
};

ZipData& Zip() {
    static ZipData zip;
    return zip;
}

std::vector<std::wstring> Prefixed(const wchar_t* prefix, const std::vector<std::string>& inner) {
    std::vector<std::wstring> names;
    for (const std::string& name : inner) {
        names.push_back(prefix + std::wstring(name.begin(), name.end()));
    }
    return names;
}

void WriteDeflated(ZipData& zip) {
    static const char* const kWords[] = {"stone ", "torch ", "shield ", "dragon ", "gold\n"};
    std::mt19937 random(30);
    while (zip.text.size() < kBigSize) {
        const char* word = kWords[random() % 5];
        zip.text.insert(zip.text.end(), word, word + std::strlen(word));
    }
    zip.text.resize(kBigSize);
    int error = 0;
    zip_t* archive = zip_open(kDeflatedPath, ZIP_CREATE | ZIP_TRUNCATE, &error);
    zip_source_t* source =
        archive == nullptr ? nullptr : zip_source_buffer(archive, zip.text.data(), kBigSize, 0);
    if (source == nullptr || zip_file_add(archive, kTextName, source, 0) < 0 ||
        zip_close(archive) != 0) {
        Fail("cannot write the deflated archive");
    }
    zip.deflated = zip_open(kDeflatedPath, ZIP_RDONLY, &error);
    if (zip.deflated == nullptr) {
        Fail("cannot open the deflated archive");
    }
}

// Opens `name` through a file object and reads it whole into `out`; the
// bytes read, or -1.
std::int32_t ReadThroughFileObject(const wchar_t* name, unsigned char* out, std::uint32_t room) {
    Orvex::IReadFile* file = Orvex::GetOrvexFileMgr().CreateReadFile();
    const std::int32_t read = file->Open(name) ? file->Read(out, room) : -1;
    file->Release();
    return read;
}

std::int32_t ReadWithLibzip(zip_t* archive, const char* name, unsigned char* out,
                            std::uint32_t room) {
    zip_file_t* file = zip_fopen(archive, name, 0);
    if (file == nullptr) {
        return -1;
    }
    const zip_int64_t read = zip_fread(file, out, room);
    zip_fclose(file);
    return static_cast<std::int32_t>(read);
}

bool Reads(const wchar_t* name, const unsigned char* expected, std::uint32_t size) {
    std::vector<unsigned char> bytes(size + 1);
    return ReadThroughFileObject(name, bytes.data(), size + 1) == static_cast<std::int32_t>(size) &&
           std::memcmp(bytes.data(), expected, size) == 0;
}

void CheckZip(const Data& data, const ZipData& zip) {
    for (std::uint32_t i = 0; i < kSmallFiles; ++i) {
        for (const bool deep : {true, false}) {
            if (FindArchiveEntry(zip.privateNames[i].c_str(), deep, true).zip == nullptr ||
                FindArchiveEntry(zip.privateAbsent[i].c_str(), deep, true).zip != nullptr) {
                Fail("the zip source and libzip disagree on a name");
            }
        }
        const std::uint32_t size = data.starts[i + 1] - data.starts[i];
        if (i % 997 == 0 &&
            (!Reads(zip.privateNames[i].c_str(), &data.bytes[data.starts[i]], size) ||
             !Reads(zip.mappedNames[i].c_str(), &data.bytes[data.starts[i]], size))) {
            Fail("a zipped file reads wrong");
        }
    }
    if (!Reads(L"zroot/big/data.bin", data.big.data(), kBigSize) ||
        !Reads(L"zmapped/big/data.bin", data.big.data(), kBigSize) ||
        !Reads(L"zdeflated/big/text.txt", zip.text.data(), kBigSize)) {
        Fail("a 1 MiB zipped file reads wrong");
    }
}

// ---- Finding names ----

void FindZip(benchmark::State& state, bool deep, bool present) {
    TimeLookups(state, present ? Zip().privateNames : Zip().privateAbsent,
                [deep](const wchar_t* name) { return FindArchiveEntry(name, deep, true); });
}

// ---- Opening ----

void OpenZip(benchmark::State& state) {
    SZipArchive archive;
    archive.path = Orvex::OrvexWString(L"zroot.zip");
    archive.handle = std::fopen("zroot.zip", "rb");
    archive.size = std::filesystem::file_size("zroot.zip");
    for (auto _ : state) {
        auto directory = std::make_unique<SZipDirectory>();
        CZipArchiveBytes bytes;
        const bool opened = bytes.Attach(archive, /*shareHandle=*/true) &&
                            ReadZipDirectory(bytes, archive.size, *directory) == EZipOpen::kOpened;
        state.PauseTiming();
        if (!opened || directory->index.size() != kSmallFiles + 1) {
            Fail("the zip archive did not open");
        }
        directory.reset();
        state.ResumeTiming();
    }
    std::fclose(archive.handle);
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()));
}

// ---- Reading ----

void ReadSmallZip(benchmark::State& state, const std::vector<std::wstring>* names) {
    Data& data = Shared();
    std::size_t next = 0;
    for (auto _ : state) {
        const std::wstring& name = (*names)[data.order[next++ & (kOrder - 1)]];
        benchmark::DoNotOptimize(ReadThroughFileObject(name.c_str(), data.out.data(), kBigSize));
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()));
}

void ReadSmallLibzip(benchmark::State& state) {
    Data& data = Shared();
    std::size_t next = 0;
    for (auto _ : state) {
        const std::string& name = data.inner[data.order[next++ & (kOrder - 1)]];
        benchmark::DoNotOptimize(
            ReadWithLibzip(data.archive, name.c_str(), data.out.data(), kBigSize));
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()));
}

void ReadBigZip(benchmark::State& state, const wchar_t* name) {
    Data& data = Shared();
    for (auto _ : state) {
        benchmark::DoNotOptimize(ReadThroughFileObject(name, data.out.data(), kBigSize));
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * kBigSize);
}

void ReadBigLibzip(benchmark::State& state, bool deflated) {
    Data& data = Shared();
    zip_t* archive = deflated ? Zip().deflated : data.archive;
    const char* name = deflated ? kTextName : "big/data.bin";
    for (auto _ : state) {
        benchmark::DoNotOptimize(ReadWithLibzip(archive, name, data.out.data(), kBigSize));
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * kBigSize);
}

// Keeps the first byte it is given, so that the delivery is looked at.
class FirstByte final : public Orvex::IFileLoadListener {
public:
    std::int32_t GetFileType() override { return -1; }
    void OnLoadHead(const Orvex::CCommonFileHead&, Orvex::SLoadBuffer&) override {}
    void OnLoadData(Orvex::SLoadBuffer& buffer) override { first = buffer.origin[buffer.start]; }
    unsigned char first = 0;
};

void LoadBigZip(benchmark::State& state) {
    FirstByte listener;
    for (auto _ : state) {
        benchmark::DoNotOptimize(Orvex::GetOrvexFileMgr().Load(L"zmapped/big/data.bin", &listener));
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * kBigSize);
}

void PrepareZip(Data& data) {
    ZipData& zip = Zip();
    std::filesystem::copy_file("root.zip", "zroot.zip");
    std::filesystem::copy_file("root.zip", "zmapped.zip");
    zip.privateNames = Prefixed(L"zroot/", data.inner);
    zip.privateAbsent = Prefixed(L"zroot/", data.innerAbsent);
    zip.mappedNames = Prefixed(L"zmapped/", data.inner);
    Orvex::GetOrvexFileMgr().SetPackageMapped(zip.mappedNames[0].c_str(), true);
    WriteDeflated(zip);
    CheckZip(data, zip);
}

void RegisterZip() {
    PrepareZip(Shared());
    RegisterLookups("OrvexZip", FindZip);
    benchmark::RegisterBenchmark("OrvexZip/open/Orvex", OpenZip)->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("OrvexZip/open/libzip", OpenLibzip)->Unit(benchmark::kMillisecond);
    ZipData& zip = Zip();
    benchmark::RegisterBenchmark("OrvexZipRead/small-private/Orvex", ReadSmallZip,
                                 &zip.privateNames);
    benchmark::RegisterBenchmark("OrvexZipRead/small-private/libzip", ReadSmallLibzip);
    benchmark::RegisterBenchmark("OrvexZipRead/small-mapped/Orvex", ReadSmallZip, &zip.mappedNames);
    benchmark::RegisterBenchmark("OrvexZipRead/small-mapped/libzip", ReadSmallLibzip);
    const struct {
        const char* name;
        const wchar_t* file;
        bool deflated;
    } bigs[] = {{"big-private", L"zroot/big/data.bin", false},
                {"big-mapped", L"zmapped/big/data.bin", false},
                {"big-deflated", L"zdeflated/big/text.txt", true}};
    for (const auto& big : bigs) {
        const std::string name = std::string("OrvexZipRead/") + big.name;
        benchmark::RegisterBenchmark((name + "/Orvex").c_str(), ReadBigZip, big.file)
            ->Unit(benchmark::kMicrosecond);
        benchmark::RegisterBenchmark((name + "/libzip").c_str(), ReadBigLibzip, big.deflated)
            ->Unit(benchmark::kMicrosecond);
    }
    benchmark::RegisterBenchmark("OrvexZipRead/big-load-mapped/Orvex", LoadBigZip)
        ->Unit(benchmark::kMicrosecond);
    benchmark::RegisterBenchmark("OrvexZipRead/big-load-mapped/libzip", ReadBigLibzip, false)
        ->Unit(benchmark::kMicrosecond);
}

void CleanUpZip() {
    zip_discard(Zip().deflated);
}

} // namespace
} // namespace PackageBench

int main(int argc, char** argv) {
    return PackageBench::RunPackageBenchmarks(argc, argv, PackageBench::RegisterZip,
                                              PackageBench::CleanUpZip);
}
