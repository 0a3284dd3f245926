// Load and Dispatch: every case of where a file comes from and when its
// listener hears of it, with the buffers' fields and bytes checked.
#include "OrvexCommon/file/OrvexFileHead.h"
#include "OrvexCommon/file/detail/FileMgr.h"
#include "OrvexCommon/file/detail/Scramble.h"

#include "PackageTestSupport.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

namespace {

using namespace Orvex::detail;
using OrvexTest::Bytes;
using OrvexTest::PackedFile;
using OrvexTest::RandomBytes;

// A head without groups: type, version, no groups, the extra data's size.
Bytes Head(std::int32_t type, std::uint32_t extra) {
    Bytes head(16, 0);
    WriteLittleEndian32(head.data(), static_cast<std::uint32_t>(type));
    WriteLittleEndian32(head.data() + 4, 7);
    WriteLittleEndian32(head.data() + 12, extra);
    return head;
}

Bytes Concat(const Bytes& a, const Bytes& b) {
    Bytes all = a;
    all.insert(all.end(), b.begin(), b.end());
    return all;
}

struct SBufferSeen {
    std::uint32_t start, pos, end;
    Bytes bytes; // [start, end)
};

class Listener : public Orvex::IFileLoadListener {
public:
    explicit Listener(std::int32_t type, std::uint32_t readInHead = 0)
        : m_type(type), m_readInHead(readInHead) {}
    std::int32_t GetFileType() override { return m_type; }
    void OnLoadHead(const Orvex::CCommonFileHead& head, Orvex::SLoadBuffer& buffer) override {
        heads.push_back(Seen(buffer));
        headType = static_cast<std::int32_t>(head.GetType());
        buffer.pos += m_readInHead; // what a listener reading its extra data does
    }
    void OnLoadData(Orvex::SLoadBuffer& buffer) override { data.push_back(Seen(buffer)); }

    std::vector<SBufferSeen> heads, data;
    std::int32_t headType = 0;

private:
    static SBufferSeen Seen(const Orvex::SLoadBuffer& buffer) {
        return {buffer.start, buffer.pos, buffer.end,
                Bytes(buffer.origin + buffer.start, buffer.origin + buffer.end)};
    }
    std::int32_t m_type;
    std::uint32_t m_readInHead;
};

class LoadTest : public ::testing::Test {
protected:
    void TearDown() override {
        m_manager.SetAsyncLoad(false);
        m_manager.SetPackageFirst(false);
        while (m_manager.Dispatch(0xFFFFFFFFu)) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    }
    std::wstring Scratch(const char* tag) { return m_scratch.Add(OrvexTest::UniqueName(tag)); }
    void DispatchAll() {
        for (int round = 0; round < 5000 && m_manager.Dispatch(1000); ++round) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        EXPECT_FALSE(m_manager.Dispatch(0));
    }

