#include "OrvexCommon/memory/OrvexMemory.h"
#include "OrvexCommon/objects/OrvexVarient.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <new>
#include <string>
#include <vector>

namespace {

using namespace Orvex;

constexpr unsigned kUnit = sizeof(wchar_t);

std::vector<unsigned char> Payload(const CVarient& variant) {
    const auto* bytes = static_cast<const unsigned char*>(variant.Mem());
    return std::vector<unsigned char>(bytes, bytes + variant.MemSize());
}

std::vector<unsigned char> Sequence(unsigned count, unsigned char first) {
    std::vector<unsigned char> bytes(count);
    for (unsigned i = 0; i < count; ++i) {
        bytes[i] = static_cast<unsigned char>(first + i);
    }
    return bytes;
}

unsigned FloatBits(float value) {
    unsigned bits = 0;
    std::memcpy(&bits, &value, sizeof bits);
    return bits;
}

TEST(Varient, ANewVariantIsTheIntZeroInFourBytes) {
    CVarient variant;
    EXPECT_EQ(eVT_Int, variant.Type());
    EXPECT_EQ(4u, variant.MemSize());
    EXPECT_EQ(0, variant.Int());
    EXPECT_NE(nullptr, variant.Mem());
}

TEST(Varient, FixedSizeKindsStoreTheirTypeSizeAndBytes) {
    CVarient variant;
    variant = -7;
    EXPECT_EQ(eVT_Int, variant.Type());
    EXPECT_EQ(-7, variant.Int());
    EXPECT_EQ(0xFFFFFFF9u, variant.Uint()) << "readers do not check the type";

    variant = 0xDEADBEEFu;
    EXPECT_EQ(eVT_Uint, variant.Type());
    EXPECT_EQ(4u, variant.MemSize());
    EXPECT_EQ(0xDEADBEEFu, variant.Uint());

    variant = 1.5f;
    EXPECT_EQ(eVT_Float, variant.Type());
    EXPECT_EQ(1.5f, variant.Float());
    EXPECT_EQ(FloatBits(1.5f), variant.Uint());

    variant = CColor{0x80FF2010u};
    EXPECT_EQ(eVT_Color, variant.Type());
    EXPECT_EQ(4u, variant.MemSize());
    EXPECT_EQ(0x80FF2010u, variant.Color().value);

    variant = TVector3<float>{1.0f, -2.0f, 3.25f};
    EXPECT_EQ(eVT_Vec3, variant.Type());
    EXPECT_EQ(12u, variant.MemSize());
    const TVector3<float> v = variant.Vec3();
    EXPECT_EQ(1.0f, v.x);
    EXPECT_EQ(-2.0f, v.y);
    EXPECT_EQ(3.25f, v.z);
}

TEST(Varient, ReadingBeyondThePayloadGivesZerosNotForeignBytes) {
    CVarient variant;
    variant = 7;
    const TVector3<float> v = variant.Vec3();
    EXPECT_EQ(FloatBits(v.x), 7u);
    EXPECT_EQ(0.0f, v.y);
    EXPECT_EQ(0.0f, v.z);
    const unsigned char one = 0x41;
    variant = SMemory{&one, 1};
    EXPECT_EQ(0x41, variant.Int());
}

TEST(Varient, TextsKeepTheirTerminator) {
    CVarient variant;
    variant = L"";
    EXPECT_EQ(eVT_Str, variant.Type());
    EXPECT_EQ(kUnit, variant.MemSize());
    EXPECT_STREQ(L"", variant.Str());

    variant = L"hello";
    EXPECT_EQ(6 * kUnit, variant.MemSize());
    EXPECT_STREQ(L"hello", variant.Str());

    variant = static_cast<const wchar_t*>(nullptr);
    EXPECT_EQ(eVT_Str, variant.Type());
    EXPECT_EQ(kUnit, variant.MemSize()) << "null is the empty text";
    EXPECT_STREQ(L"", variant.Str());

    variant = SFileData{L"data/maps/a.map"};
    EXPECT_EQ(eVT_FileName, variant.Type());
    EXPECT_EQ(16 * kUnit, variant.MemSize());
    EXPECT_STREQ(L"data/maps/a.map", variant.FileName());

    CVarient text;
    text = L"data/maps/a.map";
    EXPECT_NE(text, variant) << "same bytes, other kind";
}

TEST(Varient, AComboBoxHoldsTheIndexThenTheItems) {
    CVarient variant;
    variant = SComboBoxData{3, L"ab"};
    EXPECT_EQ(eVT_ComboBox, variant.Type());
    // 2 + 3 x 2 where wchar_t has 16 bits; a whole 4-byte unit for the index
    // where it has 32, so the items stay aligned.
    EXPECT_EQ(kUnit == 2 ? 8u : 16u, variant.MemSize());
    EXPECT_EQ(3u, variant.ComIndex());
    EXPECT_STREQ(L"ab", variant.ComItems());
    const std::vector<unsigned char> bytes = Payload(variant);
    EXPECT_EQ(3, bytes[0]);
    EXPECT_EQ(0, bytes[1]);
    for (unsigned i = 2; i < kUnit; ++i) {
        EXPECT_EQ(0, bytes[i]) << "padding after the index is zero";
    }

    CVarient other;
    other = SComboBoxData{0xFFFF, nullptr};
    EXPECT_EQ(2 * kUnit, other.MemSize());
    EXPECT_EQ(0xFFFFu, other.ComIndex());
    EXPECT_STREQ(L"", other.ComItems());
    other = SComboBoxData{3, L"ab"};
    EXPECT_EQ(variant, other);
    other = SComboBoxData{4, L"ab"};
    EXPECT_NE(variant, other);
}

TEST(Varient, TheBlockIsKeptBySmallerPayloadsAndGrowsToExactSize) {
    CVarient variant;
    const std::vector<unsigned char> hundred = Sequence(100, 1);
    variant = SMemory{hundred.data(), 100};
    EXPECT_EQ(eVT_Mem, variant.Type());
    EXPECT_EQ(hundred, Payload(variant));
    const void* block = variant.Mem();
    const long long allocated = GetTotalAllocSize();

    variant = 42;
    EXPECT_EQ(4u, variant.MemSize());
    EXPECT_EQ(42, variant.Int());
    EXPECT_EQ(block, variant.Mem()) << "the 100-byte block is kept";
    variant = 2.0f;
    variant = TVector3<float>{1, 2, 3};
    variant = L"short";
    variant = SMemory{hundred.data(), 100};
    EXPECT_EQ(block, variant.Mem()) << "its capacity is still 100";
    EXPECT_EQ(allocated, GetTotalAllocSize()) << "nothing allocated or released";

    const std::vector<unsigned char> more = Sequence(101, 7);
    variant = SMemory{more.data(), 101};
    EXPECT_EQ(more, Payload(variant));
    EXPECT_EQ(allocated, GetTotalAllocSize() - 8) << "the 104-byte unit became a 112-byte one";
}

TEST(Varient, CopiesOwnTheirBlock) {
    CVarient source;
    source = L"original";
    CVarient copy(source);
    EXPECT_EQ(source, copy);
    EXPECT_NE(source.Mem(), copy.Mem());
    copy = L"changed!";
    EXPECT_STREQ(L"original", source.Str());

    CVarient assigned;
    assigned = source;
    EXPECT_EQ(eVT_Str, assigned.Type());
    EXPECT_EQ(source, assigned);
    EXPECT_NE(source.Mem(), assigned.Mem());
    source = 5;
    EXPECT_STREQ(L"original", assigned.Str());

    CVarient empty;
    empty = SMemory{nullptr, 10};
    EXPECT_EQ(eVT_Mem, empty.Type());
    EXPECT_EQ(0u, empty.MemSize()) << "null memory counts as no bytes";
    CVarient emptyCopy(empty);
    EXPECT_EQ(empty, emptyCopy);
    EXPECT_NE(nullptr, emptyCopy.Mem()) << "an empty payload still has a block";
    emptyCopy = 9;
    EXPECT_EQ(9, emptyCopy.Int());
}

TEST(Varient, EqualityComparesTypeSizeAndBytes) {
    CVarient a;
    CVarient b;
    a = 1;
    b = 1u;
    EXPECT_NE(a, b);
    EXPECT_FALSE(a == b);
    b = 1;
    EXPECT_EQ(a, b);
    EXPECT_FALSE(a != b);

    a = 0.0f;
    b = -0.0f;
    EXPECT_NE(a, b) << "floats compare by their bits";
    const float nan = std::numeric_limits<float>::quiet_NaN();
    a = nan;
    b = nan;
    EXPECT_EQ(a, b) << "the same NaN bits";

    a = L"ab";
    b = L"abc";
    EXPECT_NE(a, b);
    b = SMemory{a.Mem(), a.MemSize()};
    EXPECT_NE(a, b);
    b = L"ab";
    EXPECT_EQ(a, b);
}

TEST(Varient, AssignmentFromItselfOrItsOwnPayload) {
    CVarient variant;
    variant = L"abcdef";
    const CVarient& self = variant;
    variant = self;
    EXPECT_EQ(eVT_Str, variant.Type());
    EXPECT_STREQ(L"abcdef", variant.Str());

    variant = variant.Str() + 2;
    EXPECT_EQ(5 * kUnit, variant.MemSize());
    EXPECT_STREQ(L"cdef", variant.Str());

    variant = SMemory{variant.Mem(), variant.MemSize()};
    EXPECT_EQ(eVT_Mem, variant.Type());
    EXPECT_EQ(0, std::memcmp(L"cdef", variant.Mem(), 5 * kUnit));

    // Larger than the block: the items are read from the block being replaced.
    variant = L"cdef";
    variant = SComboBoxData{2, variant.Str()};
    EXPECT_EQ(6 * kUnit, variant.MemSize());
    EXPECT_EQ(2u, variant.ComIndex());
    EXPECT_STREQ(L"cdef", variant.ComItems());

    variant = SComboBoxData{9, variant.ComItems()};
    EXPECT_EQ(9u, variant.ComIndex());
    EXPECT_STREQ(L"cdef", variant.ComItems());
}

TEST(Varient, AFailedAllocationLeavesTheVariantAsItWas) {
    CVarient variant;
    variant = L"kept";
    const unsigned char byte = 0;
    // The pool refuses this size, so no byte is read.
    EXPECT_THROW(variant = (SMemory{&byte, 0xFFFFFFF0u}), std::bad_alloc);
    EXPECT_EQ(eVT_Str, variant.Type());
    EXPECT_EQ(5 * kUnit, variant.MemSize());
    EXPECT_STREQ(L"kept", variant.Str());
}

} // namespace
