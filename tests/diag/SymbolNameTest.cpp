// The names the stack printers show, cut from demangled signatures.
#include "OrvexCommon/diag/detail/SymbolName.h"

#include <gtest/gtest.h>

namespace {

TEST(SymbolNameTest, SignaturesLoseParametersQualifiersReturnTypesAndClones) {
    const struct {
        const char* demangled;
        const char* shown;
    } cases[] = {
        {"Orvex::GetStack(void**, unsigned short, unsigned short)", "Orvex::GetStack"},
        {"Orvex::CFoo::Size() const", "Orvex::CFoo::Size"},
        {"Orvex::CFoo::operator()(int) const &", "Orvex::CFoo::operator()"},
        {"Orvex::CFoo::operator()()", "Orvex::CFoo::operator()"},
        {"void Orvex::Apply<int, char>(int, char)", "Orvex::Apply<int, char>"},
        {"std::vector<int, std::allocator<int> >::push_back(int const&)",
         "std::vector<int, std::allocator<int> >::push_back"},
        {"(anonymous namespace)::Helper(int)", "(anonymous namespace)::Helper"},
        {"Orvex::CFoo::operator new(unsigned long)", "Orvex::CFoo::operator new"},
        {"Orvex::Free(void*) [clone .constprop.0] [clone .cold]", "Orvex::Free"},
        {"Orvex::f()::{lambda(int)#1}::operator()(int) const",
         "Orvex::f()::{lambda(int)#1}::operator()"},
        {"Orvex::Name[abi:cxx11](int)", "Orvex::Name"},
        {"std::__cxx11::basic_string<char> Orvex::Text[abi:cxx11]<char>(char)",
         "Orvex::Text<char>"},
        {"main", "main"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.shown, Orvex::detail::StripSignature(c.demangled)) << c.demangled;
    }
}

TEST(SymbolNameTest, OnlyMangledNamesAreDemangled) {
    EXPECT_EQ("Orvex::GetStack", Orvex::detail::ReadableSymbolName("_ZN5Orvex8GetStackEPPvtt"));
    EXPECT_EQ("Orvex::GetStack", Orvex::detail::ReadableSymbolName("__ZN5Orvex8GetStackEPPvtt"));
    EXPECT_EQ("memcpy", Orvex::detail::ReadableSymbolName("memcpy"));
    EXPECT_EQ("__libc_start_main",
              Orvex::detail::ReadableSymbolName("__libc_start_main@@GLIBC_2.34"));
    EXPECT_EQ("std::terminate", Orvex::detail::ReadableSymbolName("_ZSt9terminatev@GLIBCXX_3.4"));
    EXPECT_EQ("_Zbroken", Orvex::detail::ReadableSymbolName("_Zbroken"));
}

} // namespace
