// Configuration files: the parser's rules and failures, what Load keeps of the
// name after each kind of failure, the getters, the encodings in and out, and
// random content surviving save and load.
#include "TextFileTestSupport.h"

#include "../support/OrvexTestSupport.h"
#include "../support/SpecialFiles.h"
#include "OrvexCommon/format/detail/IniFile.h"
#include "OrvexCommon/memory/OrvexMemory.h"
#include "OrvexCommon/text/OrvexText.h"

#include <gtest/gtest.h>

#include <clocale>
#include <filesystem>
#include <iterator>
#include <map>
#include <random>
#include <vector>

namespace {

using namespace OrvexTest;
using Orvex::EIniEncoding;
using Orvex::eIniKeep;
using Orvex::eIniNoBom;
using Orvex::eIniUtf16;
using Orvex::eIniUtf8Bom;

typedef std::map<std::wstring, std::map<std::wstring, std::wstring>> Content;

Content ContentOf(Orvex::IIniFile& file) {
    Content content;
    for (const auto& section : static_cast<Orvex::detail::CIniFile&>(file).GetSections()) {
        auto& keys = content[std::wstring(section.first.c_str())];
        for (const auto& entry : section.second) {
            keys[std::wstring(entry.first.c_str())] = entry.second.c_str();
        }
    }
    return content;
}

EIniEncoding EncodingOf(Orvex::IIniFile& file) {
    return static_cast<Orvex::detail::CIniFile&>(file).GetEncoding();
}

class IniFileTest : public ::testing::Test {
protected:
    // Writes the bytes to a fresh file and loads them into `m_ini`.
    bool LoadBytes(const Bytes& bytes) {
        return m_ini->Load(m_files.Write("ini", L".ini", bytes).c_str());
    }
    bool LoadText(const std::string& text) { return LoadBytes(BytesOf(text)); }

