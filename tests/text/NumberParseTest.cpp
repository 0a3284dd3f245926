#include "OrvexCommon/text/OrvexText.h"

#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <string>

namespace {

using Orvex::OrvexA2F;
using Orvex::OrvexA2I;
using Orvex::OrvexA2I64;

TEST(OrvexA2I, RuntimeGrammar) {
    EXPECT_EQ(-12, OrvexA2I("  -12abc"));
    EXPECT_EQ(-12, OrvexA2I(L"  -12abc"));
    EXPECT_EQ(42, OrvexA2I("\t\n\v\f\r+42"));
    EXPECT_EQ(0, OrvexA2I("abc"));
    EXPECT_EQ(0, OrvexA2I(""));
    EXPECT_EQ(0, OrvexA2I("- 5"));
    EXPECT_EQ(0, OrvexA2I("0x10")); // decimal only
    EXPECT_EQ(7, OrvexA2I("007"));
    EXPECT_EQ(3, OrvexA2I("3.9"));
}

TEST(OrvexA2I, RangeLimitsAndNulls) {
    EXPECT_EQ(INT_MAX, OrvexA2I("2147483647"));
    EXPECT_EQ(INT_MIN, OrvexA2I("-2147483648"));
    EXPECT_EQ(INT_MAX, OrvexA2I("2147483648"));
    EXPECT_EQ(INT_MIN, OrvexA2I("-99999999999999999999999"));
    EXPECT_EQ(LLONG_MAX, OrvexA2I64("9223372036854775807"));
    EXPECT_EQ(LLONG_MIN, OrvexA2I64("-9223372036854775808"));
    EXPECT_EQ(LLONG_MAX, OrvexA2I64("9223372036854775808"));
    EXPECT_EQ(LLONG_MIN, OrvexA2I64("-1000000000000000000000"));
    EXPECT_EQ(123456789012345LL, OrvexA2I64(" 123456789012345xyz"));
    EXPECT_EQ(-5LL, OrvexA2I64(L"-5"));
    EXPECT_EQ(0, OrvexA2I(static_cast<const char*>(nullptr)));
    EXPECT_EQ(0, OrvexA2I(static_cast<const wchar_t*>(nullptr)));
    EXPECT_EQ(0, OrvexA2I64(static_cast<const char*>(nullptr)));
    EXPECT_EQ(0.0, OrvexA2F(static_cast<const wchar_t*>(nullptr)));
}

TEST(OrvexA2F, DecimalAndExponentForms) {
    EXPECT_EQ(0.0, OrvexA2F("abc"));
    EXPECT_EQ(0.0, OrvexA2F("."));
    EXPECT_EQ(0.0, OrvexA2F("e5"));
    EXPECT_EQ(1.5, OrvexA2F(" 1.5"));
    EXPECT_EQ(-0.25, OrvexA2F("-.25x"));
    EXPECT_EQ(3.0, OrvexA2F("3."));
    EXPECT_EQ(1500.0, OrvexA2F("1.5e3"));
    EXPECT_EQ(1.5, OrvexA2F("1.5e")); // an exponent without digits is not part of it
    EXPECT_EQ(1.5, OrvexA2F("1.5e+"));
    EXPECT_EQ(0.015, OrvexA2F("1.5E-2"));
    EXPECT_EQ(0.1, OrvexA2F("0.1"));        // correctly rounded
    EXPECT_EQ(0.0, OrvexA2F("0x1p3"));      // no hexadecimal floats
    EXPECT_EQ(0.0, OrvexA2F("inf"));        // no named values
    EXPECT_EQ(0.0, OrvexA2F(L"\u00a02.5")); // U+00A0 is not a blank
    EXPECT_EQ(2.5, OrvexA2F(L" 2.5"));
}

TEST(OrvexA2F, OverflowAndUnderflow) {
    EXPECT_TRUE(std::isinf(OrvexA2F("1e400")));
    EXPECT_GT(OrvexA2F("1e400"), 0.0);
    EXPECT_TRUE(std::isinf(OrvexA2F("-1e400")));
    EXPECT_LT(OrvexA2F("-1e400"), 0.0);
    EXPECT_TRUE(std::isinf(OrvexA2F(std::string(400, '9').c_str())));
    EXPECT_TRUE(std::isinf(OrvexA2F(("0.00" + std::string(20, '1') + "e500").c_str())));
    EXPECT_EQ(0.0, OrvexA2F("1e-400"));
    EXPECT_EQ(0.0, OrvexA2F(("0." + std::string(400, '0') + "1").c_str()));
    EXPECT_EQ(0.0, OrvexA2F(("1000e-" + std::string(30, '9')).c_str()));
    EXPECT_EQ(1e308, OrvexA2F("1e308"));
}

TEST(WideParsers, OnlyTheFirst63Utf8BytesCount) {
    // 62 blanks and the digits: "1" is byte 63 and counts, "2" is byte 64 and does not.
    std::wstring text(62, L' ');
    text += L"12";
    EXPECT_EQ(1, OrvexA2I(text.c_str()));
    EXPECT_EQ(1LL, OrvexA2I64(text.c_str()));
    EXPECT_EQ(1.0, OrvexA2F(text.c_str()));
    // A 2-byte character that would straddle byte 63 is left out whole.
    std::wstring straddle(62, L'7');
    straddle += static_cast<wchar_t>(0xE9);
    EXPECT_EQ(INT_MAX, OrvexA2I(straddle.c_str()));
    EXPECT_EQ(7777777LL, OrvexA2I64((std::wstring(56, L' ') + L"7777777").c_str()));
}

} // namespace
