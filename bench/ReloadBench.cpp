// Hot reload beside what a game team writes without it: a frame loop that
// asks the stamp (stat) of every loaded file each frame and takes a file once
// its stamp has stood still for the settle time.
//
//   OrvexReload/close-to-listener/*: from the close of an editor's write to
//     the listener's call, in frames of 16 ms that each run Dispatch (ours)
//     or the poll (the peer); both wait for 100 ms of quiet. Manual time: one
//     iteration is one such wait, so the rate is saves per second.
//   OrvexReload/idle-frame-2000-files/*: what a frame costs the game's thread
//     while 2000 loaded files are watched and none changes: our Dispatch
//     beside a stat of each of the 2000 files.
#include "BenchMain.h"
#include "BenchScratch.h"

#include "OrvexCommon/file/OrvexFile.h"

#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

constexpr std::uint32_t kSettleMs = 100;
constexpr auto kFrame = std::chrono::milliseconds(16);
constexpr int kIdleFiles = 2000;

// Takes the time of the call that delivers the new bytes.
class CTimedListener final : public Orvex::IFileReloadListener {
public:
    std::int32_t GetFileType() override { return -1; }
    void OnLoadHead(const Orvex::CCommonFileHead&, Orvex::SLoadBuffer&) override {}
    void OnLoadData(Orvex::SLoadBuffer&) override {
        arrived = Clock::now();
        delivered = true;
    }
    void OnReload(const wchar_t*) override {}
    void OnReloadGone(const wchar_t*) override {}

    Clock::time_point arrived;
    bool delivered = false;
};

class CWholeFile final : public Orvex::IFileLoadListener {
public:
    std::int32_t GetFileType() override { return -1; }
    void OnLoadHead(const Orvex::CCommonFileHead&, Orvex::SLoadBuffer&) override {}
    void OnLoadData(Orvex::SLoadBuffer&) override {}
};

std::wstring Wide(const std::filesystem::path& path) {
    return path.wstring();
}

void LoadOnce(const std::filesystem::path& path) {
    CWholeFile listener;
    if (Orvex::GetOrvexFileMgr().Load(Wide(path).c_str(), &listener) < 0) {
        BenchScratch::Fail("cannot load a file to watch");
    }
}

// The text of save number `save`: a new size each time, as edits have.
std::string Text(int save) {
    return std::string(200 + save % 50, static_cast<char>('a' + save % 26));
}

struct SStamp {
    off_t size = -1;
    timespec modified{};
    bool operator!=(const SStamp& other) const {
        return size != other.size || modified.tv_sec != other.modified.tv_sec ||
               modified.tv_nsec != other.modified.tv_nsec;
    }
};

SStamp StampOf(const std::string& path) {
    struct stat status;
    SStamp stamp;
    if (stat(path.c_str(), &status) == 0) {
        stamp.size = status.st_size;
        stamp.modified = status.st_mtim;
    }
    return stamp;
}

void BM_CloseToListener_Orvex(benchmark::State& state) {
    BenchScratch scratch("reload_bench");
    const auto path = scratch.File("watched.txt");
    scratch.Write(path, Text(0));
    Orvex::SetReloadSettleTime(kSettleMs);
    Orvex::SetFileWatching(true);
    LoadOnce(path);
    CTimedListener listener;
    Orvex::AddReloadListener(Wide(path).c_str(), &listener);
    std::this_thread::sleep_for(std::chrono::milliseconds(50)); // the watch is in place
    int save = 0;
    double longest = 0;
    for (auto _ : state) {
        listener.delivered = false;
        scratch.Write(path, Text(++save));
        const Clock::time_point closed = Clock::now();
        const Clock::time_point deadline = closed + std::chrono::seconds(5);
        while (!listener.delivered && Clock::now() < deadline) {
            Orvex::GetOrvexFileMgr().Dispatch(4);
            if (!listener.delivered) {
                std::this_thread::sleep_for(kFrame);
            }
        }
        if (!listener.delivered) {
            BenchScratch::Fail("no reload within 5 s");
        }
        const double seconds = std::chrono::duration<double>(listener.arrived - closed).count();
        longest = std::max(longest, seconds);
        state.SetIterationTime(seconds);
    }
    state.SetItemsProcessed(state.iterations());
    state.counters["longest_ms"] = longest * 1000;
    Orvex::RemoveReloadListener(Wide(path).c_str(), &listener);
    Orvex::SetFileWatching(false);
}