    ScratchFiles m_files;
    IniObject m_ini = NewIni();
};

struct ParseCase {
    const char* text;
    bool parses;
    Content content;
};

TEST_F(IniFileTest, ParsesSectionsKeysValuesAndComments) {
    const ParseCase cases[] = {
        {"[ Video ]\r\nwidth = 1024\r\n", true, {{L"Video", {{L"width", L"1024"}}}}},
        {"[s]\r\na = b = c\r\nempty =\r\n", true, {{L"s", {{L"a", L"b = c"}, {L"empty", L""}}}}},
        // Blanks around names and values go; blanks inside stay.
        {"[s]\r\n \t key name \t=\t two  words \t\r\n",
         true,
         {{L"s", {{L"key name", L"two  words"}}}}},
        // Quotes and everything after the first '=' belong to the value.
        {"[s]\nq = \"x\" ; y / z\n", true, {{L"s", {{L"q", L"\"x\" ; y / z"}}}}},
        // Repeated headers merge; a repeated key keeps the later value.
        {"[s]\na=1\n[t]\nb=2\n[s]\nc=3\na=4\n",
         true,
         {{L"s", {{L"a", L"4"}, {L"c", L"3"}}}, {L"t", {{L"b", L"2"}}}}},
        // Names are case-sensitive; empty names are names.
        {"[s]\nWidth=1\nwidth=2\n[]\n=e\n",
         true,
         {{L"s", {{L"Width", L"1"}, {L"width", L"2"}}}, {L"", {{L"", L"e"}}}}},
        // ';' and '/' start comments that run to "\r" and the unit after it.
        {"; top\r\n/ also\r\n[s]\r\n;k=1\r\nk=2\r\n", true, {{L"s", {{L"k", L"2"}}}}},
        // With "\n" alone, a comment hides everything to the next "\r".
        {"[s]\n; note\nk = v\nj = w\r\nm = x\n", true, {{L"s", {{L"m", L"x"}}}}},
        // '#' is not a comment.
        {"[s]\n# x = 1\n", true, {{L"s", {{L"# x", L"1"}}}}},
        // The rest of a header's line is read as the next token.
        {"[s] k = v\n", true, {{L"s", {{L"k", L"v"}}}}},
        // Only blanks and comments: no sections, but success.
        {" \t\r\n; one\r\n/ two", true, {}},
        // A comment whose "\r" is the text's last unit ends the text there.
        {"[s]\r\nk=v\r\n;c\r", true, {{L"s", {{L"k", L"v"}}}}},
        {"[Video\r\nwidth = 1\r\n", false, {}},
        {"[Video", false, {}},
        {"key = value\r\n[s]\r\n", false, {}},
        {"[s]\r\nx\r\n", false, {}},
        {"[s]\r\na=1\r\nbroken\r\n", false, {}},
    };
    for (const ParseCase& test : cases) {
        SCOPED_TRACE(test.text);
        IniObject ini = NewIni();
        const std::wstring path = m_files.Write("parse", L".ini", BytesOf(test.text));
        EXPECT_EQ(ini->Load(path.c_str()), test.parses);
        EXPECT_EQ(ContentOf(*ini), test.content);
    }
}

TEST_F(IniFileTest, FailedLoadsKeepOrDropTheName) {
    // Missing: false, the name kept, so the same name answers true at once,
    // even after the file has appeared.
    const std::wstring missing = m_files.Name("missing", L".ini");
    EXPECT_FALSE(m_ini->Load(missing.c_str()));
    OrvexTest::WriteRawFile(missing, BytesOf("[s]\nk=v\n"));
    EXPECT_TRUE(m_ini->Load(missing.c_str()));
    EXPECT_EQ(m_ini->GetString(L"s", L"k"), nullptr);
    m_ini->Close();
    EXPECT_TRUE(m_ini->Load(missing.c_str()));
    EXPECT_STREQ(m_ini->GetString(L"s", L"k"), L"v");

    // Empty: the same.
    const std::wstring empty = m_files.Write("empty", L".ini", Bytes());
    EXPECT_FALSE(m_ini->Load(empty.c_str()));
    EXPECT_EQ(m_ini->GetString(L"s", L"k"), nullptr);
    OrvexTest::WriteRawFile(empty, BytesOf("[s]\nk=v\n"));
    EXPECT_TRUE(m_ini->Load(empty.c_str()));
    EXPECT_EQ(m_ini->GetString(L"s", L"k"), nullptr);

    // Does not parse: false, emptied and the name dropped, so the same name
    // is read again.
    const std::wstring broken = m_files.Write("broken", L".ini", BytesOf("[s]\nk=v\nbad\n"));
    EXPECT_FALSE(m_ini->Load(broken.c_str()));
    EXPECT_EQ(m_ini->GetString(L"s", L"k"), nullptr);
    OrvexTest::WriteRawFile(broken, BytesOf("[s]\nk=w\n"));
    EXPECT_TRUE(m_ini->Load(broken.c_str()));
    EXPECT_STREQ(m_ini->GetString(L"s", L"k"), L"w");

    // Null and empty names change nothing.
    EXPECT_FALSE(m_ini->Load(nullptr));
    EXPECT_FALSE(m_ini->Load(L""));
    EXPECT_STREQ(m_ini->GetString(L"s", L"k"), L"w");
    // Without a name, Save has nowhere to write.
    m_ini->Close();
    EXPECT_FALSE(m_ini->Save(nullptr, eIniNoBom));
}

TEST_F(IniFileTest, TheLoadedNameIsNotReadAgainUntilClosed) {
    const std::wstring path = m_files.Write("again", L".ini", BytesOf("[s]\nk=1\n"));
    ASSERT_TRUE(m_ini->Load(path.c_str()));
    OrvexTest::WriteRawFile(path, BytesOf("[s]\nk=2\n"));
    EXPECT_TRUE(m_ini->Load(path.c_str()));
    EXPECT_EQ(m_ini->GetInt(L"s", L"k", 0), 1);
    // Clear keeps the name: still not read again.
    m_ini->Clear();
    EXPECT_TRUE(m_ini->Load(path.c_str()));
    EXPECT_EQ(m_ini->GetInt(L"s", L"k", 0), 0);
    m_ini->Close();
    EXPECT_TRUE(m_ini->Load(path.c_str()));
    EXPECT_EQ(m_ini->GetInt(L"s", L"k", 0), 2);
}

TEST_F(IniFileTest, GettersConvertTheValueOrGiveTheirDefault) {
    ASSERT_TRUE(LoadText("[n]\nint = 12abc\nneg = -7\nfloat = 2.5e1x\nchar = Zed\nempty =\n"));
    EXPECT_EQ(m_ini->GetInt(L"n", L"int", -1), Orvex::OrvexA2I(L"12abc"));
    EXPECT_EQ(m_ini->GetInt(L"n", L"int", -1), 12);
    EXPECT_EQ(m_ini->GetInt(L"n", L"neg", 0), -7);
    EXPECT_FLOAT_EQ(m_ini->GetFloat(L"n", L"float", 0.0f), 25.0f);
    EXPECT_EQ(m_ini->GetChar(L"n", L"char", L'?'), L'Z');
    EXPECT_EQ(m_ini->GetChar(L"n", L"empty", L'?'), L'\0');
    EXPECT_EQ(m_ini->GetInt(L"n", L"empty", 5), 0);
    // Defaults: missing key, missing section, null arguments.
    EXPECT_EQ(m_ini->GetInt(L"n", L"none", 5), 5);
    EXPECT_EQ(m_ini->GetInt(L"none", L"int", 5), 5);
    EXPECT_FLOAT_EQ(m_ini->GetFloat(L"n", L"none", 1.5f), 1.5f);
    EXPECT_EQ(m_ini->GetChar(nullptr, L"char", L'?'), L'?');
    EXPECT_EQ(m_ini->GetString(L"n", nullptr), nullptr);
    EXPECT_EQ(m_ini->GetString(L"N", L"int"), nullptr);
}

TEST_F(IniFileTest, SettersCreateAndReplace) {
    m_ini->SetString(L"a", L"k", L"first");
    const wchar_t* stored = m_ini->GetString(L"a", L"k");
    EXPECT_STREQ(stored, L"first");
    m_ini->SetString(L"a", L"k", L"second");
    EXPECT_STREQ(m_ini->GetString(L"a", L"k"), L"second");
    // Short values live in the map node, long ones in a block of their own;
    // replacing moves between the two.
    const std::wstring longValue(40, L'L');
    m_ini->SetString(L"a", L"long", longValue.c_str());
    EXPECT_EQ(m_ini->GetString(L"a", L"long"), longValue);
    m_ini->SetString(L"a", L"long", L"short");
    EXPECT_STREQ(m_ini->GetString(L"a", L"long"), L"short");
    m_ini->SetString(L"a", L"long", (longValue + L"!").c_str());
    EXPECT_EQ(m_ini->GetString(L"a", L"long"), longValue + L"!");
    m_ini->SetString(L"a", L"long", L"");
    EXPECT_STREQ(m_ini->GetString(L"a", L"long"), L"");
    m_ini->SetString(longValue.c_str(), longValue.c_str(), L"v");
    EXPECT_STREQ(m_ini->GetString(longValue.c_str(), longValue.c_str()), L"v");
    m_ini->Close();
    m_ini->SetString(L"a", L"k", L"second");
    m_ini->SetInt(L"b", L"n", -2147483647 - 1);
    EXPECT_STREQ(m_ini->GetString(L"b", L"n"), L"-2147483648");
    m_ini->SetInt(L"b", L"n", 42);
    EXPECT_EQ(m_ini->GetInt(L"b", L"n", 0), 42);
    // Null arguments are ignored.
    m_ini->SetString(nullptr, L"k", L"v");
    m_ini->SetString(L"c", nullptr, L"v");
    m_ini->SetString(L"c", L"k", nullptr);
    m_ini->SetInt(L"c", nullptr, 1);
    EXPECT_EQ(ContentOf(*m_ini), (Content{{L"a", {{L"k", L"second"}}}, {L"b", {{L"n", L"42"}}}}));
}

// A game may set the same values every frame: the object's memory must not
// grow with the number of changes, nor with a value that keeps growing.
TEST_F(IniFileTest, ReplacingValuesKeepsMemoryBounded) {
    const std::wstring shortValue(20, L's');
    const std::wstring longValue(3000, L'l');
    m_ini->SetString(L"s", L"k", longValue.c_str());
    const long long settled = ::GetTotalAllocSize();
    for (int i = 0; i < 1000; ++i) {
        m_ini->SetString(L"s", L"k", (i % 2 == 0 ? shortValue : longValue).c_str());
    }
    EXPECT_EQ(::GetTotalAllocSize(), settled);
    std::wstring growing;
    for (int i = 0; i < 4000; ++i) {
        growing += L'g';
        m_ini->SetString(L"s", L"grows", growing.c_str());
    }
    // Doubling: at most about twice the final text, plus the chunk in use.
    const long long kept = static_cast<long long>(growing.size() * sizeof(wchar_t));
    EXPECT_LT(::GetTotalAllocSize() - settled, 3 * kept + 70 * 1024);
    EXPECT_EQ(m_ini->GetString(L"s", L"grows"), growing);
}

TEST_F(IniFileTest, SaveWritesSortedLinesInTheChosenEncoding) {
    ASSERT_TRUE(LoadText("[b]\nz=1\na = 2\n; gone\r\n[a]\nk=v\n"));
    EXPECT_EQ(EncodingOf(*m_ini), eIniNoBom);
    const std::wstring out = m_files.Name("out", L".ini");
    const std::string lines = "[a]\r\nk = v\r\n[b]\r\na = 2\r\nz = 1\r\n";

    ASSERT_TRUE(m_ini->Save(out.c_str(), eIniNoBom));
    EXPECT_EQ(OrvexTest::ReadRawFile(out), BytesOf(lines));
    ASSERT_TRUE(m_ini->Save(out.c_str(), eIniUtf8Bom));
    EXPECT_EQ(OrvexTest::ReadRawFile(out), BytesOf("\xEF\xBB\xBF" + lines));
    // Keep now means the encoding of the last save.
    ASSERT_TRUE(m_ini->Save(out.c_str(), eIniKeep));
    EXPECT_EQ(OrvexTest::ReadRawFile(out), BytesOf("\xEF\xBB\xBF" + lines));
    ASSERT_TRUE(m_ini->Save(out.c_str(), eIniUtf16));
    EXPECT_EQ(OrvexTest::ReadRawFile(out), Utf16Of(std::wstring(lines.begin(), lines.end())));
    // An unknown encoding writes UTF-8 without a mark.
    ASSERT_TRUE(m_ini->Save(out.c_str(), static_cast<EIniEncoding>(7)));
    EXPECT_EQ(OrvexTest::ReadRawFile(out), BytesOf(lines));
    // No name given: the loaded file's.
    m_ini->SetString(L"c", L"new", L"1");
    ASSERT_TRUE(m_ini->Save(L"", eIniNoBom));
    EXPECT_TRUE(m_ini->Load(out.c_str()));
    EXPECT_EQ(m_ini->GetString(L"c", L"new"), nullptr);
}

TEST_F(IniFileTest, SaveReportsAFileItCannotWrite) {
    m_ini->SetString(L"s", L"k", L"v");
    const std::wstring folder = m_files.Name("folder", L"");
    const std::wstring inside = folder + L"/missing/out.ini";
    EXPECT_FALSE(m_ini->Save(inside.c_str(), eIniNoBom));
}

// Temporary files a save left in `folder`.
std::size_t TemporaryFilesIn(const std::filesystem::path& folder) {
    std::size_t count = 0;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        count += entry.path().filename().string().rfind(".~save", 0) == 0 ? 1 : 0;
    }
    return count;
}

