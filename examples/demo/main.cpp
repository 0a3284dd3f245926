// The demo host: links OrvexCommon2 like a game would and shows what the
// library offers so far.
#include "DemoSections.h"

#include <OrvexCommon/OrvexCommon.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

namespace {

void Section(const char* title) {
    std::printf("\n== %s ==\n", title);
}

// The host's own log sink: every line of the library's log stream passes here.
void HostLogSink(const char* text, unsigned length) {
    std::printf("[host log sink, %u bytes] %s", length, text);
}

void ShowFrame() {
    Section("library frame");
    Orvex::SetFrameTraceFun([](const char* event) {
        std::printf("  %s\n", event);
        std::fflush(stdout); // keep order with the streams, which bypass stdio
    });
    std::fflush(stdout);
}

void ShowHashing() {
    Section("hashing");
    const char* names[] = {"", "abc", "textures/hero.dds", "Textures/Hero.dds"};
    for (const char* name : names) {
        const unsigned size = static_cast<unsigned>(std::string(name).size());
        std::printf("  OrvexHash(\"%s\") = 0x%08X\n", name, Orvex::OrvexHash(name, size));
    }
}

void ShowText() {
    Section("UTF-8 and hex text");
    const char* utf8 = "caf\xc3\xa9 \xe4\xb8\xad";
    wchar_t wide[16];
    const unsigned units = Orvex::Utf8ToUcs(utf8, wide, 16);
    std::printf("  \"%s\" is UTF-8: %s, %u wide units\n", utf8, Orvex::IsUtf8(utf8) ? "yes" : "no",
                units - 1);
    char back[32];
    Orvex::UcsToUtf8(wide, back, sizeof(back));
    std::printf("  and back to UTF-8: \"%s\"\n", back);
    char hex[64];
    Orvex::Uint82Base16(reinterpret_cast<const unsigned char*>(utf8), hex, sizeof(hex));
    std::printf("  as hex: %s\n", hex);
}

void ShowNumbers() {
    Section("numbers");
    std::printf("  OrvexA2I(\"  -12abc\") = %d, OrvexA2I64(L\"9000000000\") = %lld\n",
                Orvex::OrvexA2I("  -12abc"), Orvex::OrvexA2I64(L"9000000000"));
    std::printf("  OrvexA2F(\"1.5e3\") = %g\n", Orvex::OrvexA2F("1.5e3"));
    std::printf("  sqrti(2^31 - 1) = %u, u2d(4294967295) = %.1f\n",
                static_cast<unsigned>(Orvex::sqrti(2147483647u)), Orvex::u2d(4294967295u));
    std::printf("  f2i(-3.7) = %d, f2u(3e9) = %u\n", Orvex::f2i(-3.7f), Orvex::f2u(3e9f));
}

void ShowStreams() {
    using Orvex::operator<<;
    Section("log and error streams");
    std::fflush(stdout);
    Orvex::GetLogStream() << "a line with no hook goes to the console only\n";
    Orvex::SetGlobLogFun(HostLogSink);
    Orvex::GetLogStream() << "with a hook: " << 42 << " items, wide text " << L"\u00e9\u4e2d"
                          << "\n";
    std::fflush(stdout);
    Orvex::SetGlobLogFun(nullptr);
    Orvex::GetErrStream() << "the error stream writes to standard error\n";
}

void PrintAllocatorStatistics(const char* when) {
    std::printf("  %-28s handed out %8lld B, pages %8lld B, free %8lld B\n", when,
                GetTotalAllocSize(), GetTotalMgrSize(), GetFreeMgrSize());
}

void ShowAllocator() {
    Section("pooled allocator");
    PrintAllocatorStatistics("at start:");
    void* blocks[2000];
    for (unsigned k = 0; k < 2000; ++k) {
        blocks[k] = OrvexAlloc(8 + (k * 37) % 1500); // pool classes and large blocks
    }
    PrintAllocatorStatistics("after 2000 allocations:");
    for (void* block : blocks) {
        OrvexFree(block);
    }
    PrintAllocatorStatistics("after releasing them:");
    Orvex::TOrvexMap<int, Orvex::OrvexString> names;
    names[1] = "containers of the library use the pool too";
    std::printf("  %s\n", names[1].c_str());
}

struct SWork {
    unsigned from;
    unsigned to;
    unsigned long long sum;
};

unsigned ORVEX_THREAD_CALL SumRange(void* context) {
    SWork* work = static_cast<SWork*>(context);
    for (unsigned value = work->from; value < work->to; ++value) {
        work->sum += value;
    }
    return 0;
}

void ShowThreads() {
    Section("threads, locks and the process");
    SWork work{1, 1000001, 0};
    void* thread = nullptr;
    if (Orvex::OrvexCreateThread(&thread, 0, SumRange, &work) && Orvex::OrvexJoinThread(thread)) {
        std::printf("  a worker thread summed 1..1000000 = %llu\n", work.sum);
    }
    void* lock = Orvex::OrvexCreateLock();
    Orvex::OrvexLock(lock);
    Orvex::OrvexLock(lock); // recursive: the holder may take it again
    Orvex::OrvexUnlock(lock);
    Orvex::OrvexUnlock(lock);
    Orvex::OrvexDestroyLock(lock);
    std::printf("  process %u uses %llu bytes of address space\n",
                Orvex::OrvexGetCurrentProcessID(), Orvex::OrvexGetProcessMemCost());
}

// A tick that reports its firings on the game clock.
class CDemoTick : public Orvex::CTick {
public:
    CDemoTick(const char* name, bool verbose) : m_name(name), m_verbose(verbose) {}
    void OnTick() override {
        ++m_fired;
        if (m_verbose) {
            std::printf("  [game %5lld ms] %s\n", GetTickMgr()->GetCurUpdateTime(), m_name);
        }
    }
    int Fired() const { return m_fired; }
    const char* Name() const { return m_name; }

private:
    const char* m_name;
    bool m_verbose;
    int m_fired = 0;
};

void ShowTicks() {
    Section("ticks on the game clock, a pause, the frame rate");
    auto manager = std::make_unique<Orvex::CTickMgr>(); // large: keep it off the stack
    CDemoTick physics("physics step (every 50 ms)", false);
    CDemoTick ai("AI think (every 250 ms)", true);
    CDemoTick save("autosave (every 600 ms)", true);
    manager->AddTick(&physics, 50, 1);
    manager->AddTick(&ai, 250, 2);
    manager->AddTick(&save, 600, 3);

    Orvex::CFPS fps;
    Orvex::CTimer gameTimer;
    long long lastGameTime = Orvex::GetOrvexTime();
    long long frames = 0;
    float frameRate = 0.0f;
    const long long start = Orvex::GetProcessTime();
    bool paused = false;
    // The frame loop is recorded as a timeline (saved when the demo ends),
    // with a worker thread beside it.
    Orvex::SetProfileThreadName("main");
    const bool recording = Orvex::StartProfileRecord(8192);
    CDemoWorker worker;
    while (Orvex::GetProcessTime() - start < 1600) {
        Orvex::CProfile* frame = FrameProfiles().frame;
        frame->CheckBegin();
        const long long runFor = Orvex::GetProcessTime() - start;
        if (!paused && runFor >= 700 && runFor < 1000) {
            Orvex::PauseOrvexTime(true);
            paused = true;
            std::printf("  -- game clock paused at %lld ms (frames go on) --\n",
                        manager->GetCurUpdateTime());
        } else if (paused && runFor >= 1000) {
            Orvex::PauseOrvexTime(false);
            paused = false;
            std::printf("  -- game clock resumed --\n");
        }
        const long long now = Orvex::GetOrvexTime();
        Orvex::CProfile* update = FrameProfiles().tickUpdate;
        update->CheckBegin();
        manager->Update(static_cast<unsigned>(now - lastGameTime));
        update->CheckEnd();
        lastGameTime = now;
        frameRate = fps.GetFPS();
        DoProfiledFrameWork(frames);
        ++frames;
        frame->CheckEnd();
        Orvex::OrvexSleep(12);
    }
    worker.Stop();
    Orvex::StopProfileRecord();
    std::printf("  frame loop %s\n", recording ? "recorded" : "not recorded");
    std::printf("  %lld frames in %lld ms of process time, %llu ms of game time\n", frames,
                Orvex::GetProcessTime() - start, gameTimer.GetElapse());
    for (const CDemoTick* tick : {&physics, &ai, &save}) {
        std::printf("  %-28s fired %d times\n", tick->Name(), tick->Fired());
    }
    std::printf("  frame rate: %.1f frames per second\n", frameRate);
    Orvex::STime now = Orvex::GetFormatTimeSTM();
    std::printf("  local time %04d-%02d-%02d %02d:%02d:%02d\n", now.year, now.month, now.day,
                now.hour, now.minute, now.second);
}

// The build packs examples/demo/sample into demo-data/sample.pkg beside the
// demo with the package tool.
void ShowFileExistence(const wchar_t* name) {
    using Orvex::operator<<;
    std::fflush(stdout);
    Orvex::GetLogStream() << "  " << name << ": "
                          << (Orvex::GetOrvexFileMgr().IsFileExist(name) ? "found" : "not found")
                          << "\n";
}

void ShowPackages(const std::filesystem::path& dataDirectory) {
    Section("file manager, packages and patches");
    std::error_code error;
    std::filesystem::create_directories(dataDirectory, error);
    std::filesystem::current_path(dataDirectory, error);
    if (error || !std::filesystem::exists("sample.pkg")) {
        std::printf("  no demo-data/sample.pkg beside the demo: build the orvex-pack tool too\n");
        return;
    }
    Orvex::IOrvexFileMgr& files = Orvex::GetOrvexFileMgr();
    const bool opened = files.OpenPackage(
        L"sample.pkg",
        [](float progress, std::uint32_t user) {
            std::printf("  progress %.1f (user value %u)\n", progress, user);
        },
        7, true);
    std::printf("  sample.pkg %s, kept mapped\n", opened ? "opened" : "did not open");
    std::printf("  deep search: the package of the deepest directory that has one\n");
    ShowFileExistence(L"sample/data/levels/level1.dat");
    ShowFileExistence(L"sample/DATA\\Levels\\LEVEL1.DAT"); // inner names ignore case
    ShowFileExistence(L"sample/data/levels/level9.dat");
    files.SetDeepPackageSearch(false);
    std::printf("  shallow search: the package of the first directory\n");
    ShowFileExistence(L"sample\\textures\\wall.tga");
    files.SetDeepPackageSearch(true);
    files.SetPackageMapped(L"sample/readme.txt", false);
    std::printf("  sample.pkg switched to private mode: resident parts copied, the rest read\n"
                "  through its file handle\n");

    // A package that exists only as a patch: the bytes of sample.pkg laid
    // over a path that has no file, as one chunk at offset 0.
    std::ifstream in("sample.pkg", std::ios::binary);
    const std::vector<char> image((std::istreambuf_iterator<char>(in)),
                                  std::istreambuf_iterator<char>());
    std::vector<char> block(8);
    const auto length = static_cast<std::uint32_t>(image.size());
    for (int i = 0; i < 4; ++i) {
        block[i] = static_cast<char>(length >> (8 * i)); // length, then offset 0
    }
    block.insert(block.end(), image.begin(), image.end());
    const std::int32_t consumed =
        files.SetFilePatch(L"virtual.pkg", static_cast<std::int32_t>(length), 1, block.data());
    std::printf("  patch of virtual.pkg registered, %d bytes consumed\n", consumed);
    ShowFileExistence(L"virtual/data/config.ini");
}

// A resource the demo loads: prints its head and counts its bytes.
class CDemoResource final : public Orvex::IFileLoadListener {
public:
    CDemoResource(const char* label, std::int32_t type, bool verbose)
        : m_label(label), m_type(type), m_verbose(verbose) {}
    std::int32_t GetFileType() override { return m_type; }
    void OnLoadHead(const Orvex::CCommonFileHead& head, Orvex::SLoadBuffer& buffer) override {
        m_headBytes = buffer.pos;
        if (!m_verbose) {
            return;
        }
        const std::int32_t type = head.GetType();
        std::printf("  %s: head '%.3s' version %u, extra %u bytes", m_label,
                    reinterpret_cast<const char*>(&type), head.GetVersion(),
                    head.GetExtraDataSize());
        for (unsigned g = 0; g < head.GetDependentResCount(); ++g) {
            const Orvex::CDependentRes& group = head.GetDependentRes(g);
            for (unsigned n = 0; n < group.GetFileCount(); ++n) {
                std::printf(", needs %ls", group.GetFileName(n));
            }
        }
        std::printf("\n");
    }
    void OnLoadData(Orvex::SLoadBuffer& buffer) override {
        ++m_deliveries;
        m_bodyBytes = buffer.end - buffer.pos;
        if (m_verbose) {
            std::printf("  %s: body %u bytes at [%u, %u)\n", m_label, m_bodyBytes, buffer.pos,
                        buffer.end);
        }
    }
    int Deliveries() const { return m_deliveries; }

private:
    const char* m_label;
    std::int32_t m_type;
    bool m_verbose;
    unsigned m_headBytes = 0;
    unsigned m_bodyBytes = 0;
    int m_deliveries = 0;
};

void ShowLoading() {
    Section("loading resources: at once, then through the loading thread");
    if (!std::filesystem::exists("sample.pkg")) {
        return;
    }
    Orvex::IOrvexFileMgr& files = Orvex::GetOrvexFileMgr();
    // A loose resource beside the package, reached through an alias.
    std::filesystem::create_directories("loose");
    std::filesystem::copy_file("sample.pkg", "loose/copy.bin",
                               std::filesystem::copy_options::overwrite_existing);
    files.SetPathAlias(L"res/", L"loose/");

    CDemoResource texture("sample/textures/hero.tex", Orvex::eFT_Tex, true);
    CDemoResource material("sample/materials/stone.mtr", Orvex::eFT_Mtr, true);
    CDemoResource raw("res/copy.bin", -1, true);
    CDemoResource wrongType("hero.tex as a material", Orvex::eFT_Mtr, true);
    std::printf("  synchronous: Load returns the bytes still to come\n");
    std::printf("  -> %d\n", files.Load(L"sample/textures/hero.tex", &texture));
    std::printf("  -> %d\n", files.Load(L"sample/materials/stone.mtr", &material));
    std::printf("  -> %d\n", files.Load(L"res/copy.bin", &raw));
    std::printf("  -> %d (refused: the head says texture)\n",
                files.Load(L"sample/textures/hero.tex", &wrongType));

    files.SetAsyncLoad(true);
    std::vector<std::unique_ptr<CDemoResource>> queued;
    const wchar_t* names[] = {L"sample/textures/hero.tex", L"sample/materials/stone.mtr",
                              L"res/copy.bin"};
    const std::int32_t types[] = {Orvex::eFT_Tex, Orvex::eFT_Mtr, -1};
    for (int i = 0; i < 30; ++i) {
        queued.push_back(std::make_unique<CDemoResource>("queued", types[i % 3], false));
        files.Load(names[i % 3], queued.back().get());
    }
    int frame = 0;
    bool busy = true;
    while (busy) {
        busy = files.Dispatch(1); // a 1 ms budget per frame
        int delivered = 0;
        for (const auto& resource : queued) {
            delivered += resource->Deliveries();
        }
        std::printf("\r  frame %3d: %2d of %zu loads delivered", ++frame, delivered, queued.size());
        std::fflush(stdout);
        Orvex::OrvexSleep(1);
    }
    std::printf("\n");
    files.SetAsyncLoad(false);
}

// Wide text goes out through the log stream, which writes it as UTF-8.
template <typename... Parts> void PrintLine(const Parts&... parts) {
    using Orvex::operator<<;
    std::fflush(stdout);
    std::ostream& out = Orvex::GetLogStream();
    out << "  ";
    (out << ... << parts);
    out << "\n";
}

struct ReleaseObject {
    template <typename T> void operator()(T* object) const { object->Release(); }
};

void PrintConfiguration(Orvex::IIniFile& ini, const char* where) {
    PrintLine(where, ": video ", ini.GetInt(L"video", L"width", 0), "x",
              ini.GetInt(L"video", L"height", 0), ", gamma ",
              ini.GetFloat(L"video", L"gamma", 1.0f), ", vsync '",
              static_cast<char>(ini.GetChar(L"video", L"vsync", L'?')), "', player ",
              ini.GetString(L"player", L"name"), ", fov ", ini.GetInt(L"video", L"fov", 90),
              " (90 when missing)");
}

void PrintTable(Orvex::ITabFile& table, const char* where) {
    PrintLine(where, ": ", table.GetHeight(), " rows of ", table.GetWidth(), " columns");
    for (unsigned row = 1; row < table.GetHeight(); ++row) {
        if (table.GetString(row, 0u)[0] == 0) {
            continue; // the empty last row of a table stored as UTF-8
        }
        PrintLine("  #", table.GetInt(row, L"Id", 0), " ", table.GetString(row, L"Name"),
                  ": speed ", table.GetFloat(row, L"Speed", 0.0f), ", cost ",
                  static_cast<long long>(table.GetInt64(row, L"Cost", 0)));
    }
}

void ShowTextFiles() {
    Section("configuration and table files");
    // Its comments end in "\r\n": a comment runs to the next carriage return.
    if (!std::filesystem::exists("sample.pkg")) {
        return;
    }
    Orvex::IOrvexFileMgr& files = Orvex::GetOrvexFileMgr();
    std::unique_ptr<Orvex::IIniFile, ReleaseObject> packed(files.CreateIniFile());
    std::unique_ptr<Orvex::IIniFile, ReleaseObject> loose(files.CreateIniFile());
    packed->Load(L"sample/data/config.ini");
    PrintConfiguration(*packed, "config.ini from sample.pkg");
    loose->Load(L"loose-data/config.ini");
    PrintConfiguration(*loose, "config.ini loose");

    // Changed and saved as UTF-16, then read back from the loose file.
    packed->SetInt(L"video", L"width", 1920);
    packed->SetString(L"video", L"fov", L"75");
    packed->Save(L"settings.ini", Orvex::eIniUtf16);
    std::unique_ptr<Orvex::IIniFile, ReleaseObject> saved(files.CreateIniFile());
    saved->Load(L"settings.ini");
    PrintConfiguration(*saved, "settings.ini, saved as UTF-16 and read back");

    std::unique_ptr<Orvex::ITabFile, ReleaseObject> table(files.CreateTabFile());
    table->Load(L"sample/data/units.tab");
    PrintTable(*table, "units.tab (UTF-16) from sample.pkg");
    table->Load(L"loose-data/units.tab");
    PrintTable(*table, "units.tab loose");

    // A table must be Unicode: one in a legacy code page is refused.
    std::ofstream("legacy.tab", std::ios::binary) << "Name\nCaf\xE9\n";
    try {
        table->Load(L"legacy.tab");
    } catch (const char* message) {
        PrintLine("legacy.tab refused: \"", message, "\"");
    }
}

// Prints each entry of a walk, indented by its depth below the walk's start.
Orvex::CPathMgr::FTW_RESULT PrintTreeEntry(const wchar_t* path, Orvex::CPathMgr::FTW_FLAG flag,
                                           void* context) {
    const std::size_t rootLength = *static_cast<const std::size_t*>(context);
    const std::wstring relative(path + rootLength);
    const auto depth = std::count(relative.begin(), relative.end(), L'/');
    PrintLine(std::string(2 * static_cast<std::size_t>(depth), ' '), relative.c_str(),
              flag == Orvex::CPathMgr::FTW_DIR ? "/" : "");
    return Orvex::CPathMgr::FTW_CONTINUE;
}

void ShowLogFiles() {
    Section("log files and the path manager");
    // The directories of a log's name are made when the log is first named.
    Orvex::ILog* session = Orvex::GetLogFile("output/logs/session", 1);
    session->Print("demo started: %d loads queued, %s", 30, "all delivered");
    Orvex::WriteLog("output/logs/session", "written by name, no line end added", 34, 2);
    session->Print("");
    Orvex::GetLogFile("output/logs/net/traffic", 7)->Print("%u bytes in", 1024u);
    Orvex::FlushAllLog();
    std::printf("  session log %s, %u bytes\n", session->GetFileName(), session->GetFileSize());

    Orvex::CPathMgr paths(L"output");
    paths.SetCurPath(L"logs\\net");
    PrintLine("root ", paths.GetRootPath(), ", current ", paths.GetCurPath());
    PrintLine("the tree under output/:");
    const std::size_t rootLength = std::wcslen(L"output/");
    Orvex::CPathMgr::FileTreeWalk(L"output", PrintTreeEntry, const_cast<std::size_t*>(&rootLength),
                                  8);
    wchar_t relative[260];
    if (Orvex::CPathMgr::GetRelativePath(L"output/logs/net", L"loose-data", relative, 260)) {
        PrintLine("from output/logs/net to loose-data: ", relative);
    }
}

void ShowMemoryMaps() {
    Section("memory-mapped files");
    unsigned size = 4096;
    auto* writable = static_cast<char*>(Orvex::OrvexMemoryMap(L"mapped-demo.bin", size, false));
    if (writable == nullptr) {
        std::printf("  could not map mapped-demo.bin\n");
        return;
    }
    std::strcpy(writable, "written through the first view");
    unsigned whole = 0;
    auto* reader = static_cast<const char*>(Orvex::OrvexMemoryMap(L"mapped-demo.bin", whole, true));
    std::printf("  first view %u bytes, second view %u bytes reads: \"%s\"\n", size, whole,
                reader != nullptr ? reader : "(no view)");
    Orvex::OrvexMemoryUnMap(const_cast<char*>(reader));
    Orvex::OrvexMemoryUnMap(writable);
}

} // namespace

int main(int argc, char** argv) {
    std::printf("OrvexCommon2 demo host\n");
    ShowFrame();
    ShowHashing();
    ShowText();
    ShowNumbers();
    ShowStreams();
    ShowAllocator();
    ShowThreads();
    ShowTicks();
    const std::filesystem::path self = argc > 0 ? std::filesystem::absolute(argv[0])
                                                : std::filesystem::current_path() / "orvex_demo";
    ShowPackages(self.parent_path() / "demo-data");
    ShowLoading();
    ShowTextFiles();
    ShowHotReload();
    ShowLogFiles();
    ShowMemoryMaps();
    ShowPicking();
    ShowStacks();
    PrintProfileReport();
    std::printf("\nunloading: the frame tears its objects down\n");
    std::fflush(stdout);
    return 0;
}