// The peer: a stat each frame, the file taken (read whole) once its stamp
// has not moved for the settle time.
void BM_CloseToListener_StatPoll(benchmark::State& state) {
    BenchScratch scratch("reload_bench");
    const auto path = scratch.File("polled.txt");
    const std::string narrow = path.string();
    scratch.Write(path, Text(0));
    SStamp known = StampOf(narrow);
    int save = 0;
    double longest = 0;
    for (auto _ : state) {
        scratch.Write(path, Text(++save));
        const Clock::time_point closed = Clock::now();
        const Clock::time_point deadline = closed + std::chrono::seconds(5);
        SStamp seen = known;
        Clock::time_point seenAt = closed;
        Clock::time_point arrived{};
        while (arrived == Clock::time_point{} && Clock::now() < deadline) {
            const SStamp now = StampOf(narrow);
            if (now != seen) {
                seen = now;
                seenAt = Clock::now();
            } else if (seen != known &&
                       Clock::now() - seenAt >= std::chrono::milliseconds(kSettleMs)) {
                std::FILE* file = std::fopen(narrow.c_str(), "rb");
                std::string bytes(static_cast<std::size_t>(seen.size), '\0');
                if (file != nullptr) {
                    benchmark::DoNotOptimize(std::fread(&bytes[0], 1, bytes.size(), file));
                    std::fclose(file);
                }
                known = seen;
                arrived = Clock::now();
                break;
            }
            std::this_thread::sleep_for(kFrame);
        }
        if (arrived == Clock::time_point{}) {
            BenchScratch::Fail("the poll saw no change within 5 s");
        }
        const double seconds = std::chrono::duration<double>(arrived - closed).count();
        longest = std::max(longest, seconds);
        state.SetIterationTime(seconds);
    }
    state.SetItemsProcessed(state.iterations());
    state.counters["longest_ms"] = longest * 1000;
}

std::vector<std::filesystem::path> IdleFiles(const BenchScratch& scratch) {
    std::vector<std::filesystem::path> paths;
    for (int i = 0; i < kIdleFiles; ++i) {
        paths.push_back(scratch.File(("idle" + std::to_string(i) + ".txt").c_str()));
        scratch.Write(paths.back(), Text(i));
    }
    return paths;
}

void BM_IdleFrame_Orvex(benchmark::State& state) {
    BenchScratch scratch("reload_bench");
    Orvex::SetFileWatching(true);
    for (const auto& path : IdleFiles(scratch)) {
        LoadOnce(path);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(200)); // all watched
    for (auto _ : state) {
        benchmark::DoNotOptimize(Orvex::GetOrvexFileMgr().Dispatch(16));
    }
    state.SetItemsProcessed(state.iterations());
    Orvex::SetFileWatching(false);
}

void BM_IdleFrame_StatPoll(benchmark::State& state) {
    BenchScratch scratch("reload_bench");
    std::vector<std::string> names;
    std::vector<SStamp> known;
    for (const auto& path : IdleFiles(scratch)) {
        names.push_back(path.string());
        known.push_back(StampOf(names.back()));
    }
    for (auto _ : state) {
        int changed = 0;
        for (std::size_t i = 0; i < names.size(); ++i) {
            changed += StampOf(names[i]) != known[i] ? 1 : 0;
        }
        benchmark::DoNotOptimize(changed);
    }
    state.SetItemsProcessed(state.iterations());
}

} // namespace

BENCHMARK(BM_CloseToListener_Orvex)
    ->Name("OrvexReload/close-to-listener/Orvex")
    ->UseManualTime()
    ->Iterations(8)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CloseToListener_StatPoll)
    ->Name("OrvexReload/close-to-listener/stat-poll")
    ->UseManualTime()
    ->Iterations(8)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_IdleFrame_Orvex)->Name("OrvexReload/idle-frame-2000-files/Orvex");
BENCHMARK(BM_IdleFrame_StatPoll)->Name("OrvexReload/idle-frame-2000-files/stat-poll");

int main(int argc, char** argv) {
    return RunRegisteredBenchmarks(argc, argv);
}