// A save that cannot finish leaves the file it would replace as it was, and
// no temporary file behind: the disk fills up halfway, or the name is taken
// by a directory.
TEST_F(IniFileTest, AFailedSaveKeepsTheOldFileWhole) {
    const OrvexTest::ScratchFolder folder(OrvexTest::TestScratchName("oxini", *test_info_));
    const Bytes old = Utf8Of(L"[old]\r\nkey = kept\r\n", false);
    const std::wstring path = (folder.Path() / "keep.ini").wstring();
    OrvexTest::WriteRawFile(path, old);
    for (int i = 0; i < 2000; ++i) {
        m_ini->SetString(L"big", std::to_wstring(i).c_str(), L"a value long enough to fill pages");
    }
    {
        OrvexTest::FileSizeLimit limit(4096);
        if (limit.IsActive()) {
            EXPECT_FALSE(m_ini->Save(path.c_str(), eIniNoBom));
        }
    }
    EXPECT_EQ(old, OrvexTest::ReadRawFile(path));
    EXPECT_EQ(0u, TemporaryFilesIn(folder.Path()));

    const std::filesystem::path taken = folder.Path() / "taken.ini";
    std::filesystem::create_directories(taken / "inside");
    EXPECT_FALSE(m_ini->Save(taken.wstring().c_str(), eIniNoBom));
    EXPECT_TRUE(std::filesystem::is_directory(taken / "inside"));
    EXPECT_EQ(0u, TemporaryFilesIn(folder.Path()));

    ASSERT_TRUE(m_ini->Save(path.c_str(), eIniNoBom));
    EXPECT_NE(old, OrvexTest::ReadRawFile(path));
    EXPECT_EQ(0u, TemporaryFilesIn(folder.Path()));
}

