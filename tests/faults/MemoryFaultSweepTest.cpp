// Memory faults swept across the public workflows. Each workflow is run once
// cleanly to count its memory requests (pooled blocks, heap blocks, regions);
// then, for every N from 1 to that count, it runs with request N refused and
// once more cleanly on the same objects and names. The faulted run may fail,
// but only the documented way (false, null, -1, std::bad_alloc), and what it
// reports as done must be right; the clean run after it must succeed in full;
// and the pair must hold exactly the pooled bytes one clean run holds (so a
// failed call kept nothing). ASan checks the heap at exit.
#include "OrvexCommon/diag/OrvexProfile.h"
#include "OrvexCommon/file/OrvexFile.h"
#include "OrvexCommon/file/detail/PackageWriter.h"
#include "OrvexCommon/format/OrvexIniFile.h"
#include "OrvexCommon/format/OrvexTabFile.h"
#include "OrvexCommon/log/OrvexLogFile.h"
#include "OrvexCommon/memory/OrvexMemory.h"
#include "OrvexCommon/objects/OrvexVarient.h"
#include "OrvexCommon/platform/OrvexSys.h"

#include "../file/PackageTestSupport.h"
#include "../file/ZipTestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <functional>
#include <memory>
#include <new>
#include <string>
#include <thread>
#include <vector>

namespace {

namespace fs = std::filesystem;
using Orvex::sys::BeginMemoryFaults;
using Orvex::sys::EndMemoryFaults;
using OrvexTest::Bytes;
using OrvexTest::PackedFile;
using OrvexTest::RandomBytes;

// One folder per process: the cases may run side by side, one process each.
const fs::path kFolder = "fault-sweep-" + OrvexTest::ProcessTag();

std::wstring Wide(const fs::path& path) {
    return path.wstring();
}

// Keys of one width, so that names made of them take the same memory.
std::string KeyText(unsigned key) {
    char text[16];
    std::snprintf(text, sizeof(text), "%07u", key);
    return text;
}

// One run of a workflow. `key` names what the run creates (packages, logs,
// profiles), so a faulted run and the clean run after it meet the same names.
// Returns true when every step succeeded; a wrong result is a test failure.
typedef std::function<bool(unsigned key)> Workflow;

// False while a fault is armed: a clean run must not fail any step.
bool g_clean = true;

// A step's outcome; in a clean run a failure is reported with its name.
bool Step(bool succeeded, const char* what) {
    EXPECT_TRUE(succeeded || !g_clean) << what << " failed in a clean run";
    return succeeded;
}

struct SSweep {
    std::uint64_t points = 0;  // memory requests of one clean run
    std::uint64_t visited = 0; // faulted runs that reached their request
};

// Runs the workflow; a std::bad_alloc that escapes it is a failure: every
// call it makes reports running out of memory some other way.
bool RunGuarded(const char* name, const Workflow& run, unsigned key) {
    try {
        return run(key);
    } catch (const std::bad_alloc&) {
        ADD_FAILURE() << name << ": std::bad_alloc escaped a call (run " << key << ")";
        return false;
    }
}

// `prepare`, when given, makes what a run of that key needs on the disk,
// before any fault is armed.
SSweep Sweep(const char* name, const Workflow& run,
             const std::function<void(unsigned key)>& prepare = nullptr) {
    SSweep sweep;
    // The requests of a clean run are counted until two runs in a row make as
    // many (at most six runs): a request that only some runs make (a page
    // array or a container growing once) would never be reached again. (A
    // sweep run that makes it all the same still reaches its request n.)
    // Runs may also take turns at one or two more requests: a class whose
    // units in use swing around its page threshold gives a page back in one
    // run and takes one (with its unit states) in the next. So the sweep
    // covers what every counted run asks for: the fewest requests counted.
    bool clean = false;
    long long held = 0;
    std::uint64_t previous = ~std::uint64_t(0);
    sweep.points = ~std::uint64_t(0);
    for (unsigned attempt = 0; attempt < 6; ++attempt) {
        const unsigned key = 1000000 + attempt;
        const long long before = GetTotalAllocSize();
        if (prepare) {
            prepare(key);
        }
        BeginMemoryFaults(0);
        clean = RunGuarded(name, run, key);
        const std::uint64_t requests = EndMemoryFaults();
        held = GetTotalAllocSize() - before;
        sweep.points = std::min(sweep.points, requests);
        if (requests == previous) {
            break;
        }
        previous = requests;
    }
    EXPECT_TRUE(clean) << name << ": the counted clean run failed";
    for (std::uint64_t n = 1; n <= sweep.points; ++n) {
        const unsigned key = static_cast<unsigned>(n);
        if (prepare) {
            prepare(key);
        }
        const long long start = GetTotalAllocSize();
        g_clean = false;
        BeginMemoryFaults(n);
        RunGuarded(name, run, key);
        sweep.visited += EndMemoryFaults() >= n ? 1 : 0;
        g_clean = true;
        EXPECT_TRUE(RunGuarded(name, run, key))
            << name << ": the clean run after request " << n << " failed";
        EXPECT_EQ(GetTotalAllocSize() - start, held)
            << name << ": request " << n << " refused changed the pooled bytes kept";
        if (::testing::Test::HasFailure()) {
            std::printf("%s: stopped at request %llu\n", name, static_cast<unsigned long long>(n));
            break;
        }
    }
    std::printf("%-16s %6llu failure points, %6llu visited\n", name,
                static_cast<unsigned long long>(sweep.points),
                static_cast<unsigned long long>(sweep.visited));
    return sweep;
}

// Every failure point of a deterministic workflow must be reached.
void ExpectAllVisited(const SSweep& sweep) {
    EXPECT_GT(sweep.points, 0u);
    EXPECT_EQ(sweep.visited, sweep.points);
}

class MemoryFaultSweep : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        std::error_code ignored;
        fs::remove_all(kFolder, ignored);
        fs::create_directories(kFolder / "data");
    }
    static void TearDownTestSuite() {
        Orvex::FlushAllLog();
        std::error_code ignored;
        fs::remove_all(kFolder, ignored);
    }
    Orvex::IOrvexFileMgr& files = Orvex::GetOrvexFileMgr();
};

