#include "OrvexCommon/text/OrvexText.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using Orvex::IsUtf8;
using Orvex::UcsToUtf8;
using Orvex::Utf8ToUcs;

const bool kWideIs16Bit = sizeof(wchar_t) == 2;
const wchar_t kGuard = static_cast<wchar_t>(0x5A5A);

std::string Bytes(std::initializer_list<unsigned> values) {
    std::string text;
    for (unsigned value : values) {
        text.push_back(static_cast<char>(value));
    }
    return text;
}

std::string Encode(const std::wstring& wide) {
    std::string out(wide.size() * 4 + 1, '\x7f');
    const unsigned result = UcsToUtf8(wide.c_str(), &out[0], static_cast<unsigned>(out.size()));
    out.resize(result - 1);
    return out;
}

TEST(IsUtf8, AcceptsWellFormedAndRejectsBrokenSequences) {
    EXPECT_FALSE(IsUtf8(nullptr));
    EXPECT_TRUE(IsUtf8(""));
    EXPECT_TRUE(IsUtf8("plain ascii ~\x7f"));
    EXPECT_TRUE(IsUtf8(Bytes({0xC0, 0x80}).c_str())); // overlong forms are accepted
    EXPECT_TRUE(IsUtf8(Bytes({0xE4, 0xB8, 0xAD, 'x'}).c_str()));
    EXPECT_TRUE(IsUtf8(Bytes({0xF0, 0x9F, 0x98, 0x80}).c_str()));
    EXPECT_TRUE(IsUtf8(Bytes({0xF8, 0x88, 0x80, 0x80, 0x80}).c_str()));
    EXPECT_TRUE(IsUtf8(Bytes({0xFC, 0x84, 0x80, 0x80, 0x80, 0x80}).c_str()));
    EXPECT_FALSE(IsUtf8(Bytes({0x80}).c_str()));
    EXPECT_FALSE(IsUtf8(Bytes({'a', 0xBF, 'b'}).c_str()));
    EXPECT_FALSE(IsUtf8(Bytes({0xE4, 0xB8}).c_str())); // cut short by the terminator
    EXPECT_FALSE(IsUtf8(Bytes({0xE4, 0x41, 0x41}).c_str()));
    EXPECT_FALSE(IsUtf8(Bytes({0xFE}).c_str()));
    EXPECT_FALSE(IsUtf8(Bytes({0xFF, 0x80}).c_str()));
}

TEST(Utf8ToUcs, BoundaryCases) {
    wchar_t out[8];
    EXPECT_EQ(0u, Utf8ToUcs(nullptr, out, 8));
    EXPECT_EQ(0u, Utf8ToUcs("a", nullptr, 8));

    // count 0: nothing written, result 1 (the text does not fit).
    out[0] = kGuard;
    EXPECT_EQ(1u, Utf8ToUcs("", out, 0));
    EXPECT_EQ(1u, Utf8ToUcs("abc", out, 0));
    EXPECT_EQ(kGuard, out[0]);

    // Empty text with room: just the terminator.
    EXPECT_EQ(1u, Utf8ToUcs("", out, 1));
    EXPECT_EQ(L'\0', out[0]);

    // Invalid sequence: converted text so far, terminated.
    const std::string broken = "A" + Bytes({0xC3, 0x28});
    std::fill(out, out + 8, kGuard);
    EXPECT_EQ(2u, Utf8ToUcs(broken.c_str(), out, 8));
    EXPECT_EQ(L'A', out[0]);
    EXPECT_EQ(L'\0', out[1]);
    EXPECT_EQ(kGuard, out[2]);

    // Exactly count characters: full buffer, no terminator, count + 1.
    std::fill(out, out + 8, kGuard);
    EXPECT_EQ(4u, Utf8ToUcs("abc", out, 3));
    EXPECT_EQ(L'c', out[2]);
    EXPECT_EQ(kGuard, out[3]);

    // Multi-byte character as the one that does not fit.
    const std::string text = "ab" + Bytes({0xE4, 0xB8, 0xAD});
    std::fill(out, out + 8, kGuard);
    EXPECT_EQ(3u, Utf8ToUcs(text.c_str(), out, 2));
    EXPECT_EQ(kGuard, out[2]);
    EXPECT_EQ(4u, Utf8ToUcs(text.c_str(), out, 3));
    EXPECT_EQ(static_cast<wchar_t>(0x4E2D), out[2]);
    EXPECT_EQ(4u, Utf8ToUcs(text.c_str(), out, 4));
    EXPECT_EQ(L'\0', out[3]);
}