    CFileMgr& m_manager = FileMgr();
    OrvexTest::ScratchPaths m_scratch;
};

const std::int32_t kTex = Orvex::eFT_Tex;
const std::int32_t kMtr = Orvex::eFT_Mtr;

TEST_F(LoadTest, LooseFilesSynchronously) {
    const std::wstring root = Scratch("loose");
    const Bytes extra = RandomBytes(10, 1);
    const Bytes body = RandomBytes(500, 2);
    const Bytes file = Concat(Concat(Head(kTex, 10), extra), body);
    OrvexTest::WriteRawFile(root + L"/tex.bin", file);

    EXPECT_EQ(m_manager.Load(nullptr, nullptr), 0);
    Listener none(-1);
    EXPECT_EQ(m_manager.Load((root + L"/missing.bin").c_str(), &none), -1);
    EXPECT_EQ(m_manager.Load((root + L"/tex.bin").c_str(), &none),
              static_cast<std::int32_t>(file.size()));
    ASSERT_EQ(none.data.size(), 1u);
    EXPECT_TRUE(none.heads.empty());
    EXPECT_EQ(none.data[0].bytes, file);
    EXPECT_EQ(none.data[0].pos, 0u);

    // The body starts after the extra data whatever OnLoadHead read.
    for (std::uint32_t read : {0u, 3u, 40u}) {
        Listener tex(kTex, read);
        EXPECT_EQ(m_manager.Load((root + L"/tex.bin").c_str(), &tex), 500);
        ASSERT_EQ(tex.heads.size(), 1u);
        EXPECT_EQ(tex.headType, kTex);
        EXPECT_EQ(tex.heads[0].pos, 16u);
        ASSERT_EQ(tex.data.size(), 1u);
        EXPECT_EQ(tex.data[0].pos, 26u);
        EXPECT_EQ(tex.data[0].start, 0u);
        EXPECT_EQ(tex.data[0].end, file.size());
        EXPECT_EQ(tex.data[0].bytes, file);
    }
    Listener mtr(kMtr);
    EXPECT_EQ(m_manager.Load((root + L"/tex.bin").c_str(), &mtr), -1);
    EXPECT_TRUE(mtr.heads.empty() && mtr.data.empty());

    // Extra data claimed past the end of the file: refused.
    OrvexTest::WriteRawFile(root + L"/lying.bin", Concat(Head(kTex, 1000), Bytes(10, 1)));
    Listener lying(kTex);
    EXPECT_EQ(m_manager.Load((root + L"/lying.bin").c_str(), &lying), -1);
    EXPECT_TRUE(lying.heads.empty());
}

TEST_F(LoadTest, AWrongHeadInTheFirstSourceIsNotRetriedInTheOther) {
    const std::wstring root = Scratch("wrong");
    OrvexTest::WriteRawFile(root + L"/a.bin", Concat(Head(kMtr, 0), Bytes(5, 1)));
    ASSERT_TRUE(OrvexTest::WritePackage(m_scratch.Add(root + L".pkg"),
                                        {{L"a.bin", Concat(Head(kTex, 0), Bytes(5, 2)), 100}},
                                        false));
    Listener tex(kTex);
    EXPECT_EQ(m_manager.Load((root + L"/a.bin").c_str(), &tex), -1);
    EXPECT_TRUE(tex.heads.empty() && tex.data.empty());
    m_manager.SetPackageFirst(true);
    EXPECT_EQ(m_manager.Load((root + L"/a.bin").c_str(), &tex), 0);
    EXPECT_EQ(tex.heads.size(), 1u);
}

// A package with the cases of resident parts, opened in the given mode.
struct PackagedCase {
    std::wstring name;
    Bytes bytes;
    std::uint32_t resident;
};

class PackageLoadTest : public LoadTest, public ::testing::WithParamInterface<int> {
protected:
    bool Mapped() const { return (GetParam() & 1) != 0; }
    bool Scrambled() const { return (GetParam() & 2) != 0; }
    bool Patched() const { return (GetParam() & 4) != 0; }

