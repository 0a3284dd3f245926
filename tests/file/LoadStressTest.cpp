// Many asynchronous loads from every kind of source, collected over many
// frames with small budgets: every listener hears exactly once, with the
// source's bytes.
#include "OrvexCommon/file/OrvexFileHead.h"
#include "OrvexCommon/file/detail/FileMgr.h"
#include "OrvexCommon/file/detail/Scramble.h"

#include "PackageTestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <random>

namespace {

using namespace Orvex::detail;
using OrvexTest::Bytes;
using OrvexTest::RandomBytes;

constexpr std::int32_t kTex = Orvex::eFT_Tex;

// A head without groups announcing `extra` bytes of extra data.
Bytes WithHead(std::uint32_t extra, const Bytes& rest) {
    Bytes file(16, 0);
    WriteLittleEndian32(file.data(), static_cast<std::uint32_t>(kTex));
    WriteLittleEndian32(file.data() + 12, extra);
    file.insert(file.end(), rest.begin(), rest.end());
    return file;
}

struct Source {
    std::wstring name;
    Bytes bytes; // what a load must deliver, patch included
    bool typed;  // starts with a head
};

// Checks every buffer it is handed against its source's bytes.
class CheckingListener final : public Orvex::IFileLoadListener {
public:
    explicit CheckingListener(const Source& source) : m_source(source) {}
    std::int32_t GetFileType() override { return m_source.typed ? kTex : -1; }
    void OnLoadHead(const Orvex::CCommonFileHead&, Orvex::SLoadBuffer& buffer) override {
        ++heads;
        Check(buffer);
    }
    void OnLoadData(Orvex::SLoadBuffer& buffer) override {
        ++calls;
        end = buffer.end;
        Check(buffer);
    }
    std::uint32_t Size() const { return static_cast<std::uint32_t>(m_source.bytes.size()); }
    int heads = 0;
    int calls = 0;
    std::uint32_t end = 0;
    bool wrongBytes = false;

private:
    void Check(const Orvex::SLoadBuffer& buffer) {
        const Bytes& bytes = m_source.bytes;
        if (buffer.end > bytes.size() || buffer.start > buffer.end ||
            !std::equal(buffer.origin + buffer.start, buffer.origin + buffer.end,
                        bytes.begin() + buffer.start)) {
            wrongBytes = true;
        }
    }
    const Source& m_source;
};

class LoadStressTest : public ::testing::Test {
protected:
    void TearDown() override { FileMgr().SetAsyncLoad(false); }

    // Writes a package of `count` files (heads, random resident parts), with
    // a patch of random chunks when asked, and returns the sources.
    void AddPackage(const std::wstring& root, int index, bool scrambled, bool patched, bool mapped,
                    std::uint32_t seed) {
        std::mt19937 random(seed);
        const std::wstring stem = root + L"/p" + std::to_wstring(index);
        std::vector<OrvexTest::PackedFile> files;
        for (int i = 0; i < 60; ++i) {
            Bytes file = WithHead(random() % 8, RandomBytes(random() % 6000, random()));
            const auto resident = static_cast<std::uint32_t>(28 + random() % (file.size() + 1));
            files.push_back({L"f" + std::to_wstring(i), file, resident});
        }
        const std::wstring path = stem + L".pkg";
        ASSERT_TRUE(OrvexTest::WritePackage(path, files, scrambled));
        // The package file as the library will see it: patched, then each
        // file descrambled from its own position.
        Bytes image = OrvexTest::ReadRawFile(path);
        if (patched) {
            // One chunk inside every other file, clear of its head, in
            // ascending order as the files lie one after another.
            Bytes block;
            std::uint32_t offset = 16;
            for (std::size_t i = 0; i < files.size(); ++i) {
                const auto size = static_cast<std::uint32_t>(files[i].bytes.size());
                const std::uint32_t length = 1 + random() % 40;
                if (i % 2 == 1 && size > 24 + length) {
                    const std::uint32_t at = offset + 24 + random() % (size - 24 - length);
                    const Bytes chunk = RandomBytes(length, random());
                    OrvexTest::AppendPatchChunk(block, at, chunk);
                    std::copy(chunk.begin(), chunk.end(), image.begin() + at);
                    ++m_chunks;
                }
                offset += size;
            }
            ASSERT_EQ(FileMgr().SetFilePatch(path.c_str(), -1, ChunkCount(block), block.data()),
                      static_cast<std::int32_t>(block.size()));
        }
        ASSERT_NE(OpenPackage(path.c_str(), nullptr, 0, mapped), nullptr);
        std::uint32_t offset = 16;
        for (const auto& file : files) {
            Bytes bytes(image.begin() + offset, image.begin() + offset + file.bytes.size());
            if (scrambled) {
                Descramble(bytes.data(), offset, static_cast<std::uint32_t>(bytes.size()));
            }
            m_sources.push_back({stem + L"/" + file.name, bytes, true});
            offset += static_cast<std::uint32_t>(file.bytes.size());
        }
    }

