// Log files beside spdlog 1.10, the library a program would otherwise use to
// append lines to a file. Every log below writes into the folder "run/" of a
// scratch directory, named by its full path. The binary times, through the
// shared library as a host calls it:
//
//  - print: one formatted line per call, "%s %d %f" with a text of 58-74
//    characters, an integer and a decimal from a table of 1 024 argument sets
//    (fixed seed), 88 bytes a line on average with the line end. Ours
//    ILog::Print, which appends "\r\n"; spdlog logger->info("{} {} {:f}", ...)
//    ({:f} prints six decimals, as %f does) with the pattern "%v" and "\r\n"
//    as its line end, so both write the same bytes;
//  - write: pre-made lines of 100 bytes (98 characters and "\r\n", 1 024 of
//    them): ours ILog::Write(line, 100), spdlog logger->info(std::string_view)
//    of the same 100 bytes with the pattern "%v" and an empty line end.
//
// Both cases run on one thread and on two threads writing to the same log
// (the same logger). The peers:
//
//  - spdlog: a logger on basic_file_sink_mt, one file that grows for the whole
//    timed run. Ours does a little more: it leaves its file for a new one
//    each time it passes 10 485 760 bytes;
//  - spdlog-rotating: a logger on rotating_file_sink_mt(file, 10 MiB, 0), which
//    closes its file and opens it again, emptied, before a line would take it
//    past 10 485 760 bytes: a switch at the same size as ours. Emptying the
//    file gives its cached pages back inside the clock, while ours opens a new
//    file and leaves the old one to the clean-up after the run.
//
// No contender flushes per line: ours hands bytes to the C runtime's buffer,
// spdlog has no flush level set. Each timed run starts on a fresh log or
// logger with an empty "run/". After the loop, outside the clock, the log or
// logger is flushed once, then let go, and "run/" emptied, so the files never
// hold more than one run's lines (and never reach the disk).
//
// Before timing, every line of both tables goes through every contender and
// the files read back must hold exactly the same bytes as the lines expected;
// then two threads write 40 960 lines each through every contender at once and
// the file must hold every line the expected number of times, none cut or
// mixed with another; and ours, given 12 MiB, must have switched files
// without losing a byte. The binary aborts on a difference.
#include "OrvexCommon/log/OrvexLogFile.h"

#include <benchmark/benchmark.h>

#include "BenchLines.h"
#include "BenchMain.h"
#include "BenchScratch.h"
#include <spdlog/logger.h>
#include <spdlog/pattern_formatter.h>
#include <spdlog/sinks/basic_file_sink.h>
#include <spdlog/sinks/rotating_file_sink.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <string_view>
#include <system_error>
#include <thread>
#include <vector>

