// Hot reload: watching on, a configuration file loaded, then rewritten by
// another thread (as an editor saves it: a temporary file renamed over it)
// while the frame loop runs; the reload arrives at one of the frame's
// Dispatch calls and the new value is read from it.
#include "DemoSections.h"

#include <OrvexCommon/file/OrvexFile.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

namespace {

using Clock = std::chrono::steady_clock;

const wchar_t* const kWatchedName = L"watched.ini";

// Keeps the new bytes of the watched file and says when they came.
class CConfigReload final : public Orvex::IFileReloadListener {
public:
    std::int32_t GetFileType() override { return -1; }
    void OnLoadHead(const Orvex::CCommonFileHead&, Orvex::SLoadBuffer&) override {}
    void OnLoadData(Orvex::SLoadBuffer& buffer) override {
        text.assign(reinterpret_cast<const char*>(buffer.origin + buffer.pos),
                    buffer.end - buffer.pos);
        arrived = Clock::now();
        ++reloads;
    }
    void OnReload(const wchar_t*) override {}
    void OnReloadGone(const wchar_t*) override { std::printf("  watched.ini is gone\n"); }

    std::string text;
    Clock::time_point arrived;
    int reloads = 0;
};

// The first load: a listener that only takes the bytes.
class CFirstLoad final : public Orvex::IFileLoadListener {
public:
    std::int32_t GetFileType() override { return -1; }
    void OnLoadHead(const Orvex::CCommonFileHead&, Orvex::SLoadBuffer&) override {}
    void OnLoadData(Orvex::SLoadBuffer& buffer) override { bytes = buffer.end - buffer.pos; }
    std::uint32_t bytes = 0;
};

std::string ConfigWithWidth(int width) {
    return "[video]\r\nwidth = " + std::to_string(width) + "\r\nheight = 720\r\n";
}

// An editor's save: the whole new text into a temporary file, renamed over.
void SaveAsAnEditorDoes(const std::string& text) {
    {
        std::ofstream temporary("watched.ini.tmp", std::ios::binary);
        temporary << text;
    }
    std::error_code error;
    std::filesystem::rename("watched.ini.tmp", "watched.ini", error);
}

int WidthIn(const std::string& text) {
    const std::size_t at = text.find("width = ");
    return at == std::string::npos ? -1 : std::atoi(text.c_str() + at + 8);
}

} // namespace

void ShowHotReload() {
    std::printf("\n== hot reload ==\n");
    SaveAsAnEditorDoes(ConfigWithWidth(1280));
    Orvex::SetFileWatching(true);
    std::printf("  watching %s, settle time %u ms\n", Orvex::IsFileWatching() ? "on" : "off",
                Orvex::GetReloadSettleTime());
    Orvex::IOrvexFileMgr& files = Orvex::GetOrvexFileMgr();
    CFirstLoad first;
    files.Load(kWatchedName, &first);
    std::printf("  watched.ini loaded (%u bytes): width %d\n", first.bytes,
                WidthIn(ConfigWithWidth(1280)));
    CConfigReload reload;
    Orvex::AddReloadListener(kWatchedName, &reload);

    // The editor saves a moment after the game started its frames.
    Clock::time_point saved;
    std::thread editor([&saved] {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        SaveAsAnEditorDoes(ConfigWithWidth(1920));
        saved = Clock::now();
    });
    const auto deadline = Clock::now() + std::chrono::seconds(5);
    int frame = 0;
    while (reload.reloads == 0 && Clock::now() < deadline) {
        ++frame;
        files.Dispatch(4); // the loader's share of a 16 ms frame
        std::this_thread::sleep_for(std::chrono::milliseconds(16));
    }
    editor.join();
    if (reload.reloads == 0) {
        std::printf("  no reload arrived within 5 s\n");
    } else {
        const auto late =
            std::chrono::duration_cast<std::chrono::milliseconds>(reload.arrived - saved);
        std::printf("  the editor saved watched.ini (a temporary file renamed over it)\n"
                    "  reload delivered at the Dispatch of frame %d, %lld ms after the save:"
                    " width %d\n",
                    frame, static_cast<long long>(late.count()), WidthIn(reload.text));
    }
    Orvex::RemoveReloadListener(kWatchedName, &reload);
    Orvex::SetFileWatching(false);
}
