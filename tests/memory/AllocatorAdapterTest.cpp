#include "OrvexCommon/memory/OrvexMemory.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <new>

namespace {

using Orvex::TOrvexAllocator;

TEST(AllocatorAdapter, ContainersTakeAndGiveBackPoolMemory) {
    const long long before = GetTotalAllocSize();
    {
        Orvex::OrvexString text(200, 'x');
        Orvex::TOrvexVector<int> numbers(1000, 7);
        Orvex::TOrvexMap<int, Orvex::OrvexWString> names;
        names[3] = L"three";
        Orvex::TOrvexSet<long long> set = {5, 1, 3};
        EXPECT_GT(GetTotalAllocSize(), before + 4000);
        EXPECT_EQ(7, numbers[999]);
        EXPECT_EQ(L"three", names[3]);
        EXPECT_EQ(1, *set.begin());
    }
    EXPECT_EQ(before, GetTotalAllocSize());
}

TEST(AllocatorAdapter, ThrowsInsteadOfHandingOutNull) {
    TOrvexAllocator<std::uint64_t> wide;
    // n x size beyond 32 bits.
    EXPECT_THROW(wide.allocate(0x20000000u), std::bad_alloc);
    // Within 32 bits but refused by the allocator (0x7FFFFFFB bytes and more).
    TOrvexAllocator<char> bytes;
    EXPECT_THROW(bytes.allocate(0x7FFFFFFBu), std::bad_alloc);
    Orvex::TOrvexVector<char> vector;
    EXPECT_THROW(vector.reserve(0x7FFFFFFCu), std::bad_alloc);
    // Zero elements: a real (class 0) block.
    char* none = bytes.allocate(0);
    EXPECT_NE(nullptr, none);
    bytes.deallocate(none, 0);
    EXPECT_TRUE(TOrvexAllocator<int>() == TOrvexAllocator<char>());
}

struct SPooled : Orvex::COrvexPoolObject {
    virtual ~SPooled() = default;
    char payload[40];
};

TEST(AllocatorAdapter, PoolObjectsComeFromThePool) {
    const long long before = GetTotalAllocSize();
    SPooled* object = new SPooled;
    const long long unit = (sizeof(SPooled) + 4 + 7) / 8 * 8; // header included
    EXPECT_EQ(before + unit, GetTotalAllocSize());
    delete object;
    SPooled* many = new SPooled[3];
    EXPECT_GT(GetTotalAllocSize(), before);
    delete[] many;
    EXPECT_EQ(before, GetTotalAllocSize());
}

} // namespace