// What a save does to the name it is given. It writes a file where there was
// none; it replaces a file the caller may write, and the file keeps its
// permission bits and attributes, and a link to it stays a link; it refuses a
// file without write permission and leaves it as it was, whoever runs the
// test, root included (root may write any file, but a file nobody may write
// was made read-only on purpose). Names of any valid length save: 255 bytes
// is the longest a file system allows. Other kinds of names (FIFOs, devices,
// directories) are in tests/file/SpecialFileTest.cpp.
struct SaveCase {
    const char* what;
    std::size_t nameBytes; // 0: a short name
    bool exists;           // made as a file (or a link to one) before the save
    bool linked;
    std::filesystem::perms perms; // given to the file; unknown: left as made
    bool hidden;
    bool saves;
};

constexpr auto kLeft = std::filesystem::perms::unknown;
constexpr auto kReadOnly = static_cast<std::filesystem::perms>(0444);

const SaveCase kSaveCases[] = {
    {"a new file", 0, false, false, kLeft, false, true},
    {"a file of mode 0640", 0, true, false, static_cast<std::filesystem::perms>(0640), false, true},
    {"a file of mode 0604", 0, true, false, static_cast<std::filesystem::perms>(0604), false, true},
    {"a read-only file", 0, true, false, kReadOnly, false, false},
    {"a file only its owner may read", 0, true, false, static_cast<std::filesystem::perms>(0400),
     false, false},
    {"a hidden file", 0, true, false, kLeft, true, true},
    {"a link to a file", 0, true, true, static_cast<std::filesystem::perms>(0660), false, true},
    {"a link to a read-only file", 0, true, true, kReadOnly, false, false},
    {"a new file named with 242 bytes", 242, false, false, kLeft, false, true},
    {"a new file named with 255 bytes", 255, false, false, kLeft, false, true},
    {"a file of mode 0640 named with 255 bytes", 255, true, false,
     static_cast<std::filesystem::perms>(0640), false, true},
};