// ---- Configuration files: load, change, save ----

TEST_F(MemoryFaultSweep, ConfigurationLoadChangeSave) {
    const fs::path source = kFolder / "source.ini";
    const fs::path target = kFolder / "saved.ini";
    const char text[] = "[game]\r\nname = fault sweep\r\nlevel = 3\r\n[video]\r\nwidth = 1280\r\n";
    OrvexTest::WriteRawFile(Wide(source), Bytes(text, text + sizeof(text) - 1));
    Orvex::IIniFile* ini = files.CreateIniFile();
    ASSERT_NE(ini, nullptr);
    Bytes savedBytes; // what every successful save writes
    const Workflow run = [&](unsigned) {
        ini->Close();
        const bool loaded = ini->Load(Wide(source).c_str());
        if (loaded) {
            const wchar_t* name = ini->GetString(L"game", L"name");
            EXPECT_TRUE(name != nullptr && std::wcscmp(name, L"fault sweep") == 0);
            EXPECT_EQ(ini->GetInt(L"video", L"width", 0), 1280);
        } else {
            EXPECT_EQ(ini->GetString(L"game", L"name"), nullptr) << "a failed load kept keys";
        }
        bool changed = true;
        try {
            ini->SetString(L"game", L"name", L"changed");
            ini->SetInt(L"audio", L"volume", 70);
        } catch (const std::bad_alloc&) {
            changed = false;
        }
        const bool saved = ini->Save(Wide(target).c_str(), Orvex::eIniUtf8Bom);
        const Bytes onDisk = OrvexTest::ReadRawFile(Wide(target));
        if (saved && loaded && changed) {
            if (savedBytes.empty()) {
                savedBytes = onDisk;
            }
            EXPECT_EQ(onDisk, savedBytes);
        } else if (!saved && !savedBytes.empty()) {
            EXPECT_EQ(onDisk, savedBytes) << "a failed save damaged the file it replaces";
        }
        return loaded && changed && saved;
    };
    ExpectAllVisited(Sweep("configuration", run));
    ini->Release();
    for (const auto& entry : fs::directory_iterator(kFolder)) {
        EXPECT_EQ(entry.path().filename().string().find(".~save"), std::string::npos)
            << "a failed save left " << entry.path();
    }
}

// ---- Table files ----

