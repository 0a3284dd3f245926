// A label created twice ends the process after printing the stack to the
// error stream and the fatal report to the log stream, seen from outside in a
// helper program.
#include "OrvexTestSupport.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

namespace {

struct ChildRun {
    int exitCode;
    std::vector<std::string> lines; // tagged "log: " or "err: ", in order
};

ChildRun RunChild(const std::string& answer) {
    const std::string output = "oxprofile_child_" + answer + ".txt";
    std::remove(output.c_str());
    ChildRun run;
    run.exitCode = OrvexTest::RunProcess(ORVEX_PROFILE_CHILD, {answer, output});
    std::ifstream stream(output, std::ios::binary);
    std::string line;
    while (std::getline(stream, line)) {
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        run.lines.push_back(line);
    }
    stream.close();
    std::remove(output.c_str());
    return run;
}

std::size_t Find(const std::vector<std::string>& lines, const std::string& wanted) {
    for (std::size_t index = 0; index < lines.size(); ++index) {
        if (lines[index] == wanted) {
            return index;
        }
    }
    return lines.size();
}

// The stack comes first, on the error stream, its first line carrying the
// line number that the report names; then the report on the log stream.
void ExpectStackThenReport(const std::vector<std::string>& lines) {
    const std::size_t reportStart = Find(lines, "log: OrvexException: ");
    ASSERT_LT(reportStart, lines.size());
    ASSERT_LT(reportStart + 6, lines.size());
    EXPECT_EQ("log: CreateProfile with exist name!!", lines[reportStart + 1]);
    EXPECT_EQ("log: orvexprofile", lines[reportStart + 2]);
    EXPECT_EQ("log: Orvex::CProfileMgr::CreateProfile", lines[reportStart + 6]);
    std::smatch number;
    ASSERT_TRUE(std::regex_match(lines[reportStart + 5], number, std::regex("log: Line:(\\d+)")))
        << lines[reportStart + 5];

    const std::regex firstFrame("err: .*\\(\\)\\[[0-9A-F]{8,}\\]:" + number[1].str());
    const std::regex laterFrame("err: .*\\(\\)\\[[0-9A-F]{8,}\\]");
    ASSERT_GT(reportStart, 0u) << "no stack before the report";
    EXPECT_TRUE(std::regex_match(lines[0], firstFrame)) << lines[0];
    for (std::size_t index = 1; index < reportStart; ++index) {
        EXPECT_TRUE(std::regex_match(lines[index], laterFrame)) << lines[index];
    }
}

std::string Show(const std::vector<std::string>& lines) {
    std::ostringstream text;
    for (const std::string& line : lines) {
        text << line << '\n';
    }
    return text.str();
}

TEST(ProfileDuplicate, AcknowledgedReportEndsTheProcessWithCodeOne) {
    const ChildRun run = RunChild("ok");
    EXPECT_EQ(1, run.exitCode);
    ExpectStackThenReport(run.lines);
    if (HasFailure()) {
        ADD_FAILURE() << Show(run.lines);
    }
}

TEST(ProfileDuplicate, ReportNobodyCouldSeeStillEndsTheProcess) {
    // The process must not carry on with a profile that is not the caller's;
    // it ends abnormally, without the library's teardown.
    const ChildRun run = RunChild("none");
    EXPECT_NE(0, run.exitCode);
    EXPECT_NE(1, run.exitCode);
    EXPECT_NE(20, run.exitCode);
    EXPECT_NE(21, run.exitCode);
    EXPECT_NE(22, run.exitCode);
    ExpectStackThenReport(run.lines);
    if (HasFailure()) {
        ADD_FAILURE() << Show(run.lines);
    }
}

} // namespace
