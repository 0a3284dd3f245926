// Settled answers for whole names: what may and may not be kept. The
// differential search test (PackageSearchTest.cpp) asks every name twice;
// these cases check the answers that must not be kept.
#include "OrvexCommon/file/detail/Package.h"
#include "OrvexCommon/platform/OrvexSys.h"

#include "PackageTestSupport.h"
#include "ZipTestSupport.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <new>
#include <string>

namespace {

using namespace Orvex::detail;
namespace sys = Orvex::sys;

// Writes `<stem>.pkg` or `<stem>.zip` holding "a.bin".
void WriteArchive(const std::wstring& stem, bool zip) {
    const OrvexTest::Bytes bytes = OrvexTest::RandomBytes(300, 5);
    if (zip) {
        const std::string text(bytes.begin(), bytes.end());
        OrvexTest::WriteRawFile(stem + L".zip", ZipTest::Build({{"a.bin", text, 8}}).bytes);
    } else {
        ASSERT_TRUE(OrvexTest::WritePackage(stem + L".pkg", {{L"a.bin", bytes, 0}}, false));
    }
}

bool Found(const ArchiveMatch& match) {
    return match.entry != nullptr || match.zipEntry != nullptr;
}

// A search that ran out of memory while opening the archive misses without
// settling the miss: once memory is back, the same name finds the file. The
// name is searched twice with the same memory request refused (the first
// search leaves no record, so the second makes the same requests), then
// twice with memory, each over an archive of its own.
TEST(SettledNames, AMissForWantOfMemoryIsSearchedAgain) {
    OrvexTest::ScratchPaths scratch;
    const std::wstring root = scratch.Add(OrvexTest::UniqueName("settled"));
    std::filesystem::create_directories(root);
    for (const bool zip : {false, true}) {
        unsigned quietMisses = 0;
        std::uint64_t failAt = 1;
        for (bool reached = true; reached; ++failAt) {
            const std::wstring stem = root + (zip ? L"/z" : L"/p") + std::to_wstring(failAt);
            WriteArchive(stem, zip);
            const std::wstring name = stem + L"/a.bin";
            for (int round = 0; round < 2; ++round) {
                sys::BeginMemoryFaults(failAt);
                try {
                    const bool found = Found(FindArchiveEntry(name.c_str(), true, true));
                    quietMisses += !found && round == 1 ? 1 : 0;
                } catch (const std::bad_alloc&) {
                }
                reached = sys::EndMemoryFaults() >= failAt;
            }
            for (int round = 0; round < 2; ++round) {
                ASSERT_TRUE(Found(FindArchiveEntry(name.c_str(), true, true))) << failAt;
            }
        }
        EXPECT_GT(failAt, 3u) << (zip ? "zip" : "package");
        EXPECT_GT(quietMisses, 0u) << (zip ? "zip" : "package");
    }
}

// The zip switch is part of a name's answer, in both search forms.
TEST(SettledNames, TheZipSwitchKeepsAnswersApart) {
    OrvexTest::ScratchPaths scratch;
    const std::wstring stem = scratch.Add(OrvexTest::UniqueName("switch"));
    scratch.Add(stem + L".zip");
    WriteArchive(stem, true);
    const std::wstring name = stem + L"/a.bin";
    for (const bool deep : {true, false}) {
        for (int round = 0; round < 2; ++round) {
            const ArchiveMatch without = FindArchiveEntry(name.c_str(), deep, false);
            EXPECT_FALSE(Found(without)) << deep << round;
            const ArchiveMatch with = FindArchiveEntry(name.c_str(), deep, true);
            EXPECT_NE(nullptr, with.zipEntry) << deep << round;
            EXPECT_EQ(nullptr, FindPackageEntry(name.c_str(), deep).entry) << deep << round;
        }
    }
}

} // namespace