// "<n>" and as many letters as make `bytes` bytes with ".ini", or
// "case<n>.ini" for 0.
std::wstring SaveCaseName(std::size_t number, std::size_t bytes) {
    std::wstring name = bytes == 0 ? L"case" : L"";
    name += std::to_wstring(number);
    if (bytes > 0) {
        name.append(bytes - name.size() - 4, L'n');
    }
    return name + L".ini";
}

// Makes the case's name; false where the platform cannot.
bool MakeSaveCase(const SaveCase& test, const std::wstring& path, const Bytes& old) {
    if (!test.exists) {
        return true;
    }
    const OrvexTest::NameKind kind =
        test.linked ? OrvexTest::NameKind::LinkToRegular : OrvexTest::NameKind::Regular;
    if (!OrvexTest::MakeNameOfKind(path, kind, old)) {
        return false;
    }
    if (test.perms != kLeft) {
        std::filesystem::permissions(path, test.perms);
    }
    return !test.hidden || OrvexTest::MarkHidden(path);
}

TEST_F(IniFileTest, SaveReplacesOnlyWhatTheCallerMayWriteAndKeepsItsPermissions) {
    const OrvexTest::ScratchFolder folder(OrvexTest::TestScratchName("oxsave", *test_info_));
    const Bytes old = BytesOf("[s]\r\nk = old\r\n");
    m_ini->SetString(L"s", L"k", L"new");
    for (std::size_t number = 0; number < std::size(kSaveCases); ++number) {
        const SaveCase& test = kSaveCases[number];
        SCOPED_TRACE(test.what);
        const std::wstring path = (folder.Path() / SaveCaseName(number, test.nameBytes)).wstring();
        if (!MakeSaveCase(test, path, old)) {
            continue; // links or attributes this platform has not
        }
        const OrvexTest::NameState before = OrvexTest::StateOf(path);
        EXPECT_EQ(m_ini->Save(path.c_str(), eIniNoBom), test.saves);
        const OrvexTest::NameState after = OrvexTest::StateOf(path);
        if (!test.saves) {
            EXPECT_TRUE(after == before);
        } else {
            EXPECT_EQ(after.bytes, BytesOf("[s]\r\nk = new\r\n"));
            EXPECT_EQ(after.own, test.linked ? std::filesystem::file_type::symlink
                                             : std::filesystem::file_type::regular);
            if (test.exists) {
                EXPECT_EQ(after.perms, before.perms);
                EXPECT_EQ(after.hidden, before.hidden);
            }
        }
        EXPECT_EQ(0u, TemporaryFilesIn(folder.Path()));
        // Read-only files cannot be removed on Windows.
        std::error_code ignored;
        std::filesystem::permissions(path, std::filesystem::perms::owner_all,
                                     std::filesystem::perm_options::add, ignored);
    }
}

