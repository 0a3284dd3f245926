// A host that does everything at once, for as long as it is told:
//   orvex_soak SECONDS
// Four threads share the library: a frame thread (asynchronous loads from
// loose files, mapped and private packages, Dispatch under a 2 ms budget,
// ticks that add and delete ticks from their callbacks, a profiled section),
// a log thread (two logs written past their size switches), a configuration
// thread (saves and reloads compared key by key) and an allocator thread
// (blocks of game-like sizes filled and checked). At the end: every load was
// delivered exactly once with its bytes, every log byte is on the disk, every
// reload matched, every block kept its bytes, and the pooled byte count is
// back where it started. Prints one line of figures; exit code 0 when all
// held, 1 when anything was lost, 2 on bad arguments or set-up failure. Runs
// in the working directory, which it fills with scratch files.
#include "OrvexCommon/diag/OrvexProfile.h"
#include "OrvexCommon/file/OrvexFile.h"
#include "OrvexCommon/file/detail/PackageWriter.h"
#include "OrvexCommon/format/OrvexIniFile.h"
#include "OrvexCommon/log/OrvexLogFile.h"
#include "OrvexCommon/memory/OrvexMemory.h"
#include "OrvexCommon/time/OrvexTick.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <random>
#include <string>
#include <thread>
#include <vector>

