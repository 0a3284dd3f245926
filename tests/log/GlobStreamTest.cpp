#include "OrvexCommon/log/OrvexLog.h"
#include "OrvexCommon/platform/OrvexSys.h"

#include "OrvexTestSupport.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

namespace {

using Orvex::GetErrStream;
using Orvex::GetLogStream;
using OrvexTest::ConsoleCapture;
using OrvexTest::ConsoleTarget;

// Collects what a hook receives; the hook may be called from several threads.
struct HookRecord {
    Orvex::sys::RecursiveLock* lock = Orvex::sys::CreateRecursiveLock();
    std::vector<std::string> lines;
    std::vector<unsigned> lengths;
    ~HookRecord() { Orvex::sys::DestroyRecursiveLock(lock); }
};
HookRecord* g_record = nullptr;

void RecordingHook(const char* text, unsigned length) {
    Orvex::sys::ScopedLock hold(g_record->lock);
    g_record->lines.emplace_back(text, length);
    g_record->lengths.push_back(length);
}

class GlobStream : public ::testing::Test {
protected:
    void SetUp() override { g_record = &m_record; }
    void TearDown() override {
        Orvex::SetGlobLogFun(nullptr);
        Orvex::SetGlobErrFun(nullptr);
        g_record = nullptr;
    }
    HookRecord m_record;
};

TEST_F(GlobStream, HooksStartNullAndAreStored) {
    EXPECT_EQ(nullptr, Orvex::GetGlobLogFun());
    EXPECT_EQ(nullptr, Orvex::GetGlobErrFun());
    Orvex::SetGlobLogFun(RecordingHook);
    EXPECT_EQ(&RecordingHook, Orvex::GetGlobLogFun());
    EXPECT_EQ(nullptr, Orvex::GetGlobErrFun());
    Orvex::SetGlobErrFun(RecordingHook);
    EXPECT_EQ(&RecordingHook, Orvex::GetGlobErrFun());
    EXPECT_EQ(&GetLogStream(), &GetLogStream());
    EXPECT_NE(static_cast<std::ostream*>(&GetLogStream()), &GetErrStream());
}

TEST_F(GlobStream, WithoutHookTheConsoleGetsTheLineOnlyAtTheLineFeed) {
    ConsoleCapture capture(ConsoleTarget::Output);
    GetLogStream() << "abc";
    GetLogStream().flush();
    EXPECT_EQ("", capture.Finish());

    ConsoleCapture second(ConsoleTarget::Output);
    GetLogStream() << "\n";
    EXPECT_EQ("abc\n", second.Finish());
}

TEST_F(GlobStream, HookGetsExactBytesAndLengthAndConsoleStillGetsTheLine) {
    Orvex::SetGlobLogFun(RecordingHook);
    ConsoleCapture capture(ConsoleTarget::Output);
    GetLogStream() << "ab";
    GetLogStream() << 'c';
    EXPECT_TRUE(m_record.lines.empty());
    GetLogStream() << std::endl;
    EXPECT_EQ("abc\n", capture.Finish());
    ASSERT_EQ(1u, m_record.lines.size());
    EXPECT_EQ("abc\n", m_record.lines[0]);
    EXPECT_EQ(4u, m_record.lengths[0]);
}

TEST_F(GlobStream, TextWithoutLineFeedIsNotDelivered) {
    Orvex::SetGlobErrFun(RecordingHook);
    ConsoleCapture capture(ConsoleTarget::Error);
    GetErrStream() << "pending" << std::flush;
    EXPECT_EQ("", capture.Finish());
    EXPECT_TRUE(m_record.lines.empty());
    // The pending text stays and leads the next line.
    ConsoleCapture second(ConsoleTarget::Error);
    GetErrStream() << " done\n";
    EXPECT_EQ("pending done\n", second.Finish());
    ASSERT_EQ(1u, m_record.lines.size());
    EXPECT_EQ("pending done\n", m_record.lines[0]);
}

TEST_F(GlobStream, ErrorStreamGoesToStandardErrorAndItsOwnHook) {
    Orvex::SetGlobLogFun(RecordingHook); // must not see error lines
    ConsoleCapture errors(ConsoleTarget::Error);
    ConsoleCapture output(ConsoleTarget::Output);
    GetErrStream() << "failure 7\n";
    EXPECT_EQ("", output.Finish());
    EXPECT_EQ("failure 7\n", errors.Finish());
    EXPECT_TRUE(m_record.lines.empty());
}

TEST_F(GlobStream, Utf8LineReachesHookAndConsoleUnchanged) {
    Orvex::SetGlobLogFun(RecordingHook);
    const std::string line = "caf\xc3\xa9 \xe4\xb8\xad\n";
    ConsoleCapture capture(ConsoleTarget::Output);
    GetLogStream() << line;
    // Redirected, the console keeps the UTF-8 bytes as written.
    EXPECT_EQ(line, capture.Finish());
    ASSERT_EQ(1u, m_record.lines.size());
    EXPECT_EQ(line, m_record.lines[0]);
}

TEST_F(GlobStream, WideTextIsWrittenAsUtf8) {
    using Orvex::operator<<;
    Orvex::SetGlobLogFun(RecordingHook);
    ConsoleCapture capture(ConsoleTarget::Output);
    GetLogStream() << L"\u00e9" << "\n";
    capture.Finish();
    ASSERT_EQ(1u, m_record.lines.size());
    EXPECT_EQ("\xc3\xa9\n", m_record.lines[0]);
    EXPECT_EQ(3u, m_record.lengths[0]);

    std::ostringstream any;
    any << L"x\u4e2d" << static_cast<const wchar_t*>(nullptr) << L"";
    EXPECT_EQ("x\xe4\xb8\xad", any.str());
}

// Each writer puts out whole lines of its own letter, one character at a time.
struct Writer {
    char letter;
    int lines;
    int width;
};

unsigned ORVEX_THREAD_CALL WriteLines(void* context) {
    const Writer* writer = static_cast<const Writer*>(context);
    for (int line = 0; line < writer->lines; ++line) {
        for (int k = 0; k < writer->width; ++k) {
            GetLogStream().put(writer->letter);
        }
        GetLogStream().put('\n');
    }
    return 0;
}

TEST_F(GlobStream, TwoThreadsWritingAtOnceLoseNoCharacter) {
    Orvex::SetGlobLogFun(RecordingHook);
    Writer first{'x', 400, 30};
    Writer second{'y', 400, 30};
    ConsoleCapture capture(ConsoleTarget::Output);
    Orvex::sys::Thread* one = Orvex::sys::StartThread(WriteLines, &first, 0);
    Orvex::sys::Thread* two = Orvex::sys::StartThread(WriteLines, &second, 0);
    ASSERT_NE(nullptr, one);
    ASSERT_NE(nullptr, two);
    EXPECT_EQ(Orvex::sys::JoinResult::Joined, Orvex::sys::JoinThread(one, nullptr));
    EXPECT_EQ(Orvex::sys::JoinResult::Joined, Orvex::sys::JoinThread(two, nullptr));
    const std::string console = capture.Finish();

    std::size_t xs = 0, ys = 0;
    for (const std::string& line : m_record.lines) {
        ASSERT_EQ('\n', line.back());
        xs += std::count(line.begin(), line.end(), 'x');
        ys += std::count(line.begin(), line.end(), 'y');
    }
    EXPECT_EQ(800u, m_record.lines.size());
    EXPECT_EQ(400u * 30u, xs);
    EXPECT_EQ(400u * 30u, ys);
    EXPECT_EQ(800, std::count(console.begin(), console.end(), '\n'));
    EXPECT_EQ(400 * 30, std::count(console.begin(), console.end(), 'x'));
}

} // namespace
