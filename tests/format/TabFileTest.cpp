// Table files: rows and cells as UTF-16 and UTF-8 files cut them, column
// names, lookups inside and outside the table, the typed getters, text from
// memory, and the refusal of text that is not Unicode.
#include "TextFileTestSupport.h"

#include "OrvexCommon/format/detail/TabFile.h"
#include "OrvexCommon/log/OrvexLog.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

using namespace OrvexTest;

typedef std::vector<std::vector<std::wstring>> Cells;

Cells CellsOf(Orvex::ITabFile& table) {
    Cells cells(table.GetHeight());
    for (unsigned row = 0; row < table.GetHeight(); ++row) {
        // Cells past a row's end read as "": stop at the first run of them
        // that reaches the widest row any test uses.
        unsigned count = 0;
        for (unsigned column = 0; column < 16; ++column) {
            if (table.GetString(row, column)[0] != 0) {
                count = column + 1;
            }
        }
        for (unsigned column = 0; column < count; ++column) {
            cells[row].push_back(table.GetString(row, column));
        }
    }
    return cells;
}

// The cell counts of each row, read through the object's own rows.
std::vector<unsigned> RowWidths(Orvex::ITabFile& table) {
    std::vector<unsigned> widths;
    for (unsigned row = 0; row < table.GetHeight(); ++row) {
        unsigned width = 0;
        const wchar_t* outside = table.GetString(table.GetHeight(), 0u);
        while (width < 64 && table.GetString(row, width) != outside) {
            ++width;
        }
        widths.push_back(width);
    }
    return widths;
}

class TabFileTest : public ::testing::Test {
protected:
    bool Load(const Bytes& bytes) {
        return m_table->Load(m_files.Write("tab", L".tab", bytes).c_str());
    }

    ScratchFiles m_files;
    TabObject m_table = NewTab();
};

TEST_F(TabFileTest, AUtf16TableHasOneRowPerLine) {
    ASSERT_TRUE(Load(Utf16Of(L"Id\tName\r\n7\tBob\r\n")));
    EXPECT_EQ(m_table->GetHeight(), 2u);
    EXPECT_EQ(m_table->GetWidth(), 2u);
    EXPECT_EQ(m_table->GetColumn(L"Id"), 0);
    EXPECT_EQ(m_table->GetColumn(L"Name"), 1);
    EXPECT_STREQ(m_table->GetString(1, 1u), L"Bob");
    EXPECT_STREQ(m_table->GetString(1, L"Name"), L"Bob");
    EXPECT_STREQ(m_table->GetString(0, 1u), L"Name");
    EXPECT_EQ(m_table->GetInt(1, 0u, -1), 7);
    EXPECT_EQ(m_table->GetInt(1, L"Id", -1), 7);
    EXPECT_EQ(RowWidths(*m_table), (std::vector<unsigned>{2, 2}));
}

TEST_F(TabFileTest, TheSameTableInUtf8HasOneMoreRow) {
    for (const bool mark : {false, true}) {
        SCOPED_TRACE(mark);
        TabObject table = NewTab();
        ASSERT_TRUE(table->Load(
            m_files.Write("utf8", L".tab", Utf8Of(L"Id\tName\r\n7\tBob\r\n", mark)).c_str()));
        EXPECT_EQ(table->GetHeight(), 3u);
        EXPECT_EQ(RowWidths(*table), (std::vector<unsigned>{2, 2, 1}));
        EXPECT_STREQ(table->GetString(2, 0u), L"");
        EXPECT_STREQ(table->GetString(1, L"Name"), L"Bob");
    }
}

TEST_F(TabFileTest, LineEndsTabsAndEmptyLinesMakeCells) {
    struct Case {
        std::wstring text;
        bool utf16;
        Cells cells;
        std::vector<unsigned> widths;
    };
    const Case cases[] = {
        // A UTF-16 last line ending in "\n" alone keeps it in its last cell.
        {L"A\tB\n1\t2\n", true, {{L"A", L"B"}, {L"1", L"2\n"}}, {2, 2}},
        // A line ending in a tab has one more, empty, cell.
        {L"A\tB\t\r\n1\t2\t\r\n", true, {{L"A", L"B"}, {L"1", L"2"}}, {3, 3}},
        {L"A\tB\r\n1\t", true, {{L"A", L"B"}, {L"1"}}, {2, 2}},
        // An empty line is a row with one empty cell.
        {L"A\r\n\r\nx\r\n", true, {{L"A"}, {}, {L"x"}}, {1, 1, 1}},
        // "\r" without "\n" stays in the cell; "\n" alone ends a row.
        {L"A\rB\nx\ny", false, {{L"A\rB"}, {L"x"}, {L"y"}}, {1, 1, 1}},
        // Rows may differ in width.
        {L"A\tB\tC\n1\n1\t2\t3\t4",
         false,
         {{L"A", L"B", L"C"}, {L"1"}, {L"1", L"2", L"3", L"4"}},
         {3, 1, 4}},
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(::testing::Message() << (test.utf16 ? "utf16 " : "utf8 ") << test.text.size());
        TabObject table = NewTab();
        const Bytes bytes = test.utf16 ? Utf16Of(test.text) : Utf8Of(test.text);
        ASSERT_TRUE(table->Load(m_files.Write("cells", L".tab", bytes).c_str()));
        EXPECT_EQ(CellsOf(*table), test.cells);
        EXPECT_EQ(RowWidths(*table), test.widths);
    }
}