TEST_F(IniFileTest, Utf16IsReadAndKeptAsUtf16) {
    // An odd last byte is dropped.
    Bytes bytes = Utf16Of(L"[Grüße]\r\nname = \x4E2D\x6587\r\n");
    const Bytes expected = Utf16Of(L"[Grüße]\r\nname = \x4E2D\x6587\r\n");
    bytes.push_back(0x41);
    const std::wstring path = m_files.Write("utf16", L".ini", bytes);
    ASSERT_TRUE(m_ini->Load(path.c_str()));
    EXPECT_EQ(EncodingOf(*m_ini), eIniUtf16);
    EXPECT_STREQ(m_ini->GetString(L"Grüße", L"name"), L"\x4E2D\x6587");
    ASSERT_TRUE(m_ini->Save(nullptr, eIniKeep));
    EXPECT_EQ(OrvexTest::ReadRawFile(path), expected);

    // A marked UTF-8 file keeps its mark.
    IniObject marked = NewIni();
    const Bytes utf8 = Utf8Of(L"[s]\r\nk = \x00E9\x4E2D\r\n", true);
    const std::wstring utf8Path = m_files.Write("utf8", L".ini", utf8);
    ASSERT_TRUE(marked->Load(utf8Path.c_str()));
    EXPECT_EQ(EncodingOf(*marked), eIniUtf8Bom);
    EXPECT_STREQ(marked->GetString(L"s", L"k"), L"\x00E9\x4E2D");
    ASSERT_TRUE(marked->Save(nullptr, eIniKeep));
    EXPECT_EQ(OrvexTest::ReadRawFile(utf8Path), utf8);
}

// Where wchar_t has 32 bits, UTF-8 files can hold units beyond UTF-16: above
// 0xFFFF they are saved as surrogate pairs, beyond Unicode as U+FFFD (never as
// their low 16 bits, which could end the line or the text).
TEST_F(IniFileTest, UnitsBeyondUtf16AreSavedWhole) {
    if (sizeof(wchar_t) < 4) {
        GTEST_SKIP() << "16-bit wchar_t holds no such unit";
    }
    std::wstring value = L"a";
    value += static_cast<wchar_t>(0x1F600);
    value += static_cast<wchar_t>(0x20000A);
    value += L"z";
    m_ini->SetString(L"s", L"k", value.c_str());
    m_ini->SetString(L"s", L"next", L"1");
    const std::wstring path = m_files.Name("wide", L".ini");
    ASSERT_TRUE(m_ini->Save(path.c_str(), eIniUtf16));
    IniObject loaded = NewIni();
    ASSERT_TRUE(loaded->Load(path.c_str()));
    EXPECT_EQ(std::wstring(loaded->GetString(L"s", L"k")), L"a\xD83D\xDE00\xFFFDz");
    EXPECT_STREQ(loaded->GetString(L"s", L"next"), L"1");
}