namespace {

typedef std::vector<unsigned char> Bytes;
typedef std::chrono::steady_clock Clock;

std::atomic<bool> g_stop{false};

Bytes RandomBytes(std::mt19937& random, std::size_t size) {
    Bytes bytes(size);
    for (auto& byte : bytes) {
        byte = static_cast<unsigned char>(random());
    }
    return bytes;
}

// ---- Loads ----

struct SSource {
    std::wstring name;
    Bytes bytes;
};

class CSoakListener final : public Orvex::IFileLoadListener {
public:
    explicit CSoakListener(const SSource& source) : m_source(source) {}
    std::int32_t GetFileType() override { return -1; }
    void OnLoadHead(const Orvex::CCommonFileHead&, Orvex::SLoadBuffer&) override { ++heads; }
    void OnLoadData(Orvex::SLoadBuffer& buffer) override {
        ++calls;
        const Bytes& bytes = m_source.bytes;
        right = buffer.start <= buffer.end && buffer.end == bytes.size() &&
                std::equal(buffer.origin + buffer.start, buffer.origin + buffer.end,
                           bytes.begin() + buffer.start);
    }
    int heads = 0;
    int calls = 0;
    bool right = false;

private:
    const SSource& m_source;
};

bool WriteLoose(const std::wstring& name, const Bytes& bytes) {
    std::ofstream out(std::filesystem::path(name), std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
    return static_cast<bool>(out);
}

// Loose files and two packages (one scrambled and mapped, one private). The
// packaged files keep no resident part, so they need no typed head.
bool MakeSources(std::vector<SSource>& sources) {
    std::mt19937 random(2027);
    std::filesystem::create_directories("data");
    for (int i = 0; i < 40; ++i) {
        SSource source{L"data/loose" + std::to_wstring(i) + L".bin",
                       RandomBytes(random, 1 + random() % 20000)};
        if (!WriteLoose(source.name, source.bytes)) {
            return false;
        }
        sources.push_back(source);
    }
    for (int package = 0; package < 2; ++package) {
        const std::wstring stem = L"pk" + std::to_wstring(package);
        Orvex::detail::PackageWriter writer;
        bool written = writer.Open((stem + L".pkg").c_str(), package == 0);
        for (int i = 0; i < 40 && written; ++i) {
            SSource source{stem + L"/f" + std::to_wstring(i),
                           RandomBytes(random, 1 + random() % 30000)};
            written =
                writer.AddFile(source.name.substr(stem.size() + 1).c_str(), source.bytes.data(),
                               static_cast<std::uint32_t>(source.bytes.size()), 0);
            sources.push_back(source);
        }
        if (!writer.Finish() || !written ||
            !Orvex::GetOrvexFileMgr().OpenPackage((stem + L".pkg").c_str(), nullptr, 0,
                                                  package == 0)) {
            return false;
        }
    }
    return true;
}

// ---- Ticks ----

class CSoakTick : public Orvex::CTick {
public:
    CSoakTick(Orvex::CTickMgr& manager, std::vector<CSoakTick*>& live,
              std::vector<CSoakTick*>& dead, std::mt19937& random)
        : m_manager(manager), m_live(live), m_dead(dead), m_random(random) {}
    void OnTick() override {
        ++fired;
        const unsigned roll = m_random() % 8;
        if (roll == 0 && m_live.size() < 200) {
            auto* born = new CSoakTick(m_manager, m_live, m_dead, m_random);
            m_manager.AddTick(born, 1 + m_random() % 7, static_cast<unsigned short>(m_live.size()));
            m_live.push_back(born);
        } else if (roll == 1 && m_live.size() > 4) {
            // Another tick, or this one, leaves; freed after the update.
            const std::size_t index = m_random() % m_live.size();
            CSoakTick* leaving = m_live[index];
            m_manager.DelTick(leaving);
            m_live.erase(m_live.begin() + static_cast<std::ptrdiff_t>(index));
            m_dead.push_back(leaving);
        }
    }
    static std::atomic<unsigned long long> fired;

private:
    Orvex::CTickMgr& m_manager;
    std::vector<CSoakTick*>& m_live;
    std::vector<CSoakTick*>& m_dead;
    std::mt19937& m_random;
};

std::atomic<unsigned long long> CSoakTick::fired{0};

const char kFrameLabel[] = "soak frame";

struct SFrameResult {
    unsigned long long loads = 0;
    unsigned long long refused = 0;
    unsigned long long notOnce = 0;
    unsigned long long wrong = 0;
};

void RunFrames(const std::vector<SSource>& sources, Orvex::CProfile* profile,
               SFrameResult& result) {
    Orvex::IOrvexFileMgr& files = Orvex::GetOrvexFileMgr();
    std::mt19937 random(7);
    Orvex::CTickMgr ticks;
    std::vector<CSoakTick*> live, dead;
    for (int i = 0; i < 8; ++i) {
        live.push_back(new CSoakTick(ticks, live, dead, random));
        ticks.AddTick(live.back(), 1 + i, static_cast<unsigned short>(i));
    }
    std::vector<std::unique_ptr<CSoakListener>> listeners;
    while (!g_stop.load()) {
        profile->CheckBegin();
        for (int i = 0; i < 16; ++i) {
            const SSource& source = sources[random() % sources.size()];
            listeners.push_back(std::make_unique<CSoakListener>(source));
            if (files.Load(source.name.c_str(), listeners.back().get()) < 0) {
                ++result.refused;
            }
        }
        files.Dispatch(2);
        ticks.Update(1);
        for (CSoakTick* tick : dead) {
            delete tick;
        }
        dead.clear();
        profile->CheckEnd();
        // Settled listeners go, so a long run keeps its memory bounded.
        if (listeners.size() > 20000) {
            while (files.Dispatch(50)) {
            }
            for (const auto& listener : listeners) {
                result.notOnce += listener->calls != 1 ? 1 : 0;
                result.wrong += listener->calls == 1 && !listener->right ? 1 : 0;
            }
            result.loads += listeners.size();
            listeners.clear();
        }
    }
    while (files.Dispatch(50)) {
    }
    for (const auto& listener : listeners) {
        result.notOnce += listener->calls != 1 ? 1 : 0;
        result.wrong += listener->calls == 1 && !listener->right ? 1 : 0;
    }
    result.loads += listeners.size();
    for (CSoakTick* tick : live) {
        delete tick;
    }
}

// ---- Logs ----

const char* const kLogNames[2] = {"soak-logs/alpha", "soak-logs/beta"};

struct SLogResult {
    unsigned long long written[2] = {0, 0};
};

// About a megabyte a second for each log: a switch every ten seconds, and a
// ten-minute run stays far from filling a disk.
constexpr double kLogBytesPerSecond = 2.0 * 1024 * 1024;

void RunLogs(SLogResult& result) {
    std::mt19937 random(11);
    std::string line;
    const Clock::time_point start = Clock::now();
    while (!g_stop.load()) {
        const double elapsed = std::chrono::duration<double>(Clock::now() - start).count();
        if (static_cast<double>(result.written[0] + result.written[1]) >
            elapsed * kLogBytesPerSecond) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
            continue;
        }
        const int which = static_cast<int>(random() % 2);
        line.assign(100 + random() % 8000, static_cast<char>('a' + random() % 26));
        line += "\r\n";
        Orvex::ILog* log = Orvex::GetLogFile(kLogNames[which], static_cast<unsigned>(which + 1));
        result.written[which] += log->Write(line.data(), static_cast<unsigned>(line.size()));
        if (random() % 64 == 0) {
            Orvex::FlushAllLog();
        }
    }
}

// The bytes of every file of the log named `name` ("<name>_<date>-...").
unsigned long long BytesOnDisk(const char* name) {
    const std::filesystem::path path(name);
    const std::string prefix = path.filename().string() + "_";
    unsigned long long bytes = 0;
    for (const auto& entry : std::filesystem::directory_iterator(path.parent_path())) {
        if (entry.path().filename().string().rfind(prefix, 0) == 0) {
            bytes += entry.file_size();
        }
    }
    return bytes;
}

// ---- Configuration files ----

struct SIniResult {
    unsigned long long rounds = 0;
    unsigned long long mismatches = 0;
};

void RunConfigurations(SIniResult& result) {
    Orvex::IOrvexFileMgr& files = Orvex::GetOrvexFileMgr();
    std::mt19937 random(13);
    const Orvex::EIniEncoding encodings[] = {Orvex::eIniNoBom, Orvex::eIniUtf8Bom,
                                             Orvex::eIniUtf16};
    while (!g_stop.load()) {
        Orvex::IIniFile* saved = files.CreateIniFile();
        Orvex::IIniFile* loaded = files.CreateIniFile();
        std::vector<std::wstring> keys, values;
        for (unsigned k = 0, count = 1 + random() % 200; k < count; ++k) {
            keys.push_back(L"k" + std::to_wstring(k));
            values.push_back(std::to_wstring(random()) + L"\x4E2D" +
                             std::wstring(random() % 40, L'v'));
            saved->SetString(L"soak", keys.back().c_str(), values.back().c_str());
        }
        const bool savedOk = saved->Save(L"soak.ini", encodings[random() % 3]);
        const bool loadedOk = savedOk && loaded->Load(L"soak.ini");
        bool same = loadedOk;
        for (std::size_t k = 0; same && k < keys.size(); ++k) {
            const wchar_t* value = loaded->GetString(L"soak", keys[k].c_str());
            same = value != nullptr && values[k] == value;
        }
        result.mismatches += same ? 0 : 1;
        ++result.rounds;
        saved->Release();
        loaded->Release();
    }
}

// ---- The allocator ----

struct SAllocResult {
    unsigned long long blocks = 0;
    unsigned long long damaged = 0;
    unsigned long long refused = 0;
};

unsigned char PatternByte(const void* block, std::size_t index) {
    return static_cast<unsigned char>((reinterpret_cast<std::uintptr_t>(block) >> 3) + index * 7);
}

// Sizes as a game asks for them: many small, some of a kilobyte, a few large.
unsigned GameSize(std::mt19937& random) {
    const unsigned roll = random() % 100;
    return roll < 80 ? 16 + random() % 113 : roll < 98 ? 1024 + random() % 1024 : 100000;
}

void RunAllocator(SAllocResult& result) {
    std::mt19937 random(17);
    std::vector<std::pair<unsigned char*, unsigned>> live;
    const auto release = [&result](std::pair<unsigned char*, unsigned> block) {
        for (unsigned i = 0; i < block.second; ++i) {
            if (block.first[i] != PatternByte(block.first, i)) {
                ++result.damaged;
                break;
            }
        }
        OrvexFree(block.first);
    };
    while (!g_stop.load()) {
        if (live.size() < 20000 && (live.empty() || random() % 2 == 0)) {
            const unsigned size = GameSize(random);
            auto* block = static_cast<unsigned char*>(OrvexAlloc(size));
            if (block == nullptr) {
                ++result.refused;
                continue;
            }
            for (unsigned i = 0; i < size; ++i) {
                block[i] = PatternByte(block, i);
            }
            live.emplace_back(block, size);
            ++result.blocks;
        } else {
            const std::size_t index = random() % live.size();
            release(live[index]);
            live[index] = live.back();
            live.pop_back();
        }
    }
    for (const auto& block : live) {
        release(block);
    }
}

} // namespace