TEST_F(TabFileTest, ColumnNamesAreExactAndTheLaterDuplicateWins) {
    ASSERT_TRUE(Load(Utf8Of(L"Name\tname\tName\tLast\n1\t2\t3\t4\n")));
    EXPECT_EQ(m_table->GetColumn(L"Name"), 2);
    EXPECT_EQ(m_table->GetColumn(L"name"), 1);
    EXPECT_EQ(m_table->GetColumn(L"NAME"), -1);
    EXPECT_EQ(m_table->GetColumn(L"Last"), 3);
    EXPECT_EQ(m_table->GetInt(1, L"Name", 0), 3);

    // A header that is the last line: its last cell is not a column name.
    for (const bool utf16 : {false, true}) {
        TabObject table = NewTab();
        const std::wstring text = utf16 ? L"A\tB\n" : L"A\tB";
        ASSERT_TRUE(table->Load(
            m_files.Write("header", L".tab", utf16 ? Utf16Of(text) : Utf8Of(text)).c_str()));
        EXPECT_EQ(table->GetColumn(L"A"), 0);
        EXPECT_EQ(table->GetColumn(L"B"), -1);
        EXPECT_EQ(table->GetColumn(L"B\n"), -1);
    }
}

TEST_F(TabFileTest, LookupsOutsideTheTableGiveOneEmptyStringAndDefaults) {
    ASSERT_TRUE(Load(Utf16Of(L"Id\tName\tEmpty\r\n7\tBob\t\r\n")));
    const wchar_t* empty = m_table->GetString(2, 0u);
    EXPECT_STREQ(empty, L"");
    EXPECT_EQ(m_table->GetString(0xFFFFFFFFu, 0u), empty);
    EXPECT_EQ(m_table->GetString(1, 3u), empty);
    EXPECT_EQ(m_table->GetString(1, L"Nobody"), empty);
    EXPECT_EQ(m_table->GetString(5, L"Name"), empty);
    EXPECT_EQ(m_table->GetInt(5, 0u, -3), -3);
    EXPECT_EQ(m_table->GetInt(1, L"Empty", -3), -3);
    EXPECT_EQ(m_table->GetInt64(1, L"Nobody", -4), -4);
    EXPECT_FLOAT_EQ(m_table->GetFloat(1, 2u, 0.5f), 0.5f);
    EXPECT_EQ(m_table->GetColumn(L"Nobody"), -1);
    // The empty cell inside the row is the row's own, not the shared one.
    EXPECT_STREQ(m_table->GetString(1, 2u), L"");
    EXPECT_NE(m_table->GetString(1, 2u), empty);
}

TEST_F(TabFileTest, TypedGettersConvertCells) {
    ASSERT_TRUE(Load(Utf8Of(L"I\tL\tF\tW\n-12\t9000000000\t2.5\t 7x\n")));
    EXPECT_EQ(m_table->GetInt(1, L"I", 0), -12);
    EXPECT_EQ(m_table->GetInt64(1, L"L", 0), 9000000000LL);
    EXPECT_EQ(m_table->GetInt64(1, 1u, 0), 9000000000LL);
    EXPECT_EQ(m_table->GetInt(1, L"L", 0), 2147483647);
    EXPECT_FLOAT_EQ(m_table->GetFloat(1, L"F", 0.0f), 2.5f);
    EXPECT_FLOAT_EQ(m_table->GetFloat(1, 2u, 0.0f), 2.5f);
    EXPECT_EQ(m_table->GetInt(1, 3u, 0), 7);
    // A header cell read as a number.
    EXPECT_EQ(m_table->GetInt(0, 0u, 5), 0);
}

