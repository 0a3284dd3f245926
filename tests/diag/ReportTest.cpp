// The six-line report: what reaches the log stream and the question.
#include "OrvexCommon/diag/OrvexDiag.h"
#include "OrvexCommon/diag/detail/ReportText.h"
#include "OrvexCommon/log/OrvexLog.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

std::vector<std::string>* g_logLines = nullptr;
std::wstring* g_asked = nullptr;
bool g_askedFatal = false;
int g_askCount = 0;

void CollectLine(const char* text, unsigned length) {
    g_logLines->emplace_back(text, length);
}

int RecordQuestion(const wchar_t* report, bool fatal) {
    *g_asked = report;
    g_askedFatal = fatal;
    ++g_askCount;
    return fatal ? 0 : 5; // nobody asked / Ignore: the call returns
}

class Report : public ::testing::Test {
protected:
    void SetUp() override {
        g_logLines = &m_lines;
        g_asked = &m_asked;
        g_askCount = 0;
        Orvex::SetGlobLogFun(&CollectLine);
        Orvex::SetGlobExceptionBoxFun(&RecordQuestion);
    }
    void TearDown() override {
        Orvex::SetGlobExceptionBoxFun(nullptr);
        Orvex::SetGlobLogFun(nullptr);
        g_logLines = nullptr;
        g_asked = nullptr;
    }
    std::vector<std::string> m_lines;
    std::wstring m_asked;
};

TEST_F(Report, LogsSevenLinesAndAsksWithTheSixLineReport) {
    Orvex::OrvexException("CreateProfile with exist name!!", "D:\\Src\\Engine\\Tick.SRC",
                          "Jan 31 2020", "23:59:58", 1234, "Orvex::CProfileMgr::CreateProfile",
                          false);
    const std::vector<std::string> expected = {"OrvexException: \n",
                                               "CreateProfile with exist name!!\n",
                                               "tick.src\n",
                                               "Jan 31 2020\n",
                                               "23:59:58\n",
                                               "Line:1234\n",
                                               "Orvex::CProfileMgr::CreateProfile\n"};
    EXPECT_EQ(expected, m_lines);
    EXPECT_EQ(1, g_askCount);
    EXPECT_FALSE(g_askedFatal);
    EXPECT_EQ(L"CreateProfile with exist name!!\ntick.src\nJan 31 2020\n23:59:58\nLine:1234\n"
              L"Orvex::CProfileMgr::CreateProfile\n",
              m_asked);
}

TEST_F(Report, FileWithoutSeparatorIsWholeAndLineZeroIsWritten) {
    Orvex::OrvexException("m", "Tick.SRC", "d", "t", 0, "f", true);
    ASSERT_EQ(7u, m_lines.size());
    EXPECT_EQ("tick.src\n", m_lines[2]);
    EXPECT_EQ("Line:0\n", m_lines[5]);
    EXPECT_TRUE(g_askedFatal);
    EXPECT_EQ(L"m\ntick.src\nd\nt\nLine:0\nf\n", m_asked);
}

TEST_F(Report, TextIsUtf8InAndOut) {
    Orvex::OrvexException("Gr\xC3\xBC\xC3\x9F \xE2\x82\xAC", "/src/\xC3\x84rger.cpp", "d", "t",
                          4294967295u, "f", false);
    ASSERT_EQ(7u, m_lines.size());
    EXPECT_EQ("Gr\xC3\xBC\xC3\x9F \xE2\x82\xAC\n", m_lines[1]);
    // Only A to Z are lower-cased; other letters keep their case.
    EXPECT_EQ("\xC3\x84rger.cpp\n", m_lines[2]);
    EXPECT_EQ("Line:4294967295\n", m_lines[5]);
    EXPECT_EQ(std::wstring(L"Gr\u00FC\u00DF \u20AC\n\u00C4rger.cpp\nd\nt\nLine:4294967295\nf\n"),
              m_asked);
}

TEST(ReportFileName, TakesTheTextAfterTheLastSeparatorOfEitherKind) {
    EXPECT_EQ("tick.src", Orvex::detail::ReportFileName("D:\\Src\\Engine\\Tick.SRC"));
    EXPECT_EQ("b.h", Orvex::detail::ReportFileName("A\\dir/B.H"));
    EXPECT_EQ("a.h", Orvex::detail::ReportFileName("x/y\\A.h"));
    EXPECT_EQ("tick.src", Orvex::detail::ReportFileName("Tick.SRC"));
    EXPECT_EQ("", Orvex::detail::ReportFileName("dir\\"));
    EXPECT_EQ("", Orvex::detail::ReportFileName(""));
    EXPECT_EQ("", Orvex::detail::ReportFileName(nullptr));
}

TEST(ReportText, NullArgumentsGiveEmptyLines) {
    EXPECT_EQ(L"\n\n\n\nLine:5\n\n",
              Orvex::detail::BuildExceptionReport(nullptr, nullptr, nullptr, nullptr, 5, nullptr));
}

} // namespace
