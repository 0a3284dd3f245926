// The common file head: its two classes (ownership, copies, resizing) and its
// two readers, which must agree with each other and refuse damaged or hostile
// heads without reading past what they were given.
#include "FileHeadTestSupport.h"

#include "OrvexCommon/file/detail/FileHeadReader.h"
#include "OrvexCommon/file/detail/FileReader.h"
#include "OrvexCommon/file/detail/Patch.h"
#include "OrvexCommon/format/OrvexFormat.h"
#include "OrvexCommon/memory/OrvexMemory.h"
#include "PackageTestSupport.h"

#include <gtest/gtest.h>

#include <cwchar>
#include <memory>
#include <random>

namespace {

using namespace OrvexTest;
using Orvex::CCommonFileHead;
using Orvex::CDependentRes;
using Orvex::SLoadBuffer;
namespace detail = Orvex::detail;

struct Outcome {
    bool ok;
    std::uint32_t pos;
    std::string head;
};

// Reads `bytes` from `pos` out of an exactly-sized heap copy (so that ASan
// sees any read past it), origin at file position 0.
Outcome ReadMemory(const Bytes& bytes, std::uint32_t pos = 0) {
    std::unique_ptr<unsigned char[]> copy(
        new unsigned char[bytes.size() + (bytes.empty() ? 1 : 0)]);
    std::copy(bytes.begin(), bytes.end(), copy.get());
    SLoadBuffer buffer{copy.get(), pos, static_cast<std::uint32_t>(bytes.size()), 0};
    CCommonFileHead head;
    const bool ok = detail::ReadFileHead(buffer, head);
    return {ok, buffer.pos, Describe(head)};
}

// Reads `bytes`, written to a scratch file, from `pos` through a file reader
// whose owner (when given) lays its patch over them.
Outcome ReadFile(const Bytes& bytes, std::uint32_t pos = 0, detail::SPackage* owner = nullptr) {
    OrvexTest::ScratchPaths scratch;
    const std::wstring path = scratch.Add(OrvexTest::UniqueName("head"));
    OrvexTest::WriteRawFile(path, bytes);
    detail::SFileReader reader;
    EXPECT_TRUE(detail::OpenReader(reader, path.c_str()));
    reader.owner = owner;
    detail::MoveTo(reader, pos);
    CCommonFileHead head;
    const bool ok = detail::ReadFileHead(reader, head);
    detail::CloseReader(reader);
    return {ok, reader.position, Describe(head)};
}

// A head with several groups, an empty name, units beyond ASCII and a name
// longer than one read of the fixed fields.
const HeadPlan kRichPlan = {
    Orvex::eFT_Sce,
    7,
    {{Orvex::eFT_Tex, {u"tex/hero.tex", u"", u"\u00e9t\u00e9/\uffff\u4e2d"}},
     {Orvex::eFT_Mtr, {}},
     {0x12345678, {u"odd/group/type"}}},
    300};

// Checks that every allocation of a test was given back by its end.
class FileHead : public ::testing::Test {
protected:
    void SetUp() override { m_allocated = GetTotalAllocSize(); }
    void TearDown() override {
        EXPECT_EQ(GetTotalAllocSize(), m_allocated) << "heads or groups leaked memory";
    }

private:
    long long m_allocated = 0;
};

TEST_F(FileHead, ReadsTheSmallestTypicalHead) {
    const Bytes bytes = {0x74, 0x65, 0x78, 0, 2, 0, 0, 0, 1,    0, 0, 0,
                         0x6D, 0x74, 0x72, 0, 0, 0, 0, 0, 0x10, 0, 0, 0};
    SLoadBuffer buffer{bytes.data(), 0, 24, 0};
    CCommonFileHead head;
    ASSERT_TRUE(detail::ReadFileHead(buffer, head));
    EXPECT_EQ(buffer.pos, 24u);
    EXPECT_EQ(head.GetType(), Orvex::eFT_Tex);
    EXPECT_EQ(head.GetVersion(), 2u);
    ASSERT_EQ(head.GetDependentResCount(), 1u);
    EXPECT_EQ(head.GetDependentRes(0).GetType(), Orvex::eFT_Mtr);
    EXPECT_EQ(head.GetDependentRes(0).GetFileCount(), 0u);
    EXPECT_EQ(head.GetExtraDataSize(), 16u);

    // The same head after other bytes: read from pos on, through both readers.
    Bytes shifted = {9, 9, 9};
    shifted.insert(shifted.end(), bytes.begin(), bytes.end());
    const Outcome fromFile = ReadFile(shifted, 3);
    EXPECT_TRUE(fromFile.ok);
    EXPECT_EQ(fromFile.pos, 27u);
    EXPECT_EQ(fromFile.head, Describe(head));
    EXPECT_EQ(ReadMemory(shifted, 3).pos, 27u);
}

TEST_F(FileHead, NamesEndAfterTheirLastUnitAndAreTerminated) {
    const HeadPlan plan = {Orvex::eFT_Map, 1, {{Orvex::eFT_Tex, {u"a/b", u"x"}}}, 5};
    const Bytes bytes = Encode(plan);
    SLoadBuffer buffer{bytes.data(), 0, static_cast<std::uint32_t>(bytes.size()), 0};
    CCommonFileHead head;
    ASSERT_TRUE(detail::ReadFileHead(buffer, head));
    const CDependentRes& group = head.GetDependentRes(0);
    ASSERT_NE(group.GetFileName(0), nullptr);
    EXPECT_EQ(std::wcslen(group.GetFileName(0)), 3u);
    EXPECT_EQ(std::wstring(group.GetFileName(0)), L"a/b");
    EXPECT_EQ(std::wstring(group.GetFileName(1)), L"x"); // read right after "b"
    EXPECT_EQ(head.GetExtraDataSize(), 5u);
    EXPECT_EQ(buffer.pos, bytes.size());

    // A unit 0 inside a name ends it; the units after it are still consumed.
    const HeadPlan zero = {
        Orvex::eFT_Map, 1, {{Orvex::eFT_Tex, {std::u16string(u"ab\0cd", 5)}}}, 9};
    const Outcome read = ReadMemory(Encode(zero));
    EXPECT_TRUE(read.ok);
    EXPECT_EQ(read.head, DescribePlan(zero));
    EXPECT_NE(read.head.find("\"61.62.\""), std::string::npos) << read.head;
}

TEST_F(FileHead, OnlyTheLetterCodesAndNoneStartAHead) {
    const std::uint32_t refused[] = {0x00636261 /* "abc" */, 0x00584554 /* "TEX" */,
                                     0x01786574 /* "tex" + 1 */, 0, 0xFFFFFFFE};
    for (const std::uint32_t type : refused) {
        SCOPED_TRACE(type);
        const Bytes bytes = Encode({type, 3, {}, 0});
        for (const Outcome& read : {ReadMemory(bytes), ReadFile(bytes)}) {
            EXPECT_FALSE(read.ok);
            EXPECT_EQ(read.pos, 8u);
            CCommonFileHead expected(static_cast<Orvex::EFileType>(type), 3);
            EXPECT_EQ(read.head, Describe(expected)); // type and version kept
        }
    }
    const std::uint32_t accepted[] = {0xFFFFFFFF,     Orvex::eFT_Sce, Orvex::eFT_Anf,
                                      Orvex::eFT_Gui, Orvex::eFT_Tsk, Orvex::eFT_Map,
                                      Orvex::eFT_Mtr, Orvex::eFT_Ams, Orvex::eFT_Ans,
                                      Orvex::eFT_Eft, Orvex::eFT_Tex, Orvex::eFT_Gfx};
    for (const std::uint32_t type : accepted) {
        SCOPED_TRACE(type);
        const HeadPlan plan = {type, 0, {{0xFFFFFFFF, {u"n"}}, {0, {}}}, 0};
        const Outcome read = ReadMemory(Encode(plan));
        EXPECT_TRUE(read.ok);
        EXPECT_EQ(read.head, DescribePlan(plan));
    }
    EXPECT_EQ(static_cast<std::uint32_t>(Orvex::eFT_None), 0xFFFFFFFFu);
    EXPECT_EQ(sizeof(Orvex::EFileType), 4u);
}

TEST_F(FileHead, AHeadCutShortAnywhereIsRefusedByBothReaders) {
    const Bytes whole = Encode(kRichPlan);
    for (std::size_t length = 0; length < whole.size(); ++length) {
        SCOPED_TRACE(length);
        const Bytes cut(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(length));
        const Outcome memory = ReadMemory(cut);
        const Outcome file = ReadFile(cut);
        EXPECT_FALSE(memory.ok);
        EXPECT_FALSE(file.ok);
        EXPECT_LE(memory.pos, length);
        EXPECT_EQ(memory.pos, file.pos);
        EXPECT_EQ(memory.head, file.head);
    }
    for (const Outcome& read : {ReadMemory(whole), ReadFile(whole)}) {
        EXPECT_TRUE(read.ok);
        EXPECT_EQ(read.pos, whole.size());
        EXPECT_EQ(read.head, DescribePlan(kRichPlan));
    }
}

TEST_F(FileHead, TheMemoryReaderStaysInsideStartAndEnd) {
    const Bytes bytes = Encode(kRichPlan);
    const auto size = static_cast<std::uint32_t>(bytes.size());
    CCommonFileHead head;
    const SLoadBuffer refused[] = {{bytes.data(), 0, size, 1},        // pos before start
                                   {bytes.data(), size + 1, size, 0}, // pos beyond end
                                   {nullptr, 0, size, 0}};
    for (SLoadBuffer buffer : refused) {
        const std::uint32_t pos = buffer.pos;
        EXPECT_FALSE(detail::ReadFileHead(buffer, head));
        EXPECT_EQ(buffer.pos, pos);
    }
    // `end` bounds the read, not the bytes behind it.
    SLoadBuffer shortEnd{bytes.data(), 0, size - 1, 0};
    EXPECT_FALSE(detail::ReadFileHead(shortEnd, head));
}

TEST_F(FileHead, HostileCountsFailBeforeAnythingIsAllocated) {
    struct Case {
        const char* what;
        Bytes bytes;
    };
    auto head = [](std::uint32_t groups) {
        Bytes bytes = Encode({Orvex::eFT_Tex, 1, {}, 0});
        bytes.resize(8);
        Put32(bytes, groups);
        return bytes;
    };
    std::vector<Case> cases = {{"2^32-1 groups", head(0xFFFFFFFF)},
                               {"2^20 groups", head(1u << 20)},
                               {"2^20 groups, one byte short", head(1u << 20)}};
    cases[1].bytes.resize(cases[1].bytes.size() + 100);
    // Groups of no names fill the bytes exactly, less one.
    cases[2].bytes.resize(cases[2].bytes.size() + 8 * (1u << 20) + 3);
    for (std::uint32_t names : {0xFFFFFFFFu, 1u << 20}) {
        Bytes bytes = head(1);
        Put32(bytes, Orvex::eFT_Mtr);
        Put32(bytes, names);
        bytes.resize(bytes.size() + 200);
        cases.push_back({"many names", bytes});
    }
    Bytes longLength = head(1);
    Put32(longLength, Orvex::eFT_Mtr);
    Put32(longLength, 1);
    Put32(longLength, 0xFFFFFFFF);
    longLength.resize(longLength.size() + 64);
    cases.push_back({"name of 2^32-1 units", longLength});

    for (const Case& hostile : cases) {
        SCOPED_TRACE(hostile.what);
        const long long before = GetTotalAllocSize();
        CCommonFileHead read;
        SLoadBuffer buffer{hostile.bytes.data(), 0,
                           static_cast<std::uint32_t>(hostile.bytes.size()), 0};
        EXPECT_FALSE(detail::ReadFileHead(buffer, read));
        EXPECT_LT(GetTotalAllocSize() - before, 1024) << "memory taken for counts that cannot fit";
        EXPECT_EQ(ReadFile(hostile.bytes).head, Describe(read));
    }

    // Exactly as many bytes as the counts need: accepted.
    Bytes exact = head(3);
    for (int i = 0; i < 3; ++i) {
        Put32(exact, Orvex::eFT_Gui);
        Put32(exact, i == 2 ? 2 : 0);
    }
    Put32(exact, 0);
    Put32(exact, 0);
    Put32(exact, 44);
    const Outcome read = ReadMemory(exact);
    EXPECT_TRUE(read.ok);
    EXPECT_EQ(read.pos, exact.size());
}

TEST_F(FileHead, NamesUpTo1023UnitsAreReadLongerOnesRefuseTheHead) {
    std::u16string longest(1023, u'q');
    longest[0] = u'\u0101';
    longest[1022] = u'z';
    const HeadPlan fits = {Orvex::eFT_Eft, 4, {{Orvex::eFT_Tex, {longest, u"next"}}}, 1};
    for (const Outcome& read : {ReadMemory(Encode(fits)), ReadFile(Encode(fits))}) {
        EXPECT_TRUE(read.ok);
        EXPECT_EQ(read.head, DescribePlan(fits));
    }
    const HeadPlan tooLong = {Orvex::eFT_Eft, 4, {{Orvex::eFT_Tex, {longest + u"z"}}}, 1};
    const Outcome memory = ReadMemory(Encode(tooLong));
    const Outcome file = ReadFile(Encode(tooLong));
    EXPECT_FALSE(memory.ok);
    EXPECT_FALSE(file.ok);
    EXPECT_EQ(memory.pos, 24u); // the length was read, its units were not
    EXPECT_EQ(file.pos, 24u);
}

TEST_F(FileHead, BothReadersGiveTheSameHeadsIncludingThroughAPatch) {
    std::mt19937 generator(11);
    auto next = [&generator] { return static_cast<std::uint32_t>(generator()); };
    for (int round = 0; round < 40; ++round) {
        HeadPlan plan = {Orvex::eFT_Gfx, next(), {}, next()};
        for (unsigned g = generator() % 4; g > 0; --g) {
            GroupPlan group{next(), {}};
            for (unsigned n = generator() % 4; n > 0; --n) {
                std::u16string name(generator() % 12, u'a');
                for (char16_t& unit : name) {
                    unit = static_cast<char16_t>(1 + generator() % 0xFFFF);
                }
                group.names.push_back(name);
            }
            plan.groups.push_back(group);
        }
        const Bytes bytes = Encode(plan);
        const Outcome memory = ReadMemory(bytes);
        EXPECT_TRUE(memory.ok);
        EXPECT_EQ(memory.head, DescribePlan(plan));
        const Outcome file = ReadFile(bytes);
        EXPECT_EQ(file.ok, memory.ok);
        EXPECT_EQ(file.head, memory.head);
    }

    // On disk: a head cut off after the name's "ab". The patch makes the
    // name 4 units long and writes "cZ" past the file's end; its size override
    // takes the file 8 bytes further, where the extra size reads as zeros.
    Bytes disk = Encode({Orvex::eFT_Tex, 1, {{Orvex::eFT_Mtr, {u"abc"}}}, 0});
    disk.resize(28); // up to the end of "b"
    Bytes block;
    Put32(block, 1);
    Put32(block, 20); // the name's length
    block.push_back(4);
    Put32(block, 4);
    Put32(block, 28);
    block.insert(block.end(), {'c', 0, 'Z', 0});
    detail::SFilePatch patch;
    ASSERT_GT(detail::ParsePatchChunks(patch, 2, block.data(), block.size()), 0);
    patch.sizeOverride = 36;
    detail::SPackage owner;
    owner.patch = &patch;

    Bytes patched(36, 0);
    std::copy(disk.begin(), disk.end(), patched.begin());
    detail::ApplyPatch(patch, patched.data(), 0, 36);
    const Outcome memory = ReadMemory(patched);
    const Outcome file = ReadFile(disk, 0, &owner);
    EXPECT_TRUE(file.ok);
    EXPECT_EQ(file.pos, 36u);
    EXPECT_EQ(file.pos, memory.pos);
    EXPECT_EQ(file.head, memory.head);
    EXPECT_EQ(file.head, DescribePlan({Orvex::eFT_Tex, 1, {{Orvex::eFT_Mtr, {u"abcZ"}}}, 0}));
}

TEST_F(FileHead, GroupsOwnCopiesOfTheirNamesAndResizeKeepsAPrefix) {
    const long long empty = GetTotalAllocSize();
    CDependentRes group(Orvex::eFT_Tex);
    EXPECT_EQ(group.GetFileCount(), 0u);
    EXPECT_EQ(group.GetFileName(0), nullptr);
    std::wstring source = L"first";
    group.PushFileName(source.c_str());
    source[0] = L'X';
    ASSERT_EQ(group.GetFileCount(), 1u);
    EXPECT_EQ(std::wstring(group.GetFileName(0)), L"first");

    group.Resize(4); // the new slots are empty
    EXPECT_EQ(std::wstring(group.GetFileName(0)), L"first");
    for (unsigned i = 1; i < 4; ++i) {
        EXPECT_EQ(group.GetFileName(i), nullptr);
    }
    group.SetFileName(2, L"third");
    group.SetFileName(2, group.GetFileName(2)); // its own string
    group.SetFileName(4, L"beyond");
    group.SetFileName(1, nullptr);
    EXPECT_EQ(std::wstring(group.GetFileName(2)), L"third");
    EXPECT_EQ(group.GetFileName(1), nullptr);
    EXPECT_EQ(group.GetFileName(4), nullptr);
    EXPECT_EQ(group.GetFileName(0xFFFFFFFF), nullptr);

    // A request the allocator cannot serve changes nothing.
    group.Resize(0xFFFFFFFF);
    EXPECT_EQ(group.GetFileCount(), 4u);
    EXPECT_EQ(std::wstring(group.GetFileName(2)), L"third");

    group.Resize(1);
    EXPECT_EQ(group.GetFileCount(), 1u);
    EXPECT_EQ(std::wstring(group.GetFileName(0)), L"first");
    group.Resize(0);
    EXPECT_EQ(group.GetFileCount(), 0u);
    EXPECT_EQ(GetTotalAllocSize(), empty) << "Resize(0) kept names or the array";
    EXPECT_EQ(group.GetType(), Orvex::eFT_Tex);
}

TEST_F(FileHead, CopiesOfHeadsAndGroupsAreIndependent) {
    CCommonFileHead original(Orvex::eFT_Map, 9);
    original.SetExtraDataSize(12);
    original.PushDependentRes(Orvex::eFT_Tex);
    original.GetDependentRes(0).PushFileName(L"a.tex");
    original.GetDependentRes(0).Resize(2); // slot 1 stays empty
    original.PushDependentRes(Orvex::eFT_Mtr);
    original.GetDependentRes(1).PushFileName(L"b.mtr");
    const std::string before = Describe(original);

    CCommonFileHead copy(original);
    EXPECT_EQ(Describe(copy), before);
    copy.GetDependentRes(0).SetFileName(0, L"changed");
    copy.GetDependentRes(1).Resize(0);
    EXPECT_EQ(Describe(original), before);
    EXPECT_NE(copy.GetDependentRes(0).GetFileName(0), original.GetDependentRes(0).GetFileName(0));

    // Assignment over a head with more groups and names, and onto itself.
    CCommonFileHead target(Orvex::eFT_Gui, 1);
    for (int i = 0; i < 5; ++i) {
        target.PushDependentRes(Orvex::eFT_Ams);
        target.GetDependentRes(static_cast<unsigned>(i)).PushFileName(L"old name");
    }
    target = original;
    EXPECT_EQ(Describe(target), before);
    target = static_cast<const CCommonFileHead&>(target);
    EXPECT_EQ(Describe(target), before);
    CDependentRes group(Orvex::eFT_Ans);
    group.PushFileName(L"x");
    group = original.GetDependentRes(0);
    EXPECT_EQ(group.GetType(), Orvex::eFT_Tex);
    EXPECT_EQ(group.GetFileName(1), nullptr); // the empty slot stays empty

    // Resizing a head keeps copies of its first groups and adds empty ones.
    original.Resize(3);
    EXPECT_EQ(std::wstring(original.GetDependentRes(1).GetFileName(0)), L"b.mtr");
    EXPECT_EQ(original.GetDependentRes(2).GetType(), Orvex::eFT_None);
    EXPECT_EQ(original.GetDependentRes(2).GetFileCount(), 0u);
    original.Resize(0xFFFFFFFF);
    EXPECT_EQ(original.GetDependentResCount(), 3u);
    original.Resize(1);
    ASSERT_EQ(original.GetDependentResCount(), 1u);
    EXPECT_EQ(std::wstring(original.GetDependentRes(0).GetFileName(0)), L"a.tex");
}

} // namespace