TEST_F(MemoryFaultSweep, TableLoad) {
    const fs::path source = kFolder / "table.txt";
    std::string text = "id\tname\tweight\r\n";
    for (int row = 1; row <= 60; ++row) {
        text += std::to_string(row) + "\titem" + std::to_string(row) + "\t" +
                std::to_string(row * 1.5) + "\r\n";
    }
    OrvexTest::WriteRawFile(Wide(source), Bytes(text.begin(), text.end()));
    Orvex::ITabFile* table = files.CreateTabFile();
    ASSERT_NE(table, nullptr);
    const Workflow run = [&](unsigned) {
        table->Clear();
        if (!table->Load(Wide(source).c_str())) {
            return false;
        }
        EXPECT_EQ(table->GetHeight(), 62u);
        EXPECT_EQ(table->GetWidth(), 3u);
        EXPECT_EQ(table->GetInt(42, L"id", -1), 42);
        EXPECT_STREQ(table->GetString(7, L"name"), L"item7");
        return true;
    };
    ExpectAllVisited(Sweep("table", run));
    table->Release();
}

// ---- Packages, both modes ----

std::vector<PackedFile> PackagedFiles() {
    return {{L"small.bin", RandomBytes(100, 1), 0},
            {L"medium.bin", RandomBytes(5000, 2), 0},
            {L"large.bin", RandomBytes(70000, 3), 0}};
}

// A package of PackagedFiles() at kFolder/<stem>.pkg; its files are named
// kFolder/<stem>/<name>.
fs::path WritePackage(const std::string& stem, bool scrambled) {
    const fs::path path = kFolder / (stem + ".pkg");
    EXPECT_TRUE(OrvexTest::WritePackage(Wide(path), PackagedFiles(), scrambled));
    return path;
}

// Reads the whole file through a reader; true when the bytes are right,
// false on a documented failure.
// True when the reader gives the file's bytes, false on a documented
// failure; other bytes are a test failure.
bool ReadsRight(const std::wstring& name, const Bytes& bytes) {
    Bytes got;
    if (!OrvexTest::ReadThroughReader(name, got)) {
        return false;
    }
    EXPECT_EQ(got, bytes) << "a read gave other bytes";
    return true;
}

void SweepPackages(Orvex::IOrvexFileMgr& files, bool mapped, const char* name) {
    const std::string prefix = mapped ? "mapped" : "private";
    const auto prepare = [&](unsigned key) {
        const std::string stem = prefix + KeyText(key);
        if (!fs::exists(kFolder / (stem + ".pkg"))) {
            WritePackage(stem, key % 2 == 0);
        }
    };
    const Workflow run = [&](unsigned key) {
        const std::string stem = prefix + KeyText(key);
        const fs::path path = kFolder / (stem + ".pkg");
        if (!Step(files.OpenPackage(Wide(path).c_str(), nullptr, 0, mapped), "OpenPackage")) {
            return false;
        }
        bool all = true;
        for (const PackedFile& file : PackagedFiles()) {
            const std::wstring packaged = Wide(kFolder / stem) + L"/" + file.name;
            all = Step(files.IsFileExist(packaged.c_str()), "IsFileExist") && all;
            all = Step(ReadsRight(packaged, file.bytes), "a read") && all;
        }
        // The other mode and back, read in each.
        const std::wstring first = Wide(kFolder / stem) + L"/" + PackagedFiles()[1].name;
        files.SetPackageMapped(first.c_str(), !mapped);
        all = Step(ReadsRight(first, PackagedFiles()[1].bytes), "a switched read") && all;
        files.SetPackageMapped(first.c_str(), mapped);
        all = Step(ReadsRight(first, PackagedFiles()[1].bytes), "a read switched back") && all;
        return all;
    };
    ExpectAllVisited(Sweep(name, run, prepare));
}

TEST_F(MemoryFaultSweep, PackagePrivateOpenLookupRead) {
    SweepPackages(files, false, "package private");
}

TEST_F(MemoryFaultSweep, PackageMappedOpenLookupRead) {
    SweepPackages(files, true, "package mapped");
}

// ---- Zip archives: open, look up, read (file objects and loads) ----

// Entries of both methods, one larger than the stream's input buffer.
std::vector<ZipTest::SEntryPlan> ZipPlans() {
    const Bytes large = RandomBytes(70000, 4);
    return {{"stored.bin", std::string(300, 's'), 0},
            {"deflated.txt", std::string(5000, 'd')},
            {"large.bin", std::string(large.begin(), large.end())}};
}

