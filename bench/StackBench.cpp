// Stack capture and naming beside what a Linux program would otherwise call:
// glibc's backtrace(3) and libunwind's unw_backtrace for capture; glibc's
// backtrace_symbols and GCC's libbacktrace (symbol table, demangled as ours
// is) for naming. Each run captures or names 32 frames of a stack 40 calls
// deep.
//
// libunwind is opened with dlopen(RTLD_LOCAL), never linked: it exports its own
// _Unwind_Backtrace, which would otherwise take the place of the runtime's in
// the library under test.
#include "BenchMain.h"

#include "OrvexCommon/diag/OrvexDiag.h"

#include <backtrace.h>
#include <cxxabi.h>
#include <dlfcn.h>
#include <execinfo.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>

namespace {

constexpr int kFrames = 32;
constexpr int kDepth = 40;

// Runs `body` at the bottom of `depth` nested calls of its own.
__attribute__((noinline)) void AtDepth(int depth, const std::function<void()>& body) {
    if (depth == 0) {
        body();
    } else {
        AtDepth(depth - 1, body);
    }
    __asm__ __volatile__("" ::: "memory");
}

typedef int (*UnwBacktrace)(void** buffer, int size);

UnwBacktrace OpenLibunwind() {
    void* library = dlopen("libunwind.so.8", RTLD_NOW | RTLD_LOCAL);
    return library != nullptr ? reinterpret_cast<UnwBacktrace>(dlsym(library, "unw_backtrace"))
                              : nullptr;
}

// Times `capture(frames)` storing up to 32 return addresses, at the bottom
// of the deep stack.
template <typename Capture> void TimeCapture(benchmark::State& state, Capture capture) {
    AtDepth(kDepth, [&] {
        void* frames[kFrames];
        for (auto _ : state) {
            benchmark::DoNotOptimize(capture(frames));
            benchmark::ClobberMemory();
        }
    });
    state.SetItemsProcessed(state.iterations());
}

// The 32 return addresses every naming contender names.
struct SFrames {
    void* addresses[kFrames];
    int count;
};

SFrames CaptureOnce() {
    SFrames frames{};
    AtDepth(kDepth, [&] { frames.count = backtrace(frames.addresses, kFrames); });
    return frames;
}

void NameOurs(benchmark::State& state, const SFrames& frames) {
    char name[1024];
    for (auto _ : state) {
        for (int i = 0; i < frames.count; ++i) {
            name[0] = '\0';
            Orvex::DebugAddress2Symbol(frames.addresses[i], name, sizeof(name) - 1);
            benchmark::DoNotOptimize(name[0]);
        }
    }
    state.SetItemsProcessed(state.iterations());
}

void NameBacktraceSymbols(benchmark::State& state, const SFrames& frames) {
    for (auto _ : state) {
        char** names = backtrace_symbols(frames.addresses, frames.count);
        benchmark::DoNotOptimize(names);
        std::free(names);
    }
    state.SetItemsProcessed(state.iterations());
}

struct SNameSink {
    char name[1024];
};

void KeepDemangled(void* data, uintptr_t, const char* symbol, uintptr_t, uintptr_t) {
    SNameSink& sink = *static_cast<SNameSink*>(data);
    sink.name[0] = '\0';
    if (symbol == nullptr) {
        return;
    }
    int status = 0;
    char* demangled = abi::__cxa_demangle(symbol, nullptr, nullptr, &status);
    std::snprintf(sink.name, sizeof(sink.name), "%s", demangled != nullptr ? demangled : symbol);
    std::free(demangled);
}

void IgnoreError(void*, const char*, int) {}

void NameLibbacktrace(benchmark::State& state, const SFrames& frames, backtrace_state* symbols) {
    SNameSink sink;
    for (auto _ : state) {
        for (int i = 0; i < frames.count; ++i) {
            backtrace_syminfo(symbols, reinterpret_cast<uintptr_t>(frames.addresses[i]),
                              KeepDemangled, IgnoreError, &sink);
            benchmark::DoNotOptimize(sink.name[0]);
        }
    }
    state.SetItemsProcessed(state.iterations());
}

} // namespace

int main(int argc, char** argv) {
    const UnwBacktrace unwBacktrace = OpenLibunwind();
    if (unwBacktrace == nullptr) {
        std::fprintf(stderr, "libunwind.so.8 cannot be opened\n");
        return 1;
    }
    static const SFrames frames = CaptureOnce();
    if (frames.count != kFrames) {
        std::fprintf(stderr, "the stack is too shallow: %d frames\n", frames.count);
        return 1;
    }
    backtrace_state* symbols = backtrace_create_state(nullptr, 0, IgnoreError, nullptr);

    benchmark::RegisterBenchmark("OrvexStackCapture/32-frames/Orvex", [](benchmark::State& state) {
        TimeCapture(state, [](void** frames) { return Orvex::GetStack(frames, 0, kFrames); });
    });
    benchmark::RegisterBenchmark(
        "OrvexStackCapture/32-frames/backtrace", [](benchmark::State& state) {
            TimeCapture(state, [](void** frames) { return backtrace(frames, kFrames); });
        });
    benchmark::RegisterBenchmark(
        "OrvexStackCapture/32-frames/libunwind", [unwBacktrace](benchmark::State& state) {
            TimeCapture(state,
                        [unwBacktrace](void** frames) { return unwBacktrace(frames, kFrames); });
        });
    benchmark::RegisterBenchmark("OrvexStackName/32-frames/Orvex",
                                 [](benchmark::State& state) { NameOurs(state, frames); });
    benchmark::RegisterBenchmark(
        "OrvexStackName/32-frames/backtrace_symbols",
        [](benchmark::State& state) { NameBacktraceSymbols(state, frames); });
    benchmark::RegisterBenchmark(
        "OrvexStackName/32-frames/libbacktrace",
        [symbols](benchmark::State& state) { NameLibbacktrace(state, frames, symbols); });
    return RunRegisteredBenchmarks(argc, argv);
}