// Bytes that are not UTF-8 are read in the ANSI code page: on Windows the
// system's (under Wine, 1252); on Linux the environment's locale, or byte by
// byte when it names none. Bytes A0-FF mean the same in 1252 and byte by byte.
TEST_F(IniFileTest, TextInALegacyCodePageIsReadAndSavedAsUtf8) {
    const std::string before = std::setlocale(LC_ALL, nullptr);
    const Bytes legacy = BytesOf("[caf\xE9]\r\nname = \xC0 la carte \xFF\r\n");
    const std::wstring expectedValue = L"\x00C0 la carte \x00FF";
    for (const char* environment : {"C", "C.UTF-8"}) {
        SCOPED_TRACE(environment);
        OrvexTest::SetEnvironment("LC_ALL", environment);
        IniObject ini = NewIni();
        const std::wstring path = m_files.Write("legacy", L".ini", legacy);
        ASSERT_TRUE(ini->Load(path.c_str()));
        EXPECT_EQ(EncodingOf(*ini), eIniNoBom);
        EXPECT_EQ(std::wstring(ini->GetString(L"caf\x00E9", L"name")), expectedValue);
        ASSERT_TRUE(ini->Save(nullptr, eIniKeep));
        EXPECT_EQ(OrvexTest::ReadRawFile(path),
                  BytesOf("[caf\xC3\xA9]\r\nname = \xC3\x80 la carte \xC3\xBF\r\n"));
        // The process's locale is what it was.
        EXPECT_EQ(std::setlocale(LC_ALL, nullptr), before);
    }
    OrvexTest::SetEnvironment("LC_ALL", nullptr);
}

// Random names and values (any character but line ends; values and names
// without blanks at their ends, names that cannot be read as a comment,
// header or '=') survive save and load in every encoding, and a second save
// writes the same bytes.
TEST_F(IniFileTest, RandomContentSurvivesSaveAndLoad) {
    const std::wstring alphabet = L"abcXYZ019 \t_-.;/[]=\"'#\x00E9\x00DF\x0416\x4E2D\xFF21";
    const std::wstring plain = L"abcdefghXYZ0123_\x00E9\x4E2D";
    std::mt19937 random(20261208);
    auto text = [&](std::size_t length, bool isName) {
        std::wstring result;
        for (std::size_t i = 0; i < length; ++i) {
            const bool edge = i == 0 || i + 1 == length;
            const std::wstring& from = edge ? plain : alphabet;
            wchar_t unit = from[random() % from.size()];
            if (isName && (unit == L'=' || unit == L']')) {
                unit = L'x';
            }
            result += unit;
        }
        return result;
    };
    for (int round = 0; round < 20; ++round) {
        IniObject source = NewIni();
        const int sections = 1 + static_cast<int>(random() % 6);
        for (int s = 0; s < sections; ++s) {
            const std::wstring section = text(random() % 8, true);
            for (int k = 1 + static_cast<int>(random() % 8); k > 0; --k) {
                source->SetString(section.c_str(), text(1 + random() % 8, true).c_str(),
                                  text(random() % 30, false).c_str());
            }
        }
        const Content content = ContentOf(*source);
        for (const EIniEncoding encoding : {eIniUtf16, eIniUtf8Bom, eIniNoBom}) {
            SCOPED_TRACE(::testing::Message() << "round " << round << " encoding " << encoding);
            const std::wstring first = m_files.Name("round", L".ini");
            const std::wstring second = m_files.Name("round", L".ini");
            ASSERT_TRUE(source->Save(first.c_str(), encoding));
            IniObject loaded = NewIni();
            ASSERT_TRUE(loaded->Load(first.c_str()));
            EXPECT_EQ(ContentOf(*loaded), content);
            EXPECT_EQ(EncodingOf(*loaded), encoding);
            ASSERT_TRUE(loaded->Save(second.c_str(), eIniKeep));
            EXPECT_EQ(OrvexTest::ReadRawFile(second), OrvexTest::ReadRawFile(first));
        }
    }
}

// The text Save writes for `content` in UTF-8 without a mark.
Bytes SavedText(const Content& content) {
    std::wstring text;
    for (const auto& section : content) {
        text += L"[" + section.first + L"]\r\n";
        for (const auto& entry : section.second) {
            text += entry.first + L" = " + entry.second + L"\r\n";
        }
    }
    return Utf8Of(text);
}

