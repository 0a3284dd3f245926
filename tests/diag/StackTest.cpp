// Stack capture, symbol names and the caller-address routine, against
// functions of this test whose names and call sites are known.
#include "OrvexCommon/diag/OrvexDiag.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <regex>
#include <sstream>
#include <string>

namespace OrvexTest {

std::string NameOf(void* address) {
    char name[512] = {};
    Orvex::DebugAddress2Symbol(address, name, sizeof(name) - 1);
    return name;
}

// Each keeps a frame of its own and returns after its call, so the return
// address into it lies inside it.
__attribute__((noinline)) unsigned CaptureFromKnownFunction(void** addresses, unsigned short skip,
                                                            unsigned short depth) {
    const unsigned stored = Orvex::GetStack(addresses, skip, depth);
    __asm__ __volatile__("" ::: "memory");
    return stored;
}

__attribute__((noinline)) unsigned CallThroughOuterFunction(void** addresses, unsigned short skip,
                                                            unsigned short depth) {
    const unsigned stored = CaptureFromKnownFunction(addresses, skip, depth);
    __asm__ __volatile__("" ::: "memory");
    return stored;
}

__attribute__((noinline)) void CallerAddressTwice(void*& first, void*& second) {
    const Orvex::EipFun routine = Orvex::GetEipFun();
    first = routine();
    __asm__ __volatile__("" ::: "memory");
    second = routine();
    __asm__ __volatile__("" ::: "memory");
}

__attribute__((noinline)) std::string PrintFromKnownFunction(unsigned short count, int line) {
    std::ostringstream stream;
    EXPECT_EQ(count, Orvex::PrintStack(count, line, stream));
    __asm__ __volatile__("" ::: "memory");
    return stream.str();
}

TEST(StackTest, GetStackStoresResumeAddressesFromSkipPlusOne) {
    void* addresses[8] = {};
    // skip 1: the return address into the caller of GetStack comes first.
    ASSERT_EQ(3u, CallThroughOuterFunction(addresses, 1, 4));
    // Qualified names on every target: a report must tell whose function it was.
    EXPECT_EQ("OrvexTest::CaptureFromKnownFunction", NameOf(addresses[0]));
    EXPECT_EQ("OrvexTest::CallThroughOuterFunction", NameOf(addresses[1]));
    // skip 2 starts one frame further out: the same address as before.
    void* further[8] = {};
    ASSERT_EQ(2u, CallThroughOuterFunction(further, 2, 4));
    EXPECT_EQ("OrvexTest::CallThroughOuterFunction", NameOf(further[0]));
    EXPECT_EQ(addresses[1], further[0]);
}

TEST(StackTest, GetStackCountsAtTheEdges) {
    void* addresses[4] = {};
    EXPECT_EQ(0u, Orvex::GetStack(addresses, 3, 3));
    EXPECT_EQ(0u, Orvex::GetStack(addresses, 5, 2));
    EXPECT_EQ(nullptr, addresses[0]);
    // No stack is this deep: the walk ends before the first frame asked for.
    EXPECT_EQ(0u, Orvex::GetStack(addresses, 60000, 60003));
    // A walk asked for more frames than the stack has stores what is there.
    static void* deep[2000];
    const unsigned stored = Orvex::GetStack(deep, 1, 2000);
    EXPECT_GT(stored, 2u);
    EXPECT_LT(stored, 1999u);
}

TEST(StackTest, SymbolNamesAreReadableAndBounded) {
    void* addresses[2] = {};
    ASSERT_EQ(1u, CaptureFromKnownFunction(addresses, 0, 1)); // frame 1: GetStack
    const std::string name = NameOf(addresses[0]);
    EXPECT_EQ("Orvex::GetStack", name) << " at " << addresses[0];

    // At most `size` bytes, terminated inside them, the rest padded with zeros.
    char text[16];
    std::memset(text, 'x', sizeof(text));
    Orvex::DebugAddress2Symbol(addresses[0], text, 5);
    EXPECT_EQ(4u, std::strlen(text));
    EXPECT_EQ(0, std::strncmp(text, name.c_str(), 4));
    EXPECT_EQ('x', text[5]);

    // An address in no module leaves the text as it was.
    char untouched[8] = "before";
    Orvex::DebugAddress2Symbol(reinterpret_cast<void*>(16), untouched, sizeof(untouched));
    EXPECT_STREQ("before", untouched);
    int onTheStack = 0;
    Orvex::DebugAddress2Symbol(&onTheStack, untouched, sizeof(untouched));
    EXPECT_STREQ("before", untouched);
}

TEST(StackTest, CallerAddressRoutineReturnsEachCallSite) {
    EXPECT_EQ(Orvex::GetEipFun(), Orvex::GetEipFun());
    void* first = nullptr;
    void* second = nullptr;
    CallerAddressTwice(first, second);
    EXPECT_NE(first, second);
    EXPECT_EQ("OrvexTest::CallerAddressTwice", NameOf(first));
    EXPECT_EQ("OrvexTest::CallerAddressTwice", NameOf(second));
}

TEST(StackTest, PrintersWriteTheirLineShapes) {
    void* addresses[3] = {};
    ASSERT_EQ(2u, CallThroughOuterFunction(addresses, 1, 3));
    std::ostringstream stream;
    stream << std::hex << std::showbase;
    EXPECT_EQ(3u, Orvex::PrintStack(addresses, 3, 7, stream));
    const std::string text = stream.str();
    const std::string hex = "[0-9A-F]{8,16}";
    EXPECT_TRUE(std::regex_match(text, std::regex("[^\n]*CaptureFromKnownFunction\\(\\)\\[" + hex +
                                                  "\\]:7\n[^\n]*CallThroughOuterFunction\\(\\)\\[" +
                                                  hex + "\\]\n")))
        << text;
    EXPECT_FALSE(stream.flags() & std::ios_base::showbase);
    EXPECT_EQ(std::ios_base::dec, stream.flags() & std::ios_base::basefield);

    std::FILE* file = std::tmpfile();
    ASSERT_NE(nullptr, file);
    EXPECT_EQ(2u, Orvex::PrintStack2File(addresses, 2, file));
    void* none[1] = {nullptr};
    EXPECT_EQ(5u, Orvex::PrintStack2File(none, 5, file));
    std::rewind(file);
    char buffer[512] = {};
    const std::size_t length = std::fread(buffer, 1, sizeof(buffer) - 1, file);
    std::fclose(file);
    const std::string written(buffer, length);
    EXPECT_TRUE(std::regex_match(
        written, std::regex("[^\n]*CaptureFromKnownFunction\\(\\)\\[0x[0-9a-f]{8,16}\\]\n[^\n]*"
                            "CallThroughOuterFunction\\(\\)\\[0x[0-9a-f]{8,16}\\]\n\n\n\n\n\n\n")))
        << written;
}

TEST(StackTest, PrintStackStartsAtItsCaller) {
    const std::string text = PrintFromKnownFunction(2, 42);
    const std::size_t firstEnd = text.find('\n');
    ASSERT_NE(std::string::npos, firstEnd) << text;
    const std::string firstLine = text.substr(0, firstEnd);
    EXPECT_NE(std::string::npos, firstLine.find("PrintFromKnownFunction()[")) << text;
    EXPECT_EQ(":42", firstLine.substr(firstLine.size() - 3));
    EXPECT_EQ(2, std::count(text.begin(), text.end(), '\n')) << text;
}

} // namespace OrvexTest