    static std::uint32_t ChunkCount(const Bytes& block) {
        std::uint32_t count = 0;
        for (std::size_t at = 0; at + 8 <= block.size(); ++count) {
            at += 8 + ReadLittleEndian32(block.data() + at);
        }
        return count;
    }

    OrvexTest::ScratchPaths m_scratch;
    std::vector<Source> m_sources;
    int m_chunks = 0;
};

TEST_F(LoadStressTest, TenThousandLoadsAreEachDeliveredOnceWithTheirBytes) {
    const std::wstring root = m_scratch.Add(OrvexTest::UniqueName("stress"));
    std::mt19937 random(2026);
    for (int i = 0; i < 80; ++i) {
        const bool typed = i % 2 == 0;
        const Bytes body = RandomBytes(random() % 9000, random());
        Bytes file = typed ? WithHead(random() % 16, body) : body;
        const std::wstring name = root + L"/loose" + std::to_wstring(i) + L".bin";
        OrvexTest::WriteRawFile(name, file);
        m_sources.push_back({name, file, typed});
    }
    AddPackage(root, 0, false, false, true, 1);
    AddPackage(root, 1, true, true, true, 2);
    AddPackage(root, 2, false, false, false, 3);
    AddPackage(root, 3, true, true, false, 4);
    ASSERT_GT(m_chunks, 0);

    CFileMgr& manager = FileMgr();
    manager.SetAsyncLoad(true);
    constexpr int kLoads = 10000;
    std::vector<std::unique_ptr<CheckingListener>> listeners;
    listeners.reserve(kLoads);
    // How many callbacks the listeners have had so far.
    const auto delivered = [&listeners] {
        int calls = 0;
        for (const auto& listener : listeners) {
            calls += listener->calls;
        }
        return calls;
    };
    int deliveredByZeroBudgets = 0;
    while (listeners.size() < kLoads) {
        for (int i = 0; i < 40 && listeners.size() < kLoads; ++i) {
            const Source& source = m_sources[random() % m_sources.size()];
            listeners.push_back(std::make_unique<CheckingListener>(source));
            ASSERT_GE(manager.Load(source.name.c_str(), listeners.back().get()), 0);
        }
        const unsigned budget = random() % 3;
        const int before = delivered();
        manager.Dispatch(budget);
        if (budget == 0) {
            deliveredByZeroBudgets += delivered() - before;
        }
    }
    while (manager.Dispatch(1)) {
    }
    EXPECT_FALSE(manager.Dispatch(0xFFFFFFFFu));
    int wrong = 0, notOnce = 0, notToTheEnd = 0;
    for (const auto& listener : listeners) {
        wrong += listener->wrongBytes ? 1 : 0;
        notOnce += listener->calls != 1 ? 1 : 0;
        notToTheEnd += listener->end != listener->Size() ? 1 : 0;
    }
    EXPECT_EQ(wrong, 0);
    EXPECT_EQ(notOnce, 0);
    EXPECT_EQ(notToTheEnd, 0);
    // A frame without time to spare delivers nothing.
    EXPECT_EQ(0, deliveredByZeroBudgets);
}

} // namespace
