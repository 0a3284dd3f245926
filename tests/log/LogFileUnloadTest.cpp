// Loading the real shared library by hand: the log registry is created on
// first use and, at unload, closes every log still open (so unflushed bytes
// reach their files) and frees it (so no leak is reported).
#include "OrvexCommon/frame/OrvexFrame.h"
#include "OrvexCommon/log/OrvexLogFile.h"

#include "OrvexTestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

std::vector<std::string> g_events;

void Trace(const char* event) {
    g_events.push_back(event);
}

typedef void (*SetTraceFn)(Orvex::FrameTraceFun);
typedef Orvex::ILog* (*GetLogFileFn)(const char*, unsigned);

std::string ReadWhole(const std::string& path) {
    std::ifstream in(std::filesystem::u8path(path), std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

TEST(LogFileUnload, UnloadClosesAndFreesEveryRemainingLog) {
    const std::string folder = "oxlog_unload";
    std::error_code ignored;
    std::filesystem::remove_all(folder, ignored);

    OrvexTest::SharedLibrary library(ORVEX_TEST_LIBRARY);
    ASSERT_TRUE(library.IsLoaded()) << library.Error();
    auto setTrace =
        reinterpret_cast<SetTraceFn>(library.Symbol("_ZN5Orvex16SetFrameTraceFunEPFvPKcE"));
    auto getLogFile = reinterpret_cast<GetLogFileFn>(library.Symbol("_ZN5Orvex10GetLogFileEPKcj"));
    ASSERT_NE(nullptr, setTrace);
    ASSERT_NE(nullptr, getLogFile);
    setTrace(Trace);
    g_events.clear();

    OrvexTest::ConsoleCapture output(OrvexTest::ConsoleTarget::Output);
    Orvex::ILog* first = getLogFile((folder + "/u").c_str(), 1);
    Orvex::ILog* second = getLogFile((folder + "/v").c_str(), 2);
    ASSERT_NE(nullptr, first);
    ASSERT_NE(nullptr, second);
    first->Write("first, never flushed", 20);
    second->Print("second %d", 2);
    const std::string firstFile = first->GetFileName();
    const std::string secondFile = second->GetFileName();
    EXPECT_EQ(std::vector<std::string>{"created log registry"}, g_events);
    EXPECT_EQ("", ReadWhole(firstFile)) << "still in the runtime's buffer";

    g_events.clear();
    EXPECT_TRUE(library.Unload());
    ASSERT_FALSE(g_events.empty());
    EXPECT_EQ("torn down log registry", g_events.front()) << "first in, first out";
    EXPECT_EQ(1, std::count(g_events.begin(), g_events.end(), "torn down log registry"));
    EXPECT_EQ("", output.Finish()) << "no leak reported: every log was freed";

    EXPECT_EQ("first, never flushed", ReadWhole(firstFile));
    EXPECT_EQ("second 2\r\n", ReadWhole(secondFile));
    std::filesystem::remove_all(folder, ignored);
}

} // namespace