TEST_F(TabFileTest, EmptyTablesAndAFileOfOnlyTheMark) {
    EXPECT_EQ(m_table->GetHeight(), 0u);
    EXPECT_EQ(m_table->GetWidth(), 0u);
    EXPECT_STREQ(m_table->GetString(0, 0u), L"");
    ASSERT_TRUE(Load(Bytes{0xFF, 0xFE}));
    EXPECT_EQ(m_table->GetHeight(), 1u);
    EXPECT_EQ(m_table->GetWidth(), 1u);
    EXPECT_STREQ(m_table->GetString(0, 0u), L"");
    m_table->Clear();
    EXPECT_EQ(m_table->GetHeight(), 0u);
    EXPECT_EQ(m_table->GetWidth(), 0u);
}

TEST_F(TabFileTest, TextNotInUnicodeIsLoggedAndThrown) {
    ASSERT_TRUE(Load(Utf8Of(L"Id\nx\n")));
    static std::string s_logged;
    s_logged.clear();
    Orvex::SetGlobLogFun([](const char* text, unsigned length) { s_logged.append(text, length); });
    try {
        Load(BytesOf("Id\tName\r\n1\tJos\xE9\r\n"));
        ADD_FAILURE() << "no exception";
    } catch (char* text) {
        EXPECT_STREQ(text, "can not use asc file here!!");
    }
    EXPECT_EQ(s_logged, "can not use asc file here!!\n");
    EXPECT_EQ(m_table->GetHeight(), 0u);

    // A missing or empty file changes nothing and logs nothing.
    ASSERT_TRUE(Load(Utf8Of(L"Id\nx\n")));
    s_logged.clear();
    EXPECT_FALSE(m_table->Load(m_files.Name("missing", L".tab").c_str()));
    EXPECT_FALSE(Load(Bytes()));
    EXPECT_FALSE(m_table->Load(nullptr));
    Orvex::SetGlobLogFun(nullptr);
    EXPECT_EQ(s_logged, "");
    EXPECT_STREQ(m_table->GetString(1, L"Id"), L"x");
}

TEST_F(TabFileTest, LoadingAgainReplacesTheTable) {
    ASSERT_TRUE(Load(Utf8Of(L"A\tB\n1\t2\n")));
    ASSERT_TRUE(Load(Utf16Of(L"C\r\n3\r\n")));
    EXPECT_EQ(CellsOf(*m_table), (Cells{{L"C"}, {L"3"}}));
    EXPECT_EQ(m_table->GetColumn(L"A"), -1);
    EXPECT_EQ(m_table->GetColumn(L"C"), 0);
}

TEST_F(TabFileTest, TextFromMemoryIsParsedInPlace) {
    const std::wstring text = L"K\tV\r\na\t1\r\nb\t2";
    m_table->Clear();
    m_table->SetText(text.data(), static_cast<unsigned>(text.size()));
    EXPECT_EQ(m_table->GetHeight(), 0u);
    ASSERT_TRUE(m_table->Parse());
    EXPECT_EQ(CellsOf(*m_table), (Cells{{L"K", L"V"}, {L"a", L"1"}, {L"b", L"2"}}));
    EXPECT_EQ(static_cast<Orvex::detail::CTabFile&>(*m_table).GetTextLength(), text.size() + 1);

    // Parse again adds rows: tabs and carriage returns are terminators now,
    // the line feeds still end rows.
    ASSERT_TRUE(m_table->Parse());
    EXPECT_EQ(m_table->GetHeight(), 6u);
    EXPECT_STREQ(m_table->GetString(3, 0u), L"K");
    EXPECT_STREQ(m_table->GetString(4, 0u), L"a");

    // New text without Parse: earlier rows read the new text at their
    // offsets, and offsets beyond it read as "".
    m_table->SetText(L"xyz", 3);
    EXPECT_STREQ(m_table->GetString(0, 0u), L"xyz");
    EXPECT_STREQ(m_table->GetString(1, 0u), L"");
    m_table->SetText(nullptr, 5);
    EXPECT_STREQ(m_table->GetString(0, 0u), L"");
}

TEST_F(TabFileTest, ATableIsFoundInsideAPackage) {
    const std::wstring package = m_files.Name("tabpkg", L".pkg");
    const std::wstring root = package.substr(0, package.size() - 4);
    ASSERT_TRUE(OrvexTest::WritePackage(
        package, {{L"data/units.tab", Utf8Of(L"Id\tSpeed\n1\t2.5\n", true), 4}}, false));
    ASSERT_TRUE(Orvex::GetOrvexFileMgr().OpenPackage(package.c_str(), nullptr, 0, true));
    ASSERT_TRUE(m_table->Load((root + L"/data/units.tab").c_str()));
    EXPECT_FLOAT_EQ(m_table->GetFloat(1, L"Speed", 0.0f), 2.5f);
}

} // namespace