// Sections and keys are found through hash tables and put in order only when
// saved: random sets, lookups, saves, reloads and clears must agree with a
// plain sorted map at every step, the saved text included.
TEST_F(IniFileTest, RandomChangesAgreeWithASortedMap) {
    // Names that differ in case, in one unit or in length, the empty name,
    // names at and just past the length an entry keeps inline, and enough
    // others that the tables grow many times. None has blanks at its ends,
    // '=' or ']', or starts a comment.
    std::vector<std::wstring> names = {
        L"",    L"a",     L"A",     L"ab",       L"abc",          L"b",   L"key",
        L"Key", L"key.1", L"key.2", L"k\x00E9y", L"\x4E2D\x6587", L"n n", L"#x"};
    names.push_back(std::wstring(15, L'n'));
    names.push_back(std::wstring(16, L'n'));
    for (int i = 0; i < 150; ++i) {
        names.push_back(L"name" + std::to_wstring(i));
    }
    const std::wstring alphabet = L"az AZ09=;[]._\x00E9\x4E2D";
    std::mt19937 random(20261210);
    auto name = [&] { return names[random() % names.size()]; };
    auto value = [&] {
        std::wstring text;
        for (std::size_t length = random() % 40; text.size() < length;) {
            text += alphabet[random() % alphabet.size()];
        }
        if (!text.empty() && text.front() == L' ') {
            text.front() = L'x';
        }
        if (!text.empty() && text.back() == L' ') {
            text.back() = L'x';
        }
        return text;
    };
    auto expectFound = [&](const Content& model, const std::wstring& section,
                           const std::wstring& key) {
        const auto keys = model.find(section);
        const wchar_t* found = m_ini->GetString(section.c_str(), key.c_str());
        if (keys == model.end() || keys->second.count(key) == 0) {
            EXPECT_EQ(found, nullptr);
        } else {
            ASSERT_NE(found, nullptr);
            EXPECT_EQ(std::wstring(found), keys->second.at(key));
        }
    };
    const std::wstring path = m_files.Name("random", L".ini");
    Content model;
    for (int step = 0; step < 40000; ++step) {
        SCOPED_TRACE(::testing::Message() << "step " << step);
        const std::wstring section = name(), key = name();
        const unsigned operation = random() % 1000;
        if (operation < 450) {
            const std::wstring text = value();
            m_ini->SetString(section.c_str(), key.c_str(), text.c_str());
            model[section][key] = text;
        } else if (operation < 480) {
            const int number = static_cast<int>(random());
            m_ini->SetInt(section.c_str(), key.c_str(), number);
            model[section][key] = std::to_wstring(number);
        } else if (operation < 990) {
            expectFound(model, section, key);
        } else if (operation < 998) {
            // Saved in name order, then read back into the same object.
            ASSERT_TRUE(m_ini->Save(path.c_str(), eIniNoBom));
            ASSERT_EQ(OrvexTest::ReadRawFile(path), SavedText(model));
            m_ini->Close();
            // An empty file reads as nothing, and Load says so.
            ASSERT_EQ(m_ini->Load(path.c_str()), !model.empty());
            ASSERT_EQ(ContentOf(*m_ini), model);
        } else {
            expectFound(model, section, key);
            m_ini->Clear();
            model.clear();
            expectFound(model, section, key);
        }
    }
    for (const auto& section : model) {
        for (const auto& entry : section.second) {
            expectFound(model, section.first, entry.first);
        }
    }
    EXPECT_EQ(ContentOf(*m_ini), model);
}

TEST_F(IniFileTest, AConfigurationIsFoundInsideAPackage) {
    const std::wstring package = m_files.Name("inipkg", L".pkg");
    const std::wstring root = package.substr(0, package.size() - 4);
    ASSERT_TRUE(OrvexTest::WritePackage(
        package, {{L"cfg/Game.ini", Utf16Of(L"[Window]\r\nwidth = 1024\r\n"), 8}}, true));
    ASSERT_TRUE(Orvex::GetOrvexFileMgr().OpenPackage(package.c_str(), nullptr, 0, false));
    ASSERT_TRUE(m_ini->Load((root + L"\\CFG\\game.ini").c_str()));
    EXPECT_EQ(m_ini->GetInt(L"Window", L"width", 0), 1024);
}

} // namespace