void SweepZips(Orvex::IOrvexFileMgr& files, bool mapped, const char* name) {
    const std::string prefix = mapped ? "zipmapped" : "zipprivate";
    const auto prepare = [&](unsigned key) {
        const fs::path path = kFolder / (prefix + KeyText(key) + ".zip");
        if (!fs::exists(path)) {
            OrvexTest::WriteRawFile(Wide(path), ZipTest::Build(ZipPlans()).bytes);
        }
    };
    const Workflow run = [&](unsigned key) {
        const std::wstring folder = Wide(kFolder / (prefix + KeyText(key)));
        bool all = true;
        for (const ZipTest::SEntryPlan& plan : ZipPlans()) {
            const std::wstring entry = folder + L"/" + Wide(fs::path(plan.name));
            const Bytes bytes(plan.data.begin(), plan.data.end());
            if (mapped) {
                files.SetPackageMapped(entry.c_str(), true);
            }
            all = Step(files.IsFileExist(entry.c_str()), "IsFileExist") && all;
            all = Step(ReadsRight(entry, bytes), "a read") && all;
            OrvexTest::DataListener listener;
            const bool loaded = files.Load(entry.c_str(), &listener) >= 0;
            EXPECT_TRUE(!loaded || listener.Whole() == bytes) << "a load gave other bytes";
            all = Step(loaded, "a load") && all;
        }
        return all;
    };
    // A lookup whose archive could not be opened for want of memory goes on
    // to the parent folder, which is then settled as having none; settle it
    // first, so that the runs keep the same memory.
    EXPECT_FALSE(files.IsFileExist(Wide(kFolder / "none.bin").c_str()));
    ExpectAllVisited(Sweep(name, run, prepare));
}

TEST_F(MemoryFaultSweep, ZipPrivateOpenLookupRead) {
    SweepZips(files, false, "zip private");
}

TEST_F(MemoryFaultSweep, ZipMappedOpenLookupRead) {
    SweepZips(files, true, "zip mapped");
}

// ---- Load, synchronous and asynchronous ----

struct SLoadCase {
    std::wstring name;
    Bytes bytes;
};

// Loose files and the files of one package of each mode.
std::vector<SLoadCase> LoadCases(Orvex::IOrvexFileMgr& files, const std::string& tag) {
    std::vector<SLoadCase> cases;
    for (int i = 0; i < 3; ++i) {
        const fs::path path = kFolder / "data" / (tag + std::to_string(i) + ".bin");
        cases.push_back({Wide(path), RandomBytes(300 + 9000 * i, 10 + i)});
        OrvexTest::WriteRawFile(Wide(path), cases.back().bytes);
    }
    for (const bool mapped : {false, true}) {
        const std::string stem = tag + (mapped ? "mapped" : "private");
        const fs::path path = WritePackage(stem, mapped);
        EXPECT_TRUE(files.OpenPackage(Wide(path).c_str(), nullptr, 0, mapped));
        for (const PackedFile& file : PackagedFiles()) {
            cases.push_back({Wide(kFolder / stem) + L"/" + file.name, file.bytes});
        }
    }
    return cases;
}

// Every load delivered exactly once with its bytes, or refused (-1) and
// never delivered.
Workflow LoadWorkflow(Orvex::IOrvexFileMgr& files, const std::vector<SLoadCase>& cases,
                      bool async) {
    return [&files, &cases, async](unsigned) {
        files.SetAsyncLoad(async);
        std::vector<std::unique_ptr<OrvexTest::DataListener>> listeners;
        std::vector<std::int32_t> results;
        for (const SLoadCase& load : cases) {
            listeners.push_back(std::make_unique<OrvexTest::DataListener>());
            results.push_back(files.Load(load.name.c_str(), listeners.back().get()));
        }
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (files.Dispatch(50) && std::chrono::steady_clock::now() < deadline) {
            std::this_thread::yield();
        }
        bool all = true;
        for (std::size_t i = 0; i < cases.size(); ++i) {
            if (results[i] < 0) {
                EXPECT_EQ(listeners[i]->calls, 0) << "a refused load was delivered";
                all = false;
            } else {
                EXPECT_EQ(listeners[i]->calls, 1) << "a load was not delivered once";
                EXPECT_EQ(listeners[i]->Whole(), cases[i].bytes) << "a load delivered other bytes";
            }
        }
        files.SetAsyncLoad(false);
        return all;
    };
}

TEST_F(MemoryFaultSweep, LoadSynchronous) {
    const std::vector<SLoadCase> cases = LoadCases(files, "sync");
    ExpectAllVisited(Sweep("load sync", LoadWorkflow(files, cases, false)));
}

TEST_F(MemoryFaultSweep, LoadAsynchronous) {
    const std::vector<SLoadCase> cases = LoadCases(files, "async");
    // The loading thread's requests interleave with the caller's, so which
    // one a number names varies between runs: every run must still hold.
    const SSweep sweep = Sweep("load async", LoadWorkflow(files, cases, true));
    EXPECT_GT(sweep.points, 0u);
    EXPECT_GE(sweep.visited * 10, sweep.points * 9);
}