int main(int argc, char** argv) {
    const long seconds = argc == 2 ? std::strtol(argv[1], nullptr, 10) : 0;
    if (seconds <= 0) {
        std::fprintf(stderr, "usage: orvex_soak SECONDS\n");
        return 2;
    }
    // Everything that lives until unload is made first, so the pooled byte
    // count taken afterwards must come back.
    std::vector<SSource> sources;
    Orvex::IOrvexFileMgr& files = Orvex::GetOrvexFileMgr();
    std::filesystem::create_directories("soak-logs");
    if (!MakeSources(sources) || Orvex::GetLogFile(kLogNames[0], 1) == nullptr ||
        Orvex::GetLogFile(kLogNames[1], 2) == nullptr) {
        std::fprintf(stderr, "soak: set-up failed\n");
        return 2;
    }
    files.SetAsyncLoad(true);
    Orvex::CProfile* profile =
        Orvex::GetProfileMgr().CreateProfile(__FILE__, __LINE__, "main", kFrameLabel, 0);
    files.CreateIniFile()->Release();
    const long long startBytes = GetTotalAllocSize();

    SFrameResult frames;
    SLogResult logs;
    SIniResult configurations;
    SAllocResult blocks;
    std::thread workers[] = {
        std::thread(RunFrames, std::cref(sources), profile, std::ref(frames)),
        std::thread(RunLogs, std::ref(logs)),
        std::thread(RunConfigurations, std::ref(configurations)),
        std::thread(RunAllocator, std::ref(blocks)),
    };
    std::this_thread::sleep_for(std::chrono::seconds(seconds));
    g_stop.store(true);
    for (std::thread& worker : workers) {
        worker.join();
    }
    Orvex::FlushAllLog();
    const long long endBytes = GetTotalAllocSize();
    const unsigned long long onDisk[2] = {BytesOnDisk(kLogNames[0]), BytesOnDisk(kLogNames[1])};

    std::printf(
        "soak: %ld s; loads %llu (refused %llu, not once %llu, wrong bytes %llu); "
        "ticks fired %llu; profiled frames %lld; log bytes %llu/%llu and %llu/%llu on disk; "
        "configuration rounds %llu (mismatches %llu); blocks %llu (damaged %llu, "
        "refused %llu); pooled bytes %lld at start, %lld at end\n",
        seconds, frames.loads, frames.refused, frames.notOnce, frames.wrong,
        CSoakTick::fired.load(), profile->GetHitCount(), onDisk[0], logs.written[0], onDisk[1],
        logs.written[1], configurations.rounds, configurations.mismatches, blocks.blocks,
        blocks.damaged, blocks.refused, startBytes, endBytes);
    const bool held = frames.refused == 0 && frames.notOnce == 0 && frames.wrong == 0 &&
                      onDisk[0] == logs.written[0] && onDisk[1] == logs.written[1] &&
                      configurations.mismatches == 0 && blocks.damaged == 0 &&
                      blocks.refused == 0 && startBytes == endBytes && frames.loads > 0;
    return held ? 0 : 1;
}
