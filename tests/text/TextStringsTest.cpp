#include "OrvexCommon/memory/detail/TextStrings.h"

#include <gtest/gtest.h>

namespace {

TEST(TextStrings, NullGivesEmpty) {
    EXPECT_EQ(Orvex::OrvexWString(), Orvex::Utf8ToWideString(nullptr));
    EXPECT_EQ(Orvex::OrvexWString(), Orvex::Utf8ToWideString(nullptr, 5));
    EXPECT_EQ(Orvex::OrvexString(), Orvex::WideToUtf8String(nullptr));
}

TEST(TextStrings, ConvertWholeTextAndStopAtInvalidSequence) {
    EXPECT_EQ(L"caf\u00e9 \u4e2d", Orvex::Utf8ToWideString("caf\xc3\xa9 \xe4\xb8\xad"));
    EXPECT_EQ(L"ab", Orvex::Utf8ToWideString("ab\xc3(cd"));
    EXPECT_EQ("caf\xc3\xa9 \xe4\xb8\xad", Orvex::WideToUtf8String(L"caf\u00e9 \u4e2d"));
    // Three-byte characters only: the buffer of 3 bytes per unit is exactly enough.
    const std::wstring wide(100, static_cast<wchar_t>(0xFFFF));
    EXPECT_EQ(300u, Orvex::WideToUtf8String(wide.c_str()).size());
}

TEST(TextStrings, KnownLengthFormStopsAtFirstZero) {
    const char text[] = "ab\0cd";
    EXPECT_EQ(L"ab", Orvex::Utf8ToWideString(text, 5));
    EXPECT_EQ(L"ab", Orvex::Utf8ToWideString(text, 2));
}

TEST(TextStrings, CodePointsAboveTheBasicPlaneWhereUnitsAreWide) {
    if (sizeof(wchar_t) == 2) {
        GTEST_SKIP() << "16-bit wchar_t";
    }
    const wchar_t smiley[] = {static_cast<wchar_t>(0x1F600), L'!', 0};
    const Orvex::OrvexString narrow = Orvex::WideToUtf8String(smiley);
    EXPECT_EQ("\xf0\x9f\x98\x80!", narrow);
    EXPECT_EQ(Orvex::OrvexWString(smiley), Orvex::Utf8ToWideString(narrow.c_str()));
}

} // namespace