// ---- Log writes ----

TEST_F(MemoryFaultSweep, LogWrites) {
    const Workflow run = [](unsigned key) {
        const std::string name = (kFolder / ("log" + KeyText(key))).string();
        Orvex::ILog* log = Orvex::GetLogFile(name.c_str(), 1);
        if (!Step(log != nullptr, "GetLogFile")) {
            return false;
        }
        const std::string line(200, 'x');
        unsigned written = 0;
        for (int i = 0; i < 4; ++i) {
            written += log->Write(line.data(), static_cast<unsigned>(line.size()));
            written += log->Print("line %d of %s", i, "the sweep");
        }
        log->Flush();
        // Whatever a write reported as written is in the file.
        EXPECT_EQ(fs::exists(log->GetFileName()) ? fs::file_size(log->GetFileName()) : 0,
                  log->GetFileSize());
        return written == 4 * (line.size() + std::strlen("line 0 of the sweep\r\n"));
    };
    ExpectAllVisited(Sweep("log", run));
}

// ---- The profiler ----

TEST_F(MemoryFaultSweep, Profiler) {
    // Labels are keys by address: one per run, reused by the clean run after
    // a faulted one.
    static std::vector<std::unique_ptr<char[]>> labels;
    const Workflow run = [](unsigned key) {
        while (labels.size() <= key % 4096) {
            labels.push_back(std::make_unique<char[]>(24));
            std::snprintf(labels.back().get(), 24, "sweep %zu", labels.size() - 1);
        }
        const char* label = labels[key % 4096].get();
        Orvex::IProfileMgr& manager = Orvex::GetProfileMgr();
        Orvex::CProfile* profile = manager.GetProfile(label);
        if (profile == nullptr) {
            // One detail entry: the list is full after any run, so a pair
            // of runs holds what one does.
            profile = manager.CreateProfile(__FILE__, __LINE__, "Profiler", label, 1);
        }
        if (profile == nullptr) {
            return false;
        }
        // Each pass counts a hit at CheckEnd and one when its detail block
        // closes. Out of memory, a detail entry is lost, never a counter and
        // never an exception into the measured code.
        const long long hits = profile->GetHitCount();
        for (int i = 0; i < 3; ++i) {
            profile->CheckBegin();
            profile->StartDetailBlock();
            profile->StartAddDetail();
            profile->EndAddDetail();
            profile->EndDetailBlock();
            profile->CheckEnd();
        }
        const long long counted = profile->GetHitCount() - hits;
        EXPECT_GE(counted, 3);
        EXPECT_LE(counted, 6);
        return Step(counted == 6, "every detail block counted");
    };
    ExpectAllVisited(Sweep("profiler", run));
}

// ---- The variant ----

TEST_F(MemoryFaultSweep, Variant) {
    // Each step: an assignment, and what its target holds after it. One that
    // throws std::bad_alloc leaves its target as it was.
    const std::wstring longText(3000, L'v');
    const Workflow run = [&longText](unsigned) {
        std::unique_ptr<Orvex::CVarient> text, copy;
        try {
            text = std::make_unique<Orvex::CVarient>();
            copy = std::make_unique<Orvex::CVarient>();
        } catch (const std::bad_alloc&) {
            return false; // a new variant needs its first block
        }
        struct SStep {
            std::function<void()> assign;
            Orvex::CVarient* target;
        };
        const SStep steps[] = {
            {[&] { *text = L"short"; }, text.get()},
            {[&] { *copy = *text; }, copy.get()},
            {[&] { *text = longText.c_str(); }, text.get()},
            {[&] { *copy = *text; }, copy.get()},
            {[&] { *text = 42; }, text.get()},
        };
        bool all = true;
        for (const SStep& step : steps) {
            std::unique_ptr<Orvex::CVarient> before;
            try {
                before = std::make_unique<Orvex::CVarient>(*step.target);
                step.assign();
            } catch (const std::bad_alloc&) {
                EXPECT_TRUE(before == nullptr || *step.target == *before)
                    << "a failed assignment changed the variant";
                all = false;
            }
        }
        if (all) {
            EXPECT_EQ(text->Int(), 42);
            EXPECT_EQ(longText, copy->Str());
        }
        return all;
    };
    ExpectAllVisited(Sweep("variant", run));
}

} // namespace
