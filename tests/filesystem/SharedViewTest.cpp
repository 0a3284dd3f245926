// Views of one file share its bytes: between views of one process, with
// another process, and when views come and go on several threads at once.
#include "MapTestFiles.h"

#include "OrvexCommon/filesystem/OrvexFilesystem.h"
#include "OrvexCommon/platform/OrvexSys.h"

#include "OrvexTestSupport.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>

namespace {

using namespace OrvexTest;
using Orvex::OrvexMemoryMap;
using Orvex::OrvexMemoryUnMap;

class SharedView : public MapFolder {};

TEST_F(SharedView, ViewsOfOneFileChangeTogetherAndReachTheFile) {
    const Bytes content = Pattern(100);
    WriteBytes(Path("shared.bin"), content);
    const std::wstring name = Wide("shared.bin");
    unsigned sizeA = 0, sizeB = 0, sizeC = 0;
    unsigned char* a = static_cast<unsigned char*>(OrvexMemoryMap(name.c_str(), sizeA, false));
    unsigned char* b = static_cast<unsigned char*>(OrvexMemoryMap(name.c_str(), sizeB, false));
    const unsigned char* c =
        static_cast<const unsigned char*>(OrvexMemoryMap(name.c_str(), sizeC, true));
    ASSERT_NE(nullptr, a);
    ASSERT_NE(nullptr, b);
    ASSERT_NE(nullptr, c);
    EXPECT_NE(a, b);

    a[5] = 0xAB;
    EXPECT_EQ(0xAB, b[5]);
    EXPECT_EQ(0xAB, c[5]);
    b[70] = 0xCD;
    EXPECT_EQ(0xCD, a[70]);
    EXPECT_EQ(0xCD, c[70]);

    OrvexMemoryUnMap(a);
    EXPECT_EQ(0xAB, b[5]) << "giving one view back leaves the others";
    b[6] = 0xEF;
    EXPECT_EQ(0xEF, c[6]);
    OrvexMemoryUnMap(b);
    OrvexMemoryUnMap(const_cast<unsigned char*>(c));

    Bytes expected = content;
    expected[5] = 0xAB;
    expected[6] = 0xEF;
    expected[70] = 0xCD;
    EXPECT_EQ(expected, ReadBytes(Path("shared.bin")));
}

// A view that asks for more, or for more access, than a live view of the file
// was made with still gets the whole of it, and every view sees the others'
// writes: a larger view beside a smaller one, the whole file beside a 50-byte
// view, a writable view beside a read-only one.
TEST_F(SharedView, ViewsBesideSmallerOrReadOnlyOnesAreWholeAndShared) {
    struct Case {
        const char* file;
        unsigned firstSize;
        bool firstReadOnly;
        unsigned secondSize; // 0: the whole file
        bool secondReadOnly;
    };
    const Case cases[] = {
        {"grow.bin", 100, false, 200000, false},
        {"whole.bin", 50, false, 0, false},
        {"readonly.bin", 100, true, 100, false},
        {"both.bin", 50, true, 0, false},
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(test.file);
        const Bytes content = Pattern(100);
        WriteBytes(Path(test.file), content);
        const std::wstring name = Wide(test.file);
        unsigned firstSize = test.firstSize;
        auto* first = static_cast<unsigned char*>(
            OrvexMemoryMap(name.c_str(), firstSize, test.firstReadOnly));
        ASSERT_NE(nullptr, first);
        unsigned secondSize = test.secondSize;
        auto* second = static_cast<unsigned char*>(
            OrvexMemoryMap(name.c_str(), secondSize, test.secondReadOnly));
        ASSERT_NE(nullptr, second);
        const unsigned expectedSize = test.secondSize == 0 ? 100 : test.secondSize;
        EXPECT_EQ(expectedSize, secondSize);
        Bytes expected = content;
        expected.resize(expectedSize, 0);
        EXPECT_EQ(expected, ViewBytes(second, expectedSize)); // reads every page

        second[7] = 0x5A;
        EXPECT_EQ(0x5A, first[7]);
        if (!test.firstReadOnly) {
            first[9] = 0xA5;
            EXPECT_EQ(0xA5, second[9]);
        }
        OrvexMemoryUnMap(second);
        OrvexMemoryUnMap(first);
        EXPECT_EQ(0x5A, ReadBytes(Path(test.file))[7]);
    }
}

TEST_F(SharedView, AnotherProcessSeesThisViewAndThisViewSeesIt) {
    const fs::path file = Path("peer.bin");
    WriteBytes(file, Bytes(4096, 0));
    unsigned size = 0;
    unsigned char* view =
        static_cast<unsigned char*>(OrvexMemoryMap(file.wstring().c_str(), size, false));
    ASSERT_NE(nullptr, view);
    ASSERT_EQ(4096u, size);

    view[100] = 0x5A;
    // The peer checks byte 100 for 0x5A (exit code 3 if absent) and writes
    // 0xA5 at byte 3000, all while this view stays mapped.
    const int exitCode =
        OrvexTest::RunProcess(ORVEX_MAP_PEER, {file.u8string(), "100", "90", "3000", "165"});
    EXPECT_EQ(0, exitCode) << "peer " << ORVEX_MAP_PEER
                           << " (1 arguments, 2 no view, 3 did not see this process's byte)";
    EXPECT_EQ(0xA5, view[3000]) << "the peer's byte must show in this view";
    OrvexMemoryUnMap(view);

    Bytes expected(4096, 0);
    expected[100] = 0x5A;
    expected[3000] = 0xA5;
    EXPECT_EQ(expected, ReadBytes(file));
}

struct Churn {
    std::wstring shared;
    std::wstring own[4];
    std::atomic<int> faults{0};
    std::atomic<int> next{0};
};

// Maps and unmaps a file of its own and the shared one over and over, checking
// what it sees each time.
unsigned ORVEX_THREAD_CALL ChurnViews(void* context) {
    Churn* churn = static_cast<Churn*>(context);
    const int index = churn->next++;
    for (int round = 0; round < 200; ++round) {
        unsigned ownSize = 0, sharedSize = 0;
        unsigned char* own =
            static_cast<unsigned char*>(OrvexMemoryMap(churn->own[index].c_str(), ownSize, false));
        const unsigned char* shared = static_cast<const unsigned char*>(
            OrvexMemoryMap(churn->shared.c_str(), sharedSize, true));
        if (own == nullptr || shared == nullptr || ownSize != 64 || sharedSize != 64 ||
            own[0] != static_cast<unsigned char>(round) || shared[10] != 0x42) {
            ++churn->faults;
        }
        if (own != nullptr) {
            own[0] = static_cast<unsigned char>(round + 1);
        }
        OrvexMemoryUnMap(own);
        OrvexMemoryUnMap(const_cast<unsigned char*>(shared));
    }
    return 0;
}

TEST_F(SharedView, ThreadsMapAndUnmapAtOnce) {
    Churn churn;
    Bytes shared(64, 0);
    shared[10] = 0x42;
    WriteBytes(Path("common.bin"), shared);
    churn.shared = Wide("common.bin");
    Orvex::sys::Thread* threads[4];
    for (int i = 0; i < 4; ++i) {
        const std::string name = "own" + std::to_string(i) + ".bin";
        WriteBytes(Path(name.c_str()), Bytes(64, 0));
        churn.own[i] = Wide(name.c_str());
    }
    for (Orvex::sys::Thread*& thread : threads) {
        thread = Orvex::sys::StartThread(ChurnViews, &churn, 0);
        ASSERT_NE(nullptr, thread);
    }
    for (Orvex::sys::Thread* thread : threads) {
        EXPECT_EQ(Orvex::sys::JoinResult::Joined, Orvex::sys::JoinThread(thread, nullptr));
    }
    EXPECT_EQ(0, churn.faults.load());
    for (int i = 0; i < 4; ++i) {
        const std::string name = "own" + std::to_string(i) + ".bin";
        EXPECT_EQ(200, ReadBytes(Path(name.c_str()))[0]) << name;
    }
}

} // namespace
