// Every entry point that takes a file name, against every kind of name: only
// a regular file (through a link too) is found, opened or replaced; a FIFO, a
// device, a directory and a link that leads nowhere are "not found", left as
// they were, and never opened: no call waits for a FIFO's other end, and a
// writer waiting on a FIFO stays waiting.
#include "OrvexCommon/diag/OrvexProfile.h"
#include "OrvexCommon/file/detail/FileMgr.h"
#include "OrvexCommon/filesystem/OrvexFilesystem.h"
#include "OrvexCommon/format/OrvexFormat.h"
#include "OrvexCommon/platform/OrvexSys.h"

#include "OrvexTestSupport.h"
#include "PackageTestSupport.h"
#include "SpecialFiles.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <string>
#include <thread>

namespace {

using OrvexTest::Bytes;
using OrvexTest::NameKind;

class NoHeadListener final : public Orvex::IFileLoadListener {
public:
    std::int32_t GetFileType() override { return -1; }
    void OnLoadHead(const Orvex::CCommonFileHead&, Orvex::SLoadBuffer&) override {}
    void OnLoadData(Orvex::SLoadBuffer&) override {}
};

Orvex::IOrvexFileMgr& Files() {
    return Orvex::GetOrvexFileMgr();
}

bool Maps(const std::wstring& name, unsigned size, bool readOnly) {
    void* view = Orvex::OrvexMemoryMap(name.c_str(), size, readOnly);
    Orvex::OrvexMemoryUnMap(view);
    return view != nullptr;
}

template <typename Object>
bool WithObject(Object* object, const std::function<bool(Object*)>& use) {
    const bool result = use(object);
    object->Release();
    return result;
}

// An entry point: `call` takes the name without the suffix; the name of the
// kind tested is the name with it. `package`: the regular file it finds is a
// package holding "inner.txt". `replaces`: it writes the file by renaming a
// new one over it (never tried on the system's own device names).
struct EntryPoint {
    const char* what;
    const wchar_t* suffix;
    bool package;
    bool replaces;
    bool (*call)(const std::wstring& name);
};

const EntryPoint kEntryPoints[] = {
    {"IsFileExist", L"", false, false,
     [](const std::wstring& name) { return Files().IsFileExist(name.c_str()); }},
    {"IReadFile::Open", L"", false, false,
     [](const std::wstring& name) {
         return WithObject<Orvex::IReadFile>(Files().CreateReadFile(), [&](Orvex::IReadFile* file) {
             return file->Open(name.c_str());
         });
     }},
    {"Load", L"", false, false,
     [](const std::wstring& name) {
         NoHeadListener listener;
         return Files().Load(name.c_str(), &listener) >= 0;
     }},
    {"IIniFile::Load", L"", false, false,
     [](const std::wstring& name) {
         return WithObject<Orvex::IIniFile>(Files().CreateIniFile(), [&](Orvex::IIniFile* ini) {
             return ini->Load(name.c_str());
         });
     }},
    {"ITabFile::Load", L"", false, false,
     [](const std::wstring& name) {
         return WithObject<Orvex::ITabFile>(Files().CreateTabFile(), [&](Orvex::ITabFile* table) {
             return table->Load(name.c_str());
         });
     }},
    {"OrvexMemoryMap, the whole file", L"", false, false,
     [](const std::wstring& name) { return Maps(name, 0, true); }},
    {"OrvexMemoryMap, 64 bytes to write", L"", false, false,
     [](const std::wstring& name) { return Maps(name, 64, false); }},
    {"OpenPackage", L".pkg", true, false,
     [](const std::wstring& name) {
         return Files().OpenPackage((name + L".pkg").c_str(), nullptr, 0, false);
     }},
    {"Load from the package of the name's folder", L".pkg", true, false,
     [](const std::wstring& name) {
         NoHeadListener listener;
         return Files().Load((name + L"/inner.txt").c_str(), &listener) >= 0;
     }},
    {"IIniFile::Save", L"", false, true,
     [](const std::wstring& name) {
         return WithObject<Orvex::IIniFile>(Files().CreateIniFile(), [&](Orvex::IIniFile* ini) {
             ini->SetString(L"s", L"k", L"saved");
             return ini->Save(name.c_str(), Orvex::eIniNoBom);
         });
     }},
    {"SaveProfileRecord", L"", false, true,
     [](const std::wstring& name) { return Orvex::SaveProfileRecord(name.c_str()); }},
};

struct Kind {
    const char* what;
    NameKind kind;
    bool writerWaits; // a writer waits on the FIFO while the call runs
    bool found;
};

const Kind kKinds[] = {
    {"a regular file", NameKind::Regular, false, true},
    {"a link to a regular file", NameKind::LinkToRegular, false, true},
    {"a FIFO", NameKind::Fifo, false, false},
    {"a FIFO a writer waits on", NameKind::Fifo, true, false},
    {"a directory", NameKind::Directory, false, false},
    {"a link to a device", NameKind::LinkToDevice, false, false},
    {"a link that leads nowhere", NameKind::DanglingLink, false, false},
};

Bytes RegularContent(const EntryPoint& entry, const std::wstring& scratchName) {
    if (!entry.package) {
        const std::string text = "[s]\r\nk = v\r\n";
        return Bytes(text.begin(), text.end());
    }
    EXPECT_TRUE(OrvexTest::WritePackage(scratchName, {{L"inner.txt", Bytes(9, 'p'), 0}}, false));
    const Bytes bytes = OrvexTest::ReadRawFile(scratchName);
    std::filesystem::remove(scratchName);
    return bytes;
}

// Runs `call` on a thread of its own. When it has not returned after two
// seconds it is waiting on the FIFO `fifo`: `blocked` is set, and the FIFO's
// ends are opened for it until it returns (the reading end held, so that a
// writer it releases has a reader; the writing end briefly, releasing a
// reader, which then reads the end of the file).
bool CallWithoutHanging(bool (*call)(const std::wstring&), const std::wstring& name,
                        const std::wstring& fifo, bool& blocked) {
    std::atomic<bool> done{false};
    bool result = false;
    std::thread runner([&] {
        result = call(name);
        done.store(true);
    });
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
    while (!done.load() && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    blocked = !done.load();
    std::optional<OrvexTest::FifoEnd> reading;
    while (!done.load()) {
        if (!reading) {
            reading.emplace(std::filesystem::path(fifo).string(), false);
        }
        { const OrvexTest::FifoEnd writing(std::filesystem::path(fifo).string(), true); }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    runner.join();
    return result;
}

// A writer that waits for a reader of the FIFO, and whether it has stopped
// waiting. It is released at the end through a second name of the FIFO, in
// case the call replaced the first.
class WaitingWriter {
public:
    explicit WaitingWriter(const std::wstring& fifo)
        : m_fifo(HeldName(fifo)), m_thread([this] {
              std::ofstream writer(std::filesystem::path(m_fifo), std::ios::binary);
              m_released.store(true);
          }) {
        // Time to reach the wait in open().
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    ~WaitingWriter() {
        while (!m_released.load()) {
            const OrvexTest::FifoEnd reading(std::filesystem::path(m_fifo).string(), false);
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        m_thread.join();
    }
    bool Released() {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        return m_released.load();
    }

private:
    static std::wstring HeldName(const std::wstring& fifo) {
        const std::wstring held = fifo + L".held";
        std::filesystem::create_hard_link(fifo, held);
        return held;
    }

    std::wstring m_fifo;
    std::atomic<bool> m_released{false};
    std::thread m_thread;
};

class SpecialFiles : public ::testing::Test {
protected:
    void SetUp() override { Files().SetAsyncLoad(false); }

    OrvexTest::ScratchFolder m_folder{OrvexTest::TestScratchName(
        "oxspecial", *::testing::UnitTest::GetInstance()->current_test_info())};
};

TEST_F(SpecialFiles, OnlyRegularFilesAreFoundOpenedOrReplaced) {
    std::size_t tried = 0;
    for (std::size_t k = 0; k < std::size(kKinds); ++k) {
        const Kind& kind = kKinds[k];
        for (std::size_t e = 0; e < std::size(kEntryPoints); ++e) {
            const EntryPoint& entry = kEntryPoints[e];
            SCOPED_TRACE(std::string(entry.what) + " on " + kind.what);
            const std::wstring name =
                (m_folder.Path() / ("n" + std::to_string(k) + "_" + std::to_string(e))).wstring();
            const std::wstring made = name + entry.suffix;
            if (!OrvexTest::MakeNameOfKind(made, kind.kind,
                                           RegularContent(entry, name + L".tmp"))) {
                continue; // no FIFOs, devices or links here
            }
            ++tried;
            const OrvexTest::NameState before = OrvexTest::StateOf(made);
            std::optional<WaitingWriter> writer;
            if (kind.writerWaits) {
                writer.emplace(made);
            }
            bool blocked = false;
            EXPECT_EQ(CallWithoutHanging(entry.call, name, made, blocked), kind.found);
            EXPECT_FALSE(blocked) << "waited for the FIFO's other end";
            if (writer) {
                EXPECT_FALSE(writer->Released()) << "the FIFO was opened";
            }
            EXPECT_TRUE(OrvexTest::StateOf(made).SameKind(before)) << "the name changed kind";
            EXPECT_FALSE(std::filesystem::exists(OrvexTest::DanglingTarget(made)))
                << "a file was made where a link leads";
        }
    }
    // Regular files and directories can be made everywhere.
    EXPECT_GE(tried, 2 * std::size(kEntryPoints));
}

// The system's own device names, found by name alone.
TEST_F(SpecialFiles, DeviceNamesAreNotFiles) {
    const std::vector<std::wstring> devices =
        Orvex::sys::PathsHaveDrives() ? std::vector<std::wstring>{L"NUL", L"CON", L"nul"}
                                      : std::vector<std::wstring>{L"/dev/null", L"/dev/zero"};
    for (const std::wstring& device : devices) {
        for (const EntryPoint& entry : kEntryPoints) {
            if (entry.suffix[0] == 0 && !entry.replaces) {
                SCOPED_TRACE(std::string(entry.what) + " on " +
                             std::filesystem::path(device).string());
                EXPECT_FALSE(entry.call(device));
            }
        }
    }
}

} // namespace
