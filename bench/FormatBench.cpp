// The formatting alone of a log line, without the file: the lines of the log
// benchmark's print case ("%s %d %f": a text of 58-74 characters, an integer
// and a decimal, from a table of 1 024 argument sets with a fixed seed) into a
// buffer of 1 025 bytes, as Print formats them. The contenders:
//
//  - Orvex: the library's formatter (text/detail/PrintFormat.h), the
//    runtime's cases read off once, as Print calls it;
//  - vsnprintf: the C runtime's, which Print called before;
//  - fmt: fmt::format_to into a memory buffer with "{} {} {:f}", the way
//    spdlog formats a message before its sinks see it.
//
// Before timing, every argument set goes through the three, which must write
// the same text. The formatter's functions are internal, so this benchmark
// links the library's objects directly.
#include "OrvexCommon/text/detail/PrintFormat.h"

#include <benchmark/benchmark.h>

#include "BenchLines.h"
#include "BenchMain.h"
#include <fmt/format.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

namespace {

constexpr std::size_t kLineSets = 1024; // a power of two: the loops wrap with a mask
constexpr std::size_t kLineCapacity = 1025;

struct PrintArgs {
    std::string text;
    int number;
    double value;
};

std::vector<PrintArgs>& Args() {
    static std::vector<PrintArgs> args;
    return args;
}

const Orvex::detail::SPrintTraits& Traits() {
    static const Orvex::detail::SPrintTraits traits = Orvex::detail::ProbePrintTraits();
    return traits;
}

// The argument sets of the log benchmark's print case (same seed, same draws).
void MakeArgs() {
    BenchLines::Draw draw(20261209);
    const auto between = [&draw](int low, int high) { return draw.Between(low, high); };
    const auto text = [&draw](int length) { return draw.Text(length); };
    for (std::size_t i = 0; i < kLineSets; ++i) {
        PrintArgs args{text(between(58, 74)), between(-99999, 999999),
                       between(-10000000, 99999999) / 997.0};
        Args().push_back(std::move(args));
        text(98); // the log benchmark's write line, drawn to keep the sequence
    }
}

int Ours(char* line, const char* format, ...) {
    va_list args;
    va_start(args, format);
    int length = Orvex::detail::FormatPrint(line, kLineCapacity, format, args, Traits());
    if (length == Orvex::detail::kPrintFallback) {
        length = std::vsnprintf(line, kLineCapacity, format, args);
    }
    va_end(args);
    return length;
}

int Runtime(char* line, const char* format, ...) {
    va_list args;
    va_start(args, format);
    const int length = std::vsnprintf(line, kLineCapacity, format, args);
    va_end(args);
    return length;
}

std::size_t Fmt(fmt::memory_buffer& buffer, const PrintArgs& args) {
    buffer.clear();
    fmt::format_to(std::back_inserter(buffer), "{} {} {:f}", args.text, args.number, args.value);
    return buffer.size();
}

void Check() {
    char ours[kLineCapacity];
    char runtime[kLineCapacity];
    fmt::memory_buffer buffer;
    for (const PrintArgs& args : Args()) {
        const int oursLength = Ours(ours, "%s %d %f", args.text.c_str(), args.number, args.value);
        const int runtimeLength =
            Runtime(runtime, "%s %d %f", args.text.c_str(), args.number, args.value);
        const std::size_t fmtLength = Fmt(buffer, args);
        if (oursLength != runtimeLength || std::string(ours) != runtime ||
            std::string(buffer.data(), fmtLength) != runtime) {
            std::fprintf(stderr, "format_bench: the contenders differ on \"%s\"\n", runtime);
            std::abort();
        }
    }
    std::fprintf(stderr, "format_bench: %zu lines, the same text from every contender\n",
                 kLineSets);
}

void TimeOurs(benchmark::State& state) {
    char line[kLineCapacity];
    std::size_t index = 0;
    for (auto _ : state) {
        const PrintArgs& args = Args()[index++ & (kLineSets - 1)];
        benchmark::DoNotOptimize(
            Ours(line, "%s %d %f", args.text.c_str(), args.number, args.value));
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations());
}

void TimeRuntime(benchmark::State& state) {
    char line[kLineCapacity];
    std::size_t index = 0;
    for (auto _ : state) {
        const PrintArgs& args = Args()[index++ & (kLineSets - 1)];
        benchmark::DoNotOptimize(
            Runtime(line, "%s %d %f", args.text.c_str(), args.number, args.value));
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations());
}

void TimeFmt(benchmark::State& state) {
    fmt::memory_buffer buffer;
    std::size_t index = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(Fmt(buffer, Args()[index++ & (kLineSets - 1)]));
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations());
}

} // namespace

int main(int argc, char** argv) {
    MakeArgs();
    Check();
    benchmark::RegisterBenchmark("OrvexFormat/line/Orvex", TimeOurs);
    benchmark::RegisterBenchmark("OrvexFormat/line/vsnprintf", TimeRuntime);
    benchmark::RegisterBenchmark("OrvexFormat/line/fmt", TimeFmt);
    return RunRegisteredBenchmarks(argc, argv);
}