    // Writes the package (and patch) and returns the expected bytes by name.
    std::vector<PackagedCase> Prepare(const std::wstring& root) {
        const Bytes head = Concat(Head(kTex, 6), RandomBytes(6, 3));
        std::vector<PackagedCase> cases = {
            {L"whole.bin", Concat(head, RandomBytes(30, 4)), 52},  // R = S
            {L"rest.bin", Concat(head, RandomBytes(3000, 5)), 40}, // R < S
            {L"raw.bin", RandomBytes(2000, 6), 0},                 // R = 0
            {L"empty.bin", Bytes(), 0},                            // S = 0
        };
        std::vector<PackedFile> files;
        for (const auto& c : cases) {
            files.push_back({c.name, c.bytes, c.resident});
        }
        const std::wstring path = m_scratch.Add(root + L".pkg");
        EXPECT_TRUE(OrvexTest::WritePackage(path, files, Scrambled()));
        if (Patched()) {
            // Four bytes in the rest of rest.bin (file offset 16 + 52 + 1000),
            // laid over the file's (possibly scrambled) bytes.
            const Bytes patch = {1, 2, 3, 4};
            Bytes block;
            OrvexTest::AppendPatchChunk(block, 16 + 52 + 1000, patch);
            EXPECT_EQ(m_manager.SetFilePatch(path.c_str(), -1, 1, block.data()), 12);
            Bytes& bytes = cases[1].bytes;
            std::copy(patch.begin(), patch.end(), bytes.begin() + 1000);
            if (Scrambled()) {
                Descramble(bytes.data() + 1000, 16 + 52 + 1000, 4);
            }
        }
        EXPECT_NE(OpenPackage(path.c_str(), nullptr, 0, Mapped()), nullptr);
        return cases;
    }
};

TEST_P(PackageLoadTest, EveryResidentCaseSynchronouslyAndAsynchronously) {
    for (const bool async : {false, true}) {
        m_manager.SetAsyncLoad(async);
        const std::wstring root = Scratch(async ? "pkgasync" : "pkgsync");
        const std::vector<PackagedCase> cases = Prepare(root);

        Listener whole(kTex);
        EXPECT_EQ(m_manager.Load((root + L"/whole.bin").c_str(), &whole), 0);
        ASSERT_EQ(whole.heads.size(), 1u);
        ASSERT_EQ(whole.data.size(), 1u); // both inside Load, the same buffer
        EXPECT_EQ(whole.data[0].bytes, cases[0].bytes);
        EXPECT_EQ(whole.data[0].end, 52u);

        Listener rest(kTex, 6);
        EXPECT_EQ(m_manager.Load((root + L"/rest.bin").c_str(), &rest), 22 + 3000 - 40);
        ASSERT_EQ(rest.heads.size(), 1u);
        EXPECT_EQ(rest.heads[0].end, 40u);
        Listener raw(-1), empty(-1);
        EXPECT_EQ(m_manager.Load((root + L"/raw.bin").c_str(), &raw), 2000);
        EXPECT_EQ(m_manager.Load((root + L"/empty.bin").c_str(), &empty), 0);
        EXPECT_TRUE(raw.heads.empty());
        // -1 for a packaged file with a resident part unless its head says -1.
        Listener untyped(-1);
        EXPECT_EQ(m_manager.Load((root + L"/rest.bin").c_str(), &untyped), -1);

        if (async) {
            EXPECT_EQ(m_manager.Dispatch(0), true);
            DispatchAll();
        }
        ASSERT_EQ(rest.data.size(), 1u);
        EXPECT_EQ(rest.data[0].start, 40u);
        EXPECT_EQ(rest.data[0].pos, 40u);
        EXPECT_EQ(rest.data[0].end, 3022u);
        EXPECT_EQ(rest.data[0].bytes, Bytes(cases[1].bytes.begin() + 40, cases[1].bytes.end()));
        ASSERT_EQ(raw.data.size(), 1u);
        EXPECT_EQ(raw.data[0].start, 0u);
        EXPECT_EQ(raw.data[0].bytes, cases[2].bytes);
        ASSERT_EQ(empty.data.size(), 1u);
        EXPECT_EQ(empty.data[0].start, empty.data[0].end);

        // A file object reads the same bytes as Load delivers in its two steps.
        Orvex::IReadFile* file = m_manager.CreateReadFile();
        ASSERT_TRUE(file->Open((root + L"/rest.bin").c_str()));
        Bytes read(file->GetSize());
        EXPECT_EQ(file->Read(read.data(), file->GetSize()), 3022);
        EXPECT_EQ(read, cases[1].bytes);
        file->Release();
    }
}

INSTANTIATE_TEST_SUITE_P(Modes, PackageLoadTest, ::testing::Range(0, 8),
                         [](const ::testing::TestParamInfo<int>& info) {
                             std::string name = (info.param & 1) ? "Mapped" : "Private";
                             name += (info.param & 2) ? "Scrambled" : "Plain";
                             name += (info.param & 4) ? "Patched" : "";
                             return name;
                         });

TEST_F(LoadTest, LooseFilesAsynchronously) {
    const std::wstring root = Scratch("looseasync");
    const Bytes extra = RandomBytes(8, 7);
    const Bytes body = RandomBytes(4000, 8);
    const Bytes file = Concat(Concat(Head(kTex, 8), extra), body);
    OrvexTest::WriteRawFile(root + L"/tex.bin", file);
    OrvexTest::WriteRawFile(root + L"/headonly.bin", Concat(Head(kTex, 8), extra));
    ASSERT_TRUE(OrvexTest::WritePackage(m_scratch.Add(root + L"_pk.pkg"),
                                        {{L"fast.bin", RandomBytes(100, 9), 0}}, false));
    ASSERT_NE(OpenPackage((root + L"_pk.pkg").c_str(), nullptr, 0, true), nullptr);
    m_manager.SetAsyncLoad(true);

    Listener tex(kTex, 8);
    EXPECT_EQ(m_manager.Load((root + L"/tex.bin").c_str(), &tex), 4000);
    ASSERT_EQ(tex.heads.size(), 1u); // inside Load
    EXPECT_EQ(tex.heads[0].pos, 16u);
    EXPECT_EQ(tex.heads[0].end, 24u);
    EXPECT_EQ(tex.heads[0].bytes, extra);
    EXPECT_TRUE(tex.data.empty());
    // A mapped package's request is finished inside Load and may overtake it.
    Listener fast(-1);
    EXPECT_EQ(m_manager.Load((root + L"_pk/fast.bin").c_str(), &fast), 100);
    Listener headOnly(kTex);
    EXPECT_EQ(m_manager.Load((root + L"/headonly.bin").c_str(), &headOnly), 24);
    EXPECT_EQ(headOnly.data.size(), 1u); // nothing after the extra data: both in Load
    Listener raw(-1);
    EXPECT_EQ(m_manager.Load((root + L"/tex.bin").c_str(), &raw),
              static_cast<std::int32_t>(file.size()));
    EXPECT_TRUE(raw.data.empty());

    EXPECT_TRUE(m_manager.Dispatch(0));
    EXPECT_TRUE(fast.data.empty());
    DispatchAll();
    ASSERT_EQ(tex.data.size(), 1u);
    EXPECT_EQ(tex.data[0].start, 24u);
    EXPECT_EQ(tex.data[0].pos, 24u);
    EXPECT_EQ(tex.data[0].end, file.size());
    EXPECT_EQ(tex.data[0].bytes, body);
    ASSERT_EQ(raw.data.size(), 1u);
    EXPECT_EQ(raw.data[0].bytes, file);
    ASSERT_EQ(fast.data.size(), 1u);
}

TEST_F(LoadTest, AMappedPackageRequestOvertakesPendingOnes) {
    const std::wstring root = Scratch("overtake");
    OrvexTest::WriteRawFile(root + L"/slow.bin", RandomBytes(100, 10));
    ASSERT_TRUE(OrvexTest::WritePackage(m_scratch.Add(root + L"_pk.pkg"),
                                        {{L"fast.bin", RandomBytes(100, 11), 0}}, false));
    ASSERT_NE(OpenPackage((root + L"_pk.pkg").c_str(), nullptr, 0, true), nullptr);
    m_manager.SetAsyncLoad(true);
    // The loading thread waits for a file that appears only later, so the
    // loose request queued behind it stays pending.
    Listener blocker(-1), slow(-1), fast(-1);
    auto* waiting = new SLoadRequest;
    waiting->listener = &blocker;
    waiting->data.assign(4, 0);
    waiting->file.source = &m_manager.LooseFiles();
    waiting->file.size = 4;
    waiting->file.path = (root + L"/later.bin").c_str();
    m_manager.QueueRequest(waiting);
    EXPECT_EQ(m_manager.Load((root + L"/slow.bin").c_str(), &slow), 100);
    EXPECT_EQ(m_manager.Load((root + L"_pk/fast.bin").c_str(), &fast), 100);
    EXPECT_TRUE(m_manager.Dispatch(1000));
    EXPECT_EQ(fast.data.size(), 1u);
    EXPECT_TRUE(slow.data.empty());
    EXPECT_TRUE(blocker.data.empty());
    OrvexTest::WriteRawFile(root + L"/later.bin", Bytes(4, 9));
    DispatchAll();
    ASSERT_EQ(blocker.data.size(), 1u);
    EXPECT_EQ(blocker.data[0].bytes, Bytes(4, 9));
    EXPECT_EQ(slow.data.size(), 1u);
}

} // namespace