namespace {

constexpr std::size_t kLineSets = 1024; // a power of two: the loops wrap with a mask
constexpr unsigned kBlockSize = 100;
constexpr std::size_t kSwitchSize = 10485760; // our size limit, given to spdlog-rotating
constexpr unsigned kLogId = 7;
// Lines each thread writes in the two-thread check: 40 times through the table.
constexpr std::size_t kCheckLinesPerThread = 40 * kLineSets;

struct PrintArgs {
    std::string text;
    int number;
    double value;
};

struct Data {
    std::string runDirectory; // <scratch>/run
    std::string logName;      // ours: <scratch>/run/orvex
    std::string peerFile;     // spdlog's: <scratch>/run/spdlog.log
    std::vector<PrintArgs> args;
    std::vector<std::string> printLines; // what Print writes for each set
    std::string blocks;                  // kLineSets lines of kBlockSize bytes
};

Data& Shared() {
    static Data data;
    return data;
}

enum class Peer { Basic, Rotating };
enum class Case { Print, Write };

// ---- Set-up and reading back ----

// Empties "run/": the files of the last run go (they are closed by then).
void ClearRunDirectory() {
    std::error_code ignored;
    std::filesystem::remove_all(Shared().runDirectory, ignored);
    std::filesystem::create_directories(Shared().runDirectory);
}

std::string ReadWhole(const std::filesystem::path& path) {
    std::ifstream stream(path, std::ios::binary);
    if (!stream) {
        BenchScratch::Fail(("cannot read " + path.string()).c_str());
    }
    return std::string(std::istreambuf_iterator<char>(stream), std::istreambuf_iterator<char>());
}

// A fresh log with an empty current file.
Orvex::ILog* OpenOurs() {
    Orvex::ILog* log = Orvex::GetLogFile(Shared().logName.c_str(), kLogId);
    if (log == nullptr || log->GetFileSize() != 0) {
        BenchScratch::Fail("our log cannot be had, or does not start empty");
    }
    return log;
}

// A fresh logger on an empty file, writing only the message and `lineEnd`.
std::shared_ptr<spdlog::logger> OpenPeer(Peer peer, const char* lineEnd) {
    spdlog::sink_ptr sink;
    if (peer == Peer::Basic) {
        sink = std::make_shared<spdlog::sinks::basic_file_sink_mt>(Shared().peerFile, true);
    } else {
        sink = std::make_shared<spdlog::sinks::rotating_file_sink_mt>(Shared().peerFile,
                                                                      kSwitchSize, 0);
    }
    auto logger = std::make_shared<spdlog::logger>("bench", std::move(sink));
    logger->set_formatter(std::make_unique<spdlog::pattern_formatter>(
        "%v", spdlog::pattern_time_type::local, lineEnd));
    return logger;
}

const char* PeerLineEnd(Case which) {
    return which == Case::Print ? "\r\n" : "";
}

// ---- One line through each contender ----

inline void PrintOurs(Orvex::ILog* log, const PrintArgs& args) {
    log->Print("%s %d %f", args.text.c_str(), args.number, args.value);
}

inline void PrintPeer(spdlog::logger& logger, const PrintArgs& args) {
    logger.info("{} {} {:f}", args.text, args.number, args.value);
}

inline void WriteOurs(Orvex::ILog* log, const char* line) {
    log->Write(line, kBlockSize);
}

inline void WritePeer(spdlog::logger& logger, const char* line) {
    logger.info(std::string_view(line, kBlockSize));
}

// ---- The lines ----

void MakeLines(Data& data) {
    BenchLines::Draw draw(20261209);
    const auto between = [&draw](int low, int high) { return draw.Between(low, high); };
    const auto text = [&draw](int length) { return draw.Text(length); };
    std::size_t printBytes = 0;
    for (std::size_t i = 0; i < kLineSets; ++i) {
        PrintArgs args{text(between(58, 74)), between(-99999, 999999),
                       between(-10000000, 99999999) / 997.0};
        char line[256];
        const int length = std::snprintf(line, sizeof line, "%s %d %f\r\n", args.text.c_str(),
                                         args.number, args.value);
        if (length <= 0 || length >= static_cast<int>(sizeof line)) {
            BenchScratch::Fail("a print line does not fit");
        }
        data.printLines.emplace_back(line, static_cast<std::size_t>(length));
        printBytes += static_cast<std::size_t>(length);
        data.args.push_back(std::move(args));
        data.blocks += text(kBlockSize - 2) + "\r\n";
    }
    std::fprintf(stderr,
                 "log_bench: %zu print lines of %.1f bytes on average, %zu write lines of %u "
                 "bytes\n",
                 kLineSets, static_cast<double>(printBytes) / kLineSets, kLineSets, kBlockSize);
}

// ---- Start-up checks ----

// Writes line `index` of the case's table through the contender.
void WriteLine(Case which, Orvex::ILog* log, std::size_t index) {
    const Data& data = Shared();
    if (which == Case::Print) {
        PrintOurs(log, data.args[index]);
    } else {
        WriteOurs(log, data.blocks.data() + index * kBlockSize);
    }
}

void WriteLine(Case which, const std::shared_ptr<spdlog::logger>& logger, std::size_t index) {
    const Data& data = Shared();
    if (which == Case::Print) {
        PrintPeer(*logger, data.args[index]);
    } else {
        WritePeer(*logger, data.blocks.data() + index * kBlockSize);
    }
}

std::string ExpectedLine(Case which, std::size_t index) {
    const Data& data = Shared();
    return which == Case::Print ? data.printLines[index]
                                : data.blocks.substr(index * kBlockSize, kBlockSize);
}

// One thread, every line of the table once: the file must hold exactly them.
// Two threads, kCheckLinesPerThread lines each: the file must hold every line
// 2 * kCheckLinesPerThread / kLineSets times and nothing else.
template <typename Target>
void CheckContender(Case which, const char* name, const Target& target, bool twoThreads,
                    const std::function<void()>& flush,
                    const std::function<std::string()>& readBack) {
    std::string expected;
    if (!twoThreads) {
        for (std::size_t i = 0; i < kLineSets; ++i) {
            WriteLine(which, target, i);
            expected += ExpectedLine(which, i);
        }
        flush();
        if (readBack() != expected) {
            BenchScratch::Fail((std::string(name) + " writes other bytes than expected").c_str());
        }
        return;
    }
    const auto work = [which, &target]() {
        for (std::size_t i = 0; i < kCheckLinesPerThread; ++i) {
            WriteLine(which, target, i & (kLineSets - 1));
        }
    };
    std::thread other(work);
    work();
    other.join();
    flush();
    const std::string text = readBack();
    std::map<std::string, std::size_t> wanted;
    for (std::size_t i = 0; i < kLineSets; ++i) {
        wanted[ExpectedLine(which, i)] += 2 * kCheckLinesPerThread / kLineSets;
    }
    std::size_t start = 0;
    while (start < text.size()) {
        const std::size_t end = text.find("\r\n", start);
        if (end == std::string::npos) {
            BenchScratch::Fail(
                (std::string(name) + ", two threads: a line without its end").c_str());
        }
        const auto found = wanted.find(text.substr(start, end + 2 - start));
        if (found == wanted.end() || found->second == 0) {
            BenchScratch::Fail(
                (std::string(name) + ", two threads: a line cut, mixed or repeated").c_str());
        }
        --found->second;
        start = end + 2;
    }
    for (const auto& entry : wanted) {
        if (entry.second != 0) {
            BenchScratch::Fail((std::string(name) + ", two threads: lines missing").c_str());
        }
    }
}

void CheckOurs(Case which, bool twoThreads) {
    ClearRunDirectory();
    Orvex::ILog* log = OpenOurs();
    CheckContender(
        which, "ours", log, twoThreads, [log]() { log->Flush(); },
        [log]() { return ReadWhole(log->GetFileName()); });
    log->Release();
}

void CheckPeer(Case which, Peer peer, bool twoThreads) {
    ClearRunDirectory();
    const std::shared_ptr<spdlog::logger> logger = OpenPeer(peer, PeerLineEnd(which));
    CheckContender(
        which, peer == Peer::Basic ? "spdlog" : "spdlog-rotating", logger, twoThreads,
        [&logger]() { logger->flush(); }, []() { return ReadWhole(Shared().peerFile); });
}

// Ours past the size limit: more than one file, and every byte in one of them.
void CheckOurSwitch() {
    const Data& data = Shared();
    ClearRunDirectory();
    Orvex::ILog* log = OpenOurs();
    const std::string first = log->GetFileName();
    const std::size_t lines = 12 * 1048576 / kBlockSize;
    for (std::size_t i = 0; i < lines; ++i) {
        WriteOurs(log, data.blocks.data() + (i & (kLineSets - 1)) * kBlockSize);
    }
    log->Flush();
    const std::string last = log->GetFileName();
    log->Release();
    std::uintmax_t total = 0;
    std::size_t files = 0;
    for (const auto& entry : std::filesystem::directory_iterator(Shared().runDirectory)) {
        total += entry.file_size();
        ++files;
    }
    if (first == last || files < 2 || total != lines * kBlockSize) {
        BenchScratch::Fail("ours does not switch files past 10 MiB as it should");
    }
    std::fprintf(stderr, "log_bench: ours wrote %zu bytes into %zu files, none lost\n",
                 lines * kBlockSize, files);
}

void Check() {
    for (const Case which : {Case::Print, Case::Write}) {
        for (const bool twoThreads : {false, true}) {
            CheckOurs(which, twoThreads);
            CheckPeer(which, Peer::Basic, twoThreads);
            CheckPeer(which, Peer::Rotating, twoThreads);
        }
    }
    CheckOurSwitch();
    ClearRunDirectory();
    std::fprintf(stderr, "log_bench: every contender wrote the expected bytes, on one thread and "
                         "on two\n");
}

// ---- The timed runs ----

// The log or logger of the run under way. Thread 0 makes it before the loop
// and lets it go after; Google Benchmark holds the other thread at a barrier
// until the loop starts and holds thread 0 until every thread has left it.
struct Current {
    Orvex::ILog* log = nullptr;
    std::shared_ptr<spdlog::logger> logger;
};

Current& Run() {
    static Current current;
    return current;
}

void Count(benchmark::State& state, Case which) {
    if (which == Case::Print) {
        state.SetItemsProcessed(state.iterations());
    } else {
        state.SetBytesProcessed(state.iterations() * kBlockSize);
    }
}

void TimeOurs(benchmark::State& state, Case which) {
    const Data& data = Shared();
    if (state.thread_index() == 0) {
        ClearRunDirectory();
        Run().log = OpenOurs();
    }
    std::size_t index = 0;
    if (which == Case::Print) {
        for (auto _ : state) {
            PrintOurs(Run().log, data.args[index++ & (kLineSets - 1)]);
        }
    } else {
        for (auto _ : state) {
            WriteOurs(Run().log, data.blocks.data() + (index++ & (kLineSets - 1)) * kBlockSize);
        }
    }
    Count(state, which);
    if (state.thread_index() == 0) {
        Run().log->Flush();
        Run().log->Release();
        Run().log = nullptr;
        ClearRunDirectory();
    }
}

void TimePeer(benchmark::State& state, Case which, Peer peer) {
    const Data& data = Shared();
    if (state.thread_index() == 0) {
        ClearRunDirectory();
        Run().logger = OpenPeer(peer, PeerLineEnd(which));
    }
    std::size_t index = 0;
    if (which == Case::Print) {
        for (auto _ : state) {
            PrintPeer(*Run().logger, data.args[index++ & (kLineSets - 1)]);
        }
    } else {
        for (auto _ : state) {
            WritePeer(*Run().logger, data.blocks.data() + (index++ & (kLineSets - 1)) * kBlockSize);
        }
    }
    Count(state, which);
    if (state.thread_index() == 0) {
        Run().logger->flush();
        Run().logger.reset();
        ClearRunDirectory();
    }
}

void RegisterAll() {
    struct Named {
        Case which;
        const char* group;
        const char* name;
    };
    for (const Named& named :
         {Named{Case::Print, "OrvexLog", "print"}, Named{Case::Write, "OrvexLogWrite", "write"}}) {
        for (const int threads : {1, 2}) {
            const std::string prefix =
                std::string(named.group) + "/" + named.name + "-" + std::to_string(threads) + "T/";
            const Case which = named.which;
            benchmark::RegisterBenchmark((prefix + "Orvex").c_str(), TimeOurs, which)
                ->Threads(threads)
                ->UseRealTime();
            benchmark::RegisterBenchmark((prefix + "spdlog").c_str(), TimePeer, which, Peer::Basic)
                ->Threads(threads)
                ->UseRealTime();
            benchmark::RegisterBenchmark((prefix + "spdlog-rotating").c_str(), TimePeer, which,
                                         Peer::Rotating)
                ->Threads(threads)
                ->UseRealTime();
        }
    }
}

} // namespace

int main(int argc, char** argv) {
    const BenchScratch scratch("log_bench");
    Data& data = Shared();
    data.runDirectory = scratch.File("run").string();
    data.logName = scratch.File("run/orvex").string();
    data.peerFile = scratch.File("run/spdlog.log").string();
    MakeLines(data);
    Check();
    RegisterAll();
    return RunRegisteredBenchmarks(argc, argv);
}
