// The scratch directory where a benchmark writes its input files, and the
// way a benchmark gives up when a start-up check fails: one line on stderr,
// the directory removed, abort.
#ifndef ORVEX_BENCH_BENCHSCRATCH_H
#define ORVEX_BENCH_BENCHSCRATCH_H

#include "OrvexCommon/file/OrvexFile.h"
#include "OrvexCommon/platform/OrvexPlatform.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>

class BenchScratch {
public:
    // Makes <temp>/<name>_<process id>.
    explicit BenchScratch(const char* name) : m_name(name) {
        m_directory = std::filesystem::temp_directory_path() /
                      (std::string(name) + "_" + std::to_string(Orvex::OrvexGetCurrentProcessID()));
        std::filesystem::create_directories(m_directory);
        Current() = this;
    }
    ~BenchScratch() {
        Remove();
        Current() = nullptr;
    }
    BenchScratch(const BenchScratch&) = delete;
    BenchScratch& operator=(const BenchScratch&) = delete;

    std::filesystem::path File(const char* name) const { return m_directory / name; }

    // Writes `bytes` to the file, or fails the benchmark.
    void Write(const std::filesystem::path& file, const std::string& bytes) const {
        std::FILE* stream = std::fopen(file.string().c_str(), "wb");
        if (stream == nullptr ||
            std::fwrite(bytes.data(), 1, bytes.size(), stream) != bytes.size() ||
            std::fclose(stream) != 0) {
            Fail(("cannot write " + file.string()).c_str());
        }
    }

    // "<name>: <what>" on stderr, the directory removed, then abort.
    [[noreturn]] static void Fail(const char* what) {
        BenchScratch* scratch = Current();
        std::fprintf(stderr, "%s: %s\n", scratch != nullptr ? scratch->m_name : "bench", what);
        if (scratch != nullptr) {
            scratch->Remove();
        }
        std::abort();
    }

private:
    static BenchScratch*& Current() {
        static BenchScratch* current = nullptr;
        return current;
    }
    void Remove() const {
        std::error_code ignored;
        std::filesystem::remove_all(m_directory, ignored);
    }

    const char* m_name;
    std::filesystem::path m_directory;
};

// Times our load of `path` the way a host makes one: a file object from the
// file manager (`create` gives it), Load, Release. `bytes` is the file's size.
template <typename Create>
void TimeFileManagerLoad(benchmark::State& state, const std::wstring& path, std::size_t bytes,
                         Create create) {
    Orvex::IOrvexFileMgr& files = Orvex::GetOrvexFileMgr();
    for (auto _ : state) {
        auto* object = create(files);
        const bool loaded = object->Load(path.c_str());
        object->Release();
        if (!loaded) {
            BenchScratch::Fail("our Load failed");
        }
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * bytes));
}

#endif // ORVEX_BENCH_BENCHSCRATCH_H
