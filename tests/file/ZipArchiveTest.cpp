// Zip archives: directories and entries from real writers, any read order
// against the bytes written, ZIP64, and hostile archives refused.
#include "OrvexCommon/file/detail/NameKey.h"
#include "OrvexCommon/file/detail/ZipDirectory.h"
#include "OrvexCommon/file/detail/ZipEntryStream.h"
#include "OrvexCommon/memory/OrvexMemory.h"
#include "OrvexCommon/platform/OrvexSys.h"

#include "ZipFixtures.h"
#include "ZipTestSupport.h"

#include <gtest/gtest.h>

#include <functional>
#include <random>

using namespace Orvex;
using namespace Orvex::detail;
using ZipTest::CSparseZipBytes;
using ZipTest::SBuilt;
using ZipTest::SEntryPlan;

namespace {

const SZipEntry* Find(const SZipDirectory& directory, const wchar_t* name) {
    return directory.index.Find(EntryKey(name));
}

// The entry's bytes read in chunks of `chunk`; the first failure ends it.
EZipRead ReadAll(IZipBytes& bytes, const SZipDirectory& directory, const SZipEntry& entry,
                 std::string& out, std::size_t chunk = 1000) {
    CZipEntryStream stream;
    EZipRead status = stream.Open(bytes, directory, entry);
    out.clear();
    if (status != EZipRead::kOk) {
        return status;
    }
    out.assign(static_cast<std::size_t>(entry.size), '\0');
    for (std::size_t at = 0; status == EZipRead::kOk && at <= out.size(); at += chunk) {
        const std::size_t n = std::min(chunk, out.size() - at);
        status = stream.Read(at, n, reinterpret_cast<unsigned char*>(&out[0]) + at);
        if (n == 0) {
            break;
        }
    }
    return status;
}

std::string Repeat(const std::string& text, int times) {
    std::string out;
    for (int k = 0; k < times; ++k) {
        out += text;
    }
    return out;
}

// Half text that compresses well, half noise that does not.
std::string MixedBytes(std::size_t size, unsigned seed) {
    std::mt19937 random(seed);
    std::string out;
    while (out.size() < size) {
        out += (random() & 1) != 0 ? std::string("tile row of a level ") : std::to_string(random());
    }
    out.resize(size);
    return out;
}

TEST(ZipArchive, ArchivesOfCommonWritersReadBackWhole) {
    struct SCase {
        const unsigned char* archive;
        std::size_t size;
        const wchar_t* name;
        std::string expected;
    };
    const std::string bytes256 = [] {
        std::string out;
        for (int k = 0; k < 512; ++k) {
            out.push_back(static_cast<char>(k & 0xFF));
        }
        return out;
    }();
    const SCase cases[] = {
        {ZipFixtures::kPythonZip, sizeof(ZipFixtures::kPythonZip), L"data\\README.txt",
         Repeat("stored bytes\n", 3)},
        {ZipFixtures::kPythonZip, sizeof(ZipFixtures::kPythonZip), L"Data/Levels/One.LVL",
         Repeat("level one ", 40)},
        {ZipFixtures::kPythonZip, sizeof(ZipFixtures::kPythonZip),
         L"data/na\u00efve/\u65e5\u672c.txt", "unicode name"},
        {ZipFixtures::kPythonZip, sizeof(ZipFixtures::kPythonZip), L"data/wide.bin", bytes256},
        {ZipFixtures::kInfoZip, sizeof(ZipFixtures::kInfoZip), L"one.txt", "x"},
        {ZipFixtures::kInfoZip, sizeof(ZipFixtures::kInfoZip), L"SUB\\hello.txt",
         Repeat("hello from zip\n", 20)},
    };
    for (const SCase& c : cases) {
        CSparseZipBytes bytes(c.archive, c.size);
        SZipDirectory directory;
        ASSERT_EQ(EZipOpen::kOpened, ReadZipDirectory(bytes, c.size, directory));
        // Folders are not files.
        EXPECT_EQ(c.archive == ZipFixtures::kPythonZip ? 4u : 2u, directory.index.size());
        const SZipEntry* entry = Find(directory, c.name);
        ASSERT_NE(nullptr, entry);
        std::string read;
        EXPECT_EQ(EZipRead::kOk, ReadAll(bytes, directory, *entry, read, 7));
        EXPECT_EQ(c.expected, read);
    }
}

// Reads in a random order, backward seeks included, against the bytes
// written: plain and ZIP64 archives, the latter 5 GiB in, so that every
// offset needs 64 bits.
TEST(ZipArchive, AnyRangeReadsAsWrittenInAnyOrder) {
    const std::vector<SEntryPlan> plans = {
        {"big.bin", MixedBytes(300000, 1), 8},
        {"stored.bin", MixedBytes(70000, 2), 0},
        {"zeros.bin", std::string(200000, '\0'), 8},
        {"empty.bin", "", 8},
        {"empty-stored.bin", "", 0},
    };
    for (const std::uint64_t gap : {std::uint64_t(0), std::uint64_t(5) << 30}) {
        const SBuilt built = ZipTest::Build(plans, gap != 0, gap);
        CSparseZipBytes bytes(built);
        SZipDirectory directory;
        ASSERT_EQ(EZipOpen::kOpened, ReadZipDirectory(bytes, built.Size(), directory));
        std::mt19937 random(7);
        for (const SEntryPlan& plan : plans) {
            const OrvexWString name(plan.name.begin(), plan.name.end());
            const SZipEntry* entry = Find(directory, name.c_str());
            ASSERT_NE(nullptr, entry);
            ASSERT_EQ(gap != 0, entry->headerOffset > 0xFFFFFFFFu);
            CZipEntryStream stream;
            ASSERT_EQ(EZipRead::kOk, stream.Open(bytes, directory, *entry));
            for (int k = 0; k < 40; ++k) {
                const std::size_t from = plan.data.empty() ? 0 : random() % plan.data.size();
                const std::size_t n =
                    std::min<std::size_t>(random() % 9000, plan.data.size() - from);
                std::string got(n, '\0');
                ASSERT_EQ(EZipRead::kOk,
                          stream.Read(from, n, reinterpret_cast<unsigned char*>(&got[0])))
                    << plan.name << " " << from << "+" << n;
                ASSERT_EQ(plan.data.substr(from, n), got) << plan.name << " " << from;
            }
            std::string whole;
            EXPECT_EQ(EZipRead::kOk, ReadAll(bytes, directory, *entry, whole));
            EXPECT_EQ(plan.data, whole);
        }
    }
}

TEST(ZipArchive, MoreThan65535EntriesComeFromTheZip64EndRecord) {
    std::vector<SEntryPlan> plans;
    for (int k = 0; k < 70000; ++k) {
        plans.push_back({"f" + std::to_string(k), std::to_string(k * 7), 0});
    }
    const SBuilt built = ZipTest::Build(plans, true);
    CSparseZipBytes bytes(built);
    SZipDirectory directory;
    ASSERT_EQ(EZipOpen::kOpened, ReadZipDirectory(bytes, built.Size(), directory));
    EXPECT_EQ(70000u, directory.index.size());
    for (int k : {0, 65535, 65536, 69999}) {
        const OrvexWString name = L"F" + OrvexWString(std::to_wstring(k).c_str());
        const SZipEntry* entry = Find(directory, name.c_str());
        ASSERT_NE(nullptr, entry) << k;
        std::string read;
        EXPECT_EQ(EZipRead::kOk, ReadAll(bytes, directory, *entry, read));
        EXPECT_EQ(std::to_string(k * 7), read);
    }
}

// A good archive with one mutation, and what opening it gives.
struct SDirectoryCase {
    const char* what;
    std::function<void(SBuilt&)> mutate;
    EZipOpen expected;
};

TEST(ZipArchive, DirectoriesThatDoNotHoldTogetherAreRefusedWhole) {
    const std::vector<SEntryPlan> plans = {{"a.txt", "alpha", 8}, {"b.txt", "beta", 0}};
    const SDirectoryCase cases[] = {
        {"nothing", [](SBuilt& b) { b.bytes.clear(); }, EZipOpen::kNotZip},
        {"no end record", [](SBuilt& b) { b.bytes.resize(b.end - b.gap); }, EZipOpen::kNotZip},
        {"a comment longer than the file", [](SBuilt& b) { b.Put16(b.end + 20, 5); },
         EZipOpen::kNotZip},
        {"directory past the end record", [](SBuilt& b) { b.Put32(b.end + 12, 4000); },
         EZipOpen::kMalformed},
        {"more records than the directory holds",
         [](SBuilt& b) { b.Put16(b.end + 8, 3), b.Put16(b.end + 10, 3); }, EZipOpen::kMalformed},
        {"fewer records than the directory holds",
         [](SBuilt& b) { b.Put16(b.end + 8, 1), b.Put16(b.end + 10, 1); }, EZipOpen::kMalformed},
        {"a record without its signature", [](SBuilt& b) { b.At(b.centrals[1]) = 'Q'; },
         EZipOpen::kMalformed},
        {"a name running out of the directory", [](SBuilt& b) { b.Put16(b.centrals[1] + 28, 500); },
         EZipOpen::kMalformed},
        {"another disk", [](SBuilt& b) { b.Put16(b.end + 4, 1); }, EZipOpen::kMultiDisk},
        {"ZIP64 fields without a locator", [](SBuilt& b) { b.Put32(b.end + 16, 0xFFFFFFFF); },
         EZipOpen::kMalformed},
    };
    for (const SDirectoryCase& c : cases) {
        SBuilt built = ZipTest::Build(plans);
        c.mutate(built);
        CSparseZipBytes bytes(built);
        SZipDirectory directory;
        EXPECT_EQ(c.expected, ReadZipDirectory(bytes, built.Size(), directory)) << c.what;
        EXPECT_TRUE(directory.index.empty()) << c.what;
    }
    // Bytes that cannot be read.
    struct SFailing final : IZipBytes {
        bool Read(std::uint64_t, std::size_t, unsigned char*) override { return false; }
    } failing;
    SZipDirectory directory;
    EXPECT_EQ(EZipOpen::kReadFailed, ReadZipDirectory(failing, 1000, directory));
}

TEST(ZipArchive, EntriesThatCannotBeTrustedAreLeftOutAndCounted) {
    struct SCase {
        SEntryPlan plan;
        unsigned SZipRefusals::*counter; // null: the entry is kept
    };
    const SCase cases[] = {
        {{"m.bin", "x", 12}, &SZipRefusals::methods},
        {{"e.bin", "x", 8, 0x0001}, &SZipRefusals::encrypted},
        {{"s.bin", "x", 8, 0x0041}, &SZipRefusals::encrypted},
        {{"../up.txt", "x"}, &SZipRefusals::names},
        {{"a/../../up.txt", "x"}, &SZipRefusals::names},
        {{"a\\..\\up.txt", "x"}, &SZipRefusals::names},
        {{"..", "x"}, &SZipRefusals::names},
        {{"/root.txt", "x"}, &SZipRefusals::names},
        {{"\\root.txt", "x"}, &SZipRefusals::names},
        {{"C:drive.txt", "x"}, &SZipRefusals::names},
        {{"", "x"}, &SZipRefusals::names},
        {{std::string("nul\0.txt", 8), "x"}, &SZipRefusals::names},
        {{"bad\xC3(.txt", "x", 8, 0x0800}, &SZipRefusals::names},
        {{"over\xC0\xAF.txt", "x", 8, 0x0800}, &SZipRefusals::names},
        {{"..dots..", "x"}, nullptr},
        {{"a/.../b", "x"}, nullptr},
        {{"cp437 \x82t\x82.txt", "x"}, nullptr},
    };
    for (const SCase& c : cases) {
        const SBuilt built = ZipTest::Build({c.plan, {"kept.txt", "kept"}});
        CSparseZipBytes bytes(built);
        SZipDirectory directory;
        ASSERT_EQ(EZipOpen::kOpened, ReadZipDirectory(bytes, built.Size(), directory))
            << c.plan.name;
        EXPECT_EQ(c.counter == nullptr ? 2u : 1u, directory.index.size()) << c.plan.name;
        if (c.counter != nullptr) {
            EXPECT_EQ(1u, directory.refused.*c.counter) << c.plan.name;
        }
        EXPECT_NE(nullptr, Find(directory, L"kept.txt"));
    }
    // The refused method is remembered for the archive's one log line; code
    // page 437 names decode to their characters.
    const SBuilt built = ZipTest::Build({{"a", "x", 14}, {"b", "x", 99}, {"\x82t\x82", "x"}});
    CSparseZipBytes bytes(built);
    SZipDirectory directory;
    ASSERT_EQ(EZipOpen::kOpened, ReadZipDirectory(bytes, built.Size(), directory));
    EXPECT_EQ(2u, directory.refused.methods);
    EXPECT_EQ(14u, directory.refused.firstMethod);
    EXPECT_NE(nullptr, Find(directory, L"\u00e9t\u00e9"));
    // An entry whose local header would lie past the directory.
    SBuilt misplaced = ZipTest::Build({{"a", "alpha"}, {"kept.txt", "kept"}});
    misplaced.Put32(misplaced.centrals[0] + 42, static_cast<std::uint32_t>(misplaced.directory));
    CSparseZipBytes misplacedBytes(misplaced);
    ASSERT_EQ(EZipOpen::kOpened, ReadZipDirectory(misplacedBytes, misplaced.Size(), directory));
    EXPECT_EQ(1u, directory.refused.placement);
    EXPECT_EQ(1u, directory.index.size());
}

TEST(ZipArchive, EntriesThatLieFailTheirReadNeverGiveWrongBytes) {
    const std::string text = Repeat("some level data ", 400);
    struct SCase {
        const char* what;
        std::uint16_t method;
        std::function<void(SBuilt&)> mutate;
        EZipRead expected;
    };
    // Offsets within the first entry's headers.
    const auto local = [](SBuilt& b, unsigned field) { return b.locals[0] + field; };
    const auto central = [](SBuilt& b, unsigned field) { return b.centrals[0] + field; };
    const auto both32 = [local, central](SBuilt& b, unsigned inLocal, unsigned inCentral,
                                         std::uint32_t value) {
        b.Put32(local(b, inLocal), value);
        b.Put32(central(b, inCentral), value);
    };
    const SCase cases[] = {
        {"as written", 8, [](SBuilt&) {}, EZipRead::kOk},
        {"a data descriptor, local fields zero", 8,
         [&](SBuilt& b) {
             b.Put16(local(b, 6), 8), b.Put16(central(b, 8), 8);
             b.Put32(local(b, 14), 0), b.Put32(local(b, 18), 0), b.Put32(local(b, 22), 0);
         },
         EZipRead::kOk},
        {"no local signature", 8, [&](SBuilt& b) { b.At(local(b, 0)) = 'Q'; }, EZipRead::kRefused},
        {"methods differ", 8, [&](SBuilt& b) { b.Put16(local(b, 8), 0); }, EZipRead::kRefused},
        {"sizes differ", 8, [&](SBuilt& b) { b.Put32(local(b, 22), 17); }, EZipRead::kRefused},
        {"zero sizes without a descriptor", 8, [&](SBuilt& b) { b.Put32(local(b, 18), 0); },
         EZipRead::kRefused},
        {"data into the directory", 8, [&](SBuilt& b) { b.Put16(local(b, 28), 400); },
         EZipRead::kRefused},
        {"ZIP64 local sizes with extra bytes past the directory", 8,
         [&](SBuilt& b) {
             b.Put32(local(b, 18), 0xFFFFFFFF), b.Put32(local(b, 22), 0xFFFFFFFF);
             b.Put16(local(b, 28), 0xFFFF);
         },
         EZipRead::kRefused},
        {"a stored size unlike its data's", 0, [&](SBuilt& b) { both32(b, 22, 24, 100); },
         EZipRead::kRefused},
        {"more than deflate can make", 8, [&](SBuilt& b) { both32(b, 22, 24, 0x7FFFFFF0); },
         EZipRead::kRefused},
        {"a wrong CRC-32", 8, [&](SBuilt& b) { both32(b, 14, 16, 0x12345678); },
         EZipRead::kCorrupt},
        {"a wrong CRC-32, stored", 0, [&](SBuilt& b) { both32(b, 14, 16, 0x12345678); },
         EZipRead::kCorrupt},
        {"inflates to more than claimed", 8, [&](SBuilt& b) { both32(b, 22, 24, 6399); },
         EZipRead::kCorrupt},
        {"inflates to more than claimed, the CRC-32 of what is claimed", 8,
         [&](SBuilt& b) {
             both32(b, 22, 24, 6399);
             both32(b, 14, 16, ZipTest::Crc(text.substr(0, 6399)));
         },
         EZipRead::kCorrupt},
        {"inflates to less than claimed", 8, [&](SBuilt& b) { both32(b, 22, 24, 6401); },
         EZipRead::kCorrupt},
        {"compressed bytes damaged", 8, [&](SBuilt& b) { b.At(local(b, 30 + 9 + 20)) ^= 0x5A; },
         EZipRead::kCorrupt},
        {"compressed bytes cut short", 8,
         [&](SBuilt& b) {
             const std::uint32_t packed = ZipTest::ReadPacked(b, 0);
             both32(b, 18, 20, packed / 2);
         },
         EZipRead::kCorrupt},
    };
    for (const SCase& c : cases) {
        SBuilt built = ZipTest::Build({{"level.dat", text, c.method}, {"next.dat", "next"}});
        c.mutate(built);
        CSparseZipBytes bytes(built);
        SZipDirectory directory;
        ASSERT_EQ(EZipOpen::kOpened, ReadZipDirectory(bytes, built.Size(), directory)) << c.what;
        const SZipEntry* entry = Find(directory, L"level.dat");
        ASSERT_NE(nullptr, entry) << c.what;
        std::string read;
        const EZipRead status = ReadAll(bytes, directory, *entry, read, 4096);
        EXPECT_EQ(c.expected, status) << c.what;
        if (status == EZipRead::kOk) {
            EXPECT_EQ(text, read) << c.what;
        }
        // The next entry is not disturbed.
        const SZipEntry* next = Find(directory, L"next.dat");
        ASSERT_NE(nullptr, next);
        EXPECT_EQ(EZipRead::kOk, ReadAll(bytes, directory, *next, read)) << c.what;
    }
}

// Every memory request of opening and reading refused in turn: the call
// that meets it reports no memory, nothing else goes wrong, and nothing is
// kept.
TEST(ZipArchive, MemoryFaultsAreReportedAndLeaveNothing) {
    const SBuilt built = ZipTest::Build(
        {{"a.bin", MixedBytes(50000, 3), 8}, {"b.bin", "stored", 0}, {"c.bin", "wide", 8}}, true);
    CSparseZipBytes bytes(built);
    const auto run = [&]() {
        SZipDirectory directory;
        const EZipOpen opened = ReadZipDirectory(bytes, built.Size(), directory);
        if (opened != EZipOpen::kOpened) {
            EXPECT_EQ(EZipOpen::kNoMemory, opened);
            return false;
        }
        bool whole = true;
        for (const auto& item : directory.index) {
            std::string read;
            const EZipRead status = ReadAll(bytes, directory, item.second, read);
            EXPECT_TRUE(status == EZipRead::kOk || status == EZipRead::kNoMemory);
            whole = whole && status == EZipRead::kOk;
        }
        return whole;
    };
    const long long before = GetTotalAllocSize();
    sys::BeginMemoryFaults(0);
    EXPECT_TRUE(run());
    const std::uint64_t requests = sys::EndMemoryFaults();
    ASSERT_GT(requests, 3u);
    unsigned failed = 0;
    for (std::uint64_t failAt = 1; failAt <= requests; ++failAt) {
        sys::BeginMemoryFaults(failAt);
        failed += run() ? 0 : 1;
        sys::EndMemoryFaults();
        EXPECT_EQ(before, GetTotalAllocSize()) << failAt;
    }
    EXPECT_GT(failed, 0u);
}

} // namespace