TEST(Utf8ToUcs, DecodesEachSequenceLength) {
    wchar_t out[4];
    EXPECT_EQ(2u, Utf8ToUcs(Bytes({0xC0, 0x80}).c_str(), out, 4)); // overlong 0
    EXPECT_EQ(L'\0', out[0]);
    EXPECT_EQ(2u, Utf8ToUcs(Bytes({0xDF, 0xBF}).c_str(), out, 4));
    EXPECT_EQ(static_cast<wchar_t>(0x7FF), out[0]);
    EXPECT_EQ(2u, Utf8ToUcs(Bytes({0xEF, 0xBF, 0xBF}).c_str(), out, 4));
    EXPECT_EQ(static_cast<wchar_t>(0xFFFF), out[0]);

    // U+1F600: with 16-bit units the low 16 bits, with 32-bit the code point.
    EXPECT_EQ(2u, Utf8ToUcs(Bytes({0xF0, 0x9F, 0x98, 0x80}).c_str(), out, 4));
    EXPECT_EQ(kWideIs16Bit ? 0xF600u : 0x1F600u,
              static_cast<unsigned>(static_cast<std::make_unsigned<wchar_t>::type>(out[0])));
}

// Forms that carry no code point UTF-8 can encode (5 and 6 bytes, and 4 bytes
// beyond U+10FFFF) keep the low 16 bits of their value on every target, and
// the unit they give survives a round trip.
TEST(Utf8ToUcs, FormsBeyondTheLastCodePointKeepTheirLow16Bits) {
    struct Case {
        std::string bytes;
        unsigned unit;
    };
    const Case cases[] = {
        {Bytes({0xF8, 0x88, 0x80, 0x80, 0x80}), 0x0000},       // U+200000, 5 bytes
        {Bytes({0xF8, 0x88, 0x80, 0x81, 0x81}), 0x0041},       // U+200041
        {Bytes({0xFB, 0xBF, 0xBF, 0xBF, 0xBF}), 0xFFFF},       // U+3FFFFFF
        {Bytes({0xFC, 0x84, 0x80, 0x80, 0x8F, 0xBF}), 0x03FF}, // U+40003FF, 6 bytes
        {Bytes({0xFD, 0xBF, 0xBF, 0xBF, 0xAB, 0xBF}), 0xFAFF}, // U+7FFFFAFF
        {Bytes({0xF4, 0x90, 0x80, 0x80}), 0x0000},             // U+110000, 4 bytes
        {Bytes({0xF7, 0xBF, 0xBE, 0x81}), 0xFF81},             // U+1FFF81
        {Bytes({0xF8, 0x80, 0x80, 0x8D, 0x9B}), 0x035B},       // an overlong 5-byte form
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(test.unit);
        wchar_t out[4] = {1, 1, 1, 1};
        const std::string text = test.bytes + "z";
        EXPECT_TRUE(IsUtf8(text.c_str()));
        ASSERT_EQ(3u, Utf8ToUcs(text.c_str(), out, 4));
        EXPECT_EQ(test.unit,
                  static_cast<unsigned>(static_cast<std::make_unsigned<wchar_t>::type>(out[0])));
        EXPECT_EQ(L'z', out[1]);
        if (test.unit == 0) {
            continue; // a zero unit ends the text it is in
        }
        wchar_t again[4] = {};
        const std::string encoded = Encode(std::wstring(1, out[0]));
        EXPECT_EQ(2u, Utf8ToUcs(encoded.c_str(), again, 4));
        EXPECT_EQ(out[0], again[0]);
    }
}

TEST(UcsToUtf8, EncodesBoundaryUnits) {
    EXPECT_EQ(Bytes({0x7F}), Encode(std::wstring(1, wchar_t(0x7F))));
    EXPECT_EQ(Bytes({0xC2, 0x80}), Encode(std::wstring(1, wchar_t(0x80))));
    EXPECT_EQ(Bytes({0xDF, 0xBF}), Encode(std::wstring(1, wchar_t(0x7FF))));
    EXPECT_EQ(Bytes({0xE0, 0xA0, 0x80}), Encode(std::wstring(1, wchar_t(0x800))));
    EXPECT_EQ(Bytes({0xEF, 0xBF, 0xBF}), Encode(std::wstring(1, wchar_t(0xFFFF))));
    // A lone surrogate is encoded like any other unit.
    EXPECT_EQ(Bytes({0xED, 0xA0, 0x80}), Encode(std::wstring(1, wchar_t(0xD800))));
}

TEST(UcsToUtf8, UnitsAboveTheBasicPlaneWithWideUnits) {
    if (kWideIs16Bit) {
        GTEST_SKIP() << "16-bit wchar_t cannot hold a unit above 0xFFFF";
    }
    const wchar_t smiley[] = {static_cast<wchar_t>(0x1F600), 0};
    EXPECT_EQ(Bytes({0xF0, 0x9F, 0x98, 0x80}), Encode(smiley));
    const wchar_t top[] = {static_cast<wchar_t>(0x10FFFF), 0};
    EXPECT_EQ(Bytes({0xF4, 0x8F, 0xBF, 0xBF}), Encode(top));
    // No UTF-8 form exists beyond U+10FFFF: the replacement character stands in.
    const wchar_t beyond[] = {static_cast<wchar_t>(0x110000), static_cast<wchar_t>(-1), 0};
    EXPECT_EQ(Bytes({0xEF, 0xBF, 0xBD, 0xEF, 0xBF, 0xBD}), Encode(beyond));
    EXPECT_TRUE(IsUtf8(Encode(beyond).c_str()));
}

TEST(UcsToUtf8, BufferLimits) {
    char out[8];
    EXPECT_EQ(0u, UcsToUtf8(nullptr, out, 8));
    EXPECT_EQ(0u, UcsToUtf8(L"a", nullptr, 8));

    const wchar_t text[] = {L'a', static_cast<wchar_t>(0x4E2D), 0};
    // size 3: "a" fits, the 3-byte character does not and is not started.
    std::fill(out, out + 8, 'X');
    EXPECT_EQ(2u, UcsToUtf8(text, out, 3));
    EXPECT_EQ('a', out[0]);
    EXPECT_EQ('\0', out[1]);
    EXPECT_EQ('X', out[2]);
    // size 4: exactly full, no terminator, size + 1.
    std::fill(out, out + 8, 'X');
    EXPECT_EQ(5u, UcsToUtf8(text, out, 4));
    EXPECT_EQ(Bytes({'a', 0xE4, 0xB8, 0xAD}), std::string(out, 4));
    EXPECT_EQ('X', out[4]);
    // size 0: nothing written.
    EXPECT_EQ(1u, UcsToUtf8(text, out, 0));
    EXPECT_EQ(1u, UcsToUtf8(L"", out, 0));
    EXPECT_EQ(1u, UcsToUtf8(L"", out, 1));
    EXPECT_EQ('\0', out[0]);
}

TEST(Utf8RoundTrip, EveryBasicPlaneUnitSurvives) {
    std::wstring all;
    for (unsigned unit = 1; unit <= 0xFFFF; ++unit) {
        all.push_back(static_cast<wchar_t>(unit));
    }
    const std::string encoded = Encode(all);
    EXPECT_TRUE(IsUtf8(encoded.c_str()));
    std::vector<wchar_t> decoded(all.size() + 1, kGuard);
    EXPECT_EQ(all.size() + 1,
              Utf8ToUcs(encoded.c_str(), decoded.data(), static_cast<unsigned>(decoded.size())));
    EXPECT_EQ(all, std::wstring(decoded.data()));
}

TEST(Utf8RoundTrip, EveryBufferSizeStopsAtACharacterBoundary) {
    const wchar_t text[] = {L'a', 0xE9, 0x4E2D, L'b', 0x7FF, 0xFFFF, L'z', 0};
    const std::string whole = Encode(text);
    for (unsigned size = 0; size <= whole.size() + 1; ++size) {
        std::string out(size + 4, 'X');
        const unsigned result = UcsToUtf8(text, &out[0], size);
        const unsigned written = result - 1;
        ASSERT_LE(written, size);
        EXPECT_EQ(whole.substr(0, written), out.substr(0, written));
        // Whatever was written decodes back to a prefix of the text.
        std::string prefix = out.substr(0, written);
        wchar_t back[16];
        Utf8ToUcs(prefix.c_str(), back, 16);
        EXPECT_EQ(0, std::wstring(text).compare(0, std::wcslen(back), back));
        EXPECT_EQ('X', out[size]) << "wrote past size " << size;
        if (written < size) {
            EXPECT_EQ('\0', out[written]);
        }
    }
}

} // namespace
