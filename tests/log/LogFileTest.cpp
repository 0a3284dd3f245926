// Named logs: one object per name, the exact bytes written, the file names,
// the directories made, and a log whose file cannot be opened.
#include "LogFileTestSupport.h"

#include "OrvexCommon/log/OrvexLogFile.h"
#include "OrvexCommon/log/detail/LogFileName.h"

#include "OrvexTestSupport.h"
#include "SpecialFiles.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <string>

namespace {

using OrvexTest::Exists;
using OrvexTest::LocalTime;
using OrvexTest::MovedCalendar;
using OrvexTest::ReadWhole;
using OrvexTest::ScratchLogs;

TEST(LogFile, OneObjectPerNameWhateverTheIdAndCaseMatters) {
    MovedCalendar calendar(LocalTime(2020, 1, 31));
    ScratchLogs scratch("names");
    Orvex::ILog* first = scratch.Log("a", 1);
    ASSERT_NE(nullptr, first);
    EXPECT_EQ(first, scratch.Log("a", 2));
    EXPECT_EQ(scratch.Path("a_2020-01-31-0.1.log"), first->GetFileName());
    EXPECT_EQ(scratch.Path("a"), first->GetName());

    Orvex::ILog* upper = scratch.Log("A", 1);
    ASSERT_NE(nullptr, upper);
    EXPECT_NE(first, upper);
    EXPECT_EQ(scratch.Path("A"), upper->GetName());

    // WriteLog reaches the same object, whatever its id.
    EXPECT_TRUE(Orvex::WriteLog(scratch.Path("a").c_str(), "xy", 2, 77));
    EXPECT_EQ(2u, first->GetFileSize());
    EXPECT_EQ(0u, upper->GetFileSize());

    EXPECT_EQ(nullptr, Orvex::GetLogFile(nullptr, 1));
    EXPECT_FALSE(Orvex::WriteLog(nullptr, "xy", 2, 1));
}

TEST(LogFile, WritesExactlyTheBytesGivenAndLinesEndWithCrLf) {
    MovedCalendar calendar(LocalTime(2020, 1, 31));
    ScratchLogs scratch("bytes");
    const std::string file = scratch.Path("w_2020-01-31-0.3.log");

    EXPECT_TRUE(Orvex::WriteLog(scratch.Path("w").c_str(), "abc", 3, 3));
    Orvex::ILog* log = scratch.Log("w", 3);
    ASSERT_NE(nullptr, log);
    log->Flush();
    EXPECT_EQ("abc", ReadWhole(file)) << "no line end, no prefix";

    EXPECT_EQ(2u, log->Print(""));
    EXPECT_EQ(5u, log->Print("%d-%s", 7, "x"));
    EXPECT_EQ(3u, log->Write("a\0b", 3)) << "zero bytes are data too";
    EXPECT_EQ(0u, log->Write(nullptr, 5));
    log->Flush();
    EXPECT_EQ(std::string("abc\r\n7-x\r\na\0b", 13), ReadWhole(file));
    EXPECT_EQ(13u, log->GetFileSize());
}

TEST(LogFile, FormattedTextIsCutAt1024BytesBeforeTheLineEnd) {
    MovedCalendar calendar(LocalTime(2020, 1, 31));
    ScratchLogs scratch("cut");
    Orvex::ILog* log = scratch.Log("p", 1);
    ASSERT_NE(nullptr, log);
    const std::string exact(1024, 'e');
    std::string longer(1500, 'l');
    longer[1023] = 'X';
    longer[1024] = 'Y';

    EXPECT_EQ(1026u, log->Print("%s", exact.c_str()));
    EXPECT_EQ(1026u, log->Print("%s", longer.c_str()));
    EXPECT_EQ(1026u, log->Print("%s%s", "z", exact.c_str()));
    log->Flush();
    const std::string expected =
        exact + "\r\n" + longer.substr(0, 1024) + "\r\n" + "z" + exact.substr(0, 1023) + "\r\n";
    EXPECT_EQ(expected, ReadWhole(scratch.Path("p_2020-01-31-0.1.log")));
    EXPECT_EQ(3u * 1026u, log->GetFileSize());
}

TEST(LogFile, AnExistingFileIsAppendedToAndCounted) {
    MovedCalendar calendar(LocalTime(2020, 1, 31));
    ScratchLogs scratch("append");
    const std::string file = scratch.Path("old_2020-01-31-0.5.log");
    OrvexTest::MakeFile(file, 100, "tail");
    Orvex::ILog* log = scratch.Log("old", 5);
    ASSERT_NE(nullptr, log);
    EXPECT_EQ(100u, log->GetFileSize());
    log->Write("new", 3);
    EXPECT_EQ(103u, log->GetFileSize());
    log->Flush();
    const std::string bytes = ReadWhole(file);
    ASSERT_EQ(103u, bytes.size());
    EXPECT_EQ("tailnew", bytes.substr(96));
}

TEST(LogFile, NameWithDirectoriesCreatesThemBeforeOpening) {
    MovedCalendar calendar(LocalTime(2020, 1, 31));
    ScratchLogs scratch("dirs");
    Orvex::ILog* log = scratch.Log("x/y/z", 4);
    ASSERT_NE(nullptr, log);
    EXPECT_TRUE(std::filesystem::is_directory(std::filesystem::u8path(scratch.Path("x"))));
    EXPECT_TRUE(std::filesystem::is_directory(std::filesystem::u8path(scratch.Path("x/y"))));
    EXPECT_EQ(scratch.Path("x/y/z_2020-01-31-0.4.log"), log->GetFileName());
    EXPECT_TRUE(Exists(scratch.Path("x/y/z_2020-01-31-0.4.log"))) << "opened at creation";
    log->Write("q", 1);
    log->Flush();
    EXPECT_EQ("q", ReadWhole(scratch.Path("x/y/z_2020-01-31-0.4.log")));
}

TEST(LogFile, ReleaseClosesTheFileAndTheNameStartsAfresh) {
    MovedCalendar calendar(LocalTime(2020, 1, 31));
    ScratchLogs scratch("release");
    Orvex::ILog* log = Orvex::GetLogFile(scratch.Path("r").c_str(), 1);
    ASSERT_NE(nullptr, log);
    log->Write("kept", 4); // not flushed: closing must write it
    log->Release();
    EXPECT_EQ("kept", ReadWhole(scratch.Path("r_2020-01-31-0.1.log")));

    Orvex::ILog* again = scratch.Log("r", 9);
    ASSERT_NE(nullptr, again);
    EXPECT_EQ(scratch.Path("r_2020-01-31-0.9.log"), again->GetFileName());
    EXPECT_EQ(0u, again->GetFileSize());
}

TEST(LogFile, UnopenableLogDropsWritesHarmlesslyAndSaysSoOnce) {
    MovedCalendar calendar(LocalTime(2020, 1, 31));
    ScratchLogs scratch("unopenable");
    OrvexTest::MakeFile(scratch.Path("blocker"), 1, "b"); // a file where a folder should be
    OrvexTest::ConsoleCapture errors(OrvexTest::ConsoleTarget::Error);

    Orvex::ILog* log = scratch.Log("blocker/log", 3);
    ASSERT_NE(nullptr, log) << "the log exists even without its file";
    EXPECT_EQ(0u, log->Write("abc", 3));
    EXPECT_EQ(2u, log->Print("")) << "the bytes handed to Write";
    EXPECT_EQ(0u, log->GetFileSize());
    log->Flush();
    Orvex::FlushAllLog();
    EXPECT_TRUE(Orvex::WriteLog(scratch.Path("blocker/log").c_str(), "abc", 3, 3));

    // The next day's file cannot be opened either: no second report.
    calendar.MoveTo(LocalTime(2020, 2, 1));
    EXPECT_EQ(0u, log->Write("abc", 3));
    EXPECT_EQ(scratch.Path("blocker/log_2020-02-01-0.3.log"), log->GetFileName());
    EXPECT_EQ(0u, log->GetFileSize());

    const std::string said = errors.Finish();
    EXPECT_EQ(1, std::count(said.begin(), said.end(), '\n')) << said;
    EXPECT_NE(std::string::npos, said.find(scratch.Path("blocker/log_2020-01-31-0.3.log"))) << said;
    EXPECT_EQ(std::string("b"), ReadWhole(scratch.Path("blocker")));
}

// A log whose file name leads to something other than a file opens nothing
// (writing into a FIFO would wait once the pipe is full, and a device is no
// place for a log): it drops its writes and says so once, and the name stays
// what it was.
TEST(LogFile, ANameThatIsNoFileIsNotOpened) {
    using OrvexTest::NameKind;
    MovedCalendar calendar(LocalTime(2020, 1, 31));
    ScratchLogs scratch("notafile");
    const NameKind kinds[] = {NameKind::Fifo, NameKind::Directory, NameKind::LinkToDevice,
                              NameKind::DanglingLink};
    int number = 0;
    for (const NameKind kind : kinds) {
        SCOPED_TRACE(static_cast<int>(kind));
        const std::string name = "log" + std::to_string(++number);
        const std::string file = scratch.Path(name + "_2020-01-31-0.7.log");
        const std::wstring wide = std::filesystem::u8path(file).wstring();
        if (!OrvexTest::MakeNameOfKind(wide, kind, {})) {
            continue; // no FIFOs, devices or links here
        }
        const OrvexTest::NameState before = OrvexTest::StateOf(wide);
        OrvexTest::ConsoleCapture errors(OrvexTest::ConsoleTarget::Error);
        Orvex::ILog* log = scratch.Log(name, 7);
        ASSERT_NE(nullptr, log);
        EXPECT_EQ(file, log->GetFileName());
        EXPECT_EQ(0u, log->Write("abc", 3));
        EXPECT_EQ(0u, log->Write("def", 3));
        log->Flush();
        const std::string said = errors.Finish();
        EXPECT_EQ(1, std::count(said.begin(), said.end(), '\n')) << said;
        EXPECT_NE(std::string::npos, said.find(file)) << said;
        EXPECT_TRUE(OrvexTest::StateOf(wide) == before);
        EXPECT_FALSE(std::filesystem::exists(OrvexTest::DanglingTarget(wide)));
    }
}

TEST(LogFile, LongNamesAreCutAndTheDateAndNumbersSurvive) {
    using Orvex::detail::ComposeLogFileName;
    using Orvex::detail::kLogNameCapacity;
    const Orvex::detail::SLogDate date{2020, 1, 31};
    char out[kLogNameCapacity];

    ComposeLogFileName(out, "net", date, 12, 4294967295u);
    EXPECT_STREQ("net_2020-01-31-12.4294967295.log", out);
    ComposeLogFileName(out, "old", Orvex::detail::SLogDate{999, 3, 4}, 0, 1);
    EXPECT_STREQ("old_ 999-03-04-0.1.log", out) << "the year takes at least four places";

    // A long name keeps the same stem, 255 bytes less the longest suffix
    // (37: ten digits each for rotation and id), whatever its numbers.
    const std::string suffix = "_2020-01-31-0.1.log"; // 19 bytes
    const std::string ascii(250, 'n');
    ComposeLogFileName(out, ascii.c_str(), date, 0, 1);
    EXPECT_EQ(ascii.substr(0, 218) + suffix, out);
    EXPECT_EQ(218u, Orvex::detail::LogNameStemLength(ascii.c_str()));
    ComposeLogFileName(out, ascii.c_str(), date, 4294967295u, 4294967295u);
    EXPECT_EQ(ascii.substr(0, 218) + "_2020-01-31-4294967295.4294967295.log", out);
    EXPECT_EQ(255u, std::strlen(out));

    // Two-byte characters: 218 bytes of room hold 109 of them whole.
    std::string accented;
    for (int i = 0; i < 125; ++i) {
        accented += "\xC3\xA9";
    }
    ComposeLogFileName(out, accented.c_str(), date, 0, 1);
    EXPECT_EQ(accented.substr(0, 218) + suffix, out);
    // Shifted by one byte, the cut would split a character: it drops it.
    const std::string shifted = "s" + accented;
    ComposeLogFileName(out, shifted.c_str(), date, 0, 1);
    EXPECT_EQ(shifted.substr(0, 217) + suffix, out);
    EXPECT_EQ(217u, Orvex::detail::LogNameStemLength(shifted.c_str()));
}

TEST(LogFile, ALogKeepsTheFirst255BytesOfItsName) {
    MovedCalendar calendar(LocalTime(2020, 1, 31));
    ScratchLogs scratch("longname");
    OrvexTest::ConsoleCapture errors(OrvexTest::ConsoleTarget::Error); // long paths may not open
    const std::string name = scratch.Path(std::string(300, 'n'));
    Orvex::ILog* log = scratch.Log(std::string(300, 'n'), 1);
    ASSERT_NE(nullptr, log);
    EXPECT_EQ(name.substr(0, 255), log->GetName());
    const std::string other = name.substr(0, 255) + "different tail";
    EXPECT_EQ(log, Orvex::GetLogFile(other.c_str(), 2)) << "only the kept bytes name a log";
    // Names that differ only beyond the stem end up as one file: one log.
    const std::size_t stem = Orvex::detail::LogNameStemLength(name.c_str());
    std::string sameFile = name.substr(0, 250);
    sameFile[249] = 'x';
    EXPECT_EQ(log, Orvex::GetLogFile(sameFile.c_str(), 1));
    std::string beyondStem = name.substr(0, 250);
    beyondStem[stem] = 'y';
    EXPECT_EQ(log, Orvex::GetLogFile(beyondStem.c_str(), 1));
    // A difference inside the stem makes another file and another log.
    std::string otherFile = name.substr(0, 250);
    otherFile[stem - 1] = 'z';
    Orvex::ILog* second = Orvex::GetLogFile(otherFile.c_str(), 1);
    ASSERT_NE(nullptr, second);
    EXPECT_NE(log, second);
    EXPECT_NE(std::string(log->GetFileName()), std::string(second->GetFileName()));
    second->Release();
    const std::string fileName = log->GetFileName();
    EXPECT_LE(fileName.size(), 255u);
    EXPECT_EQ(name.substr(0, fileName.size() - 19) + "_2020-01-31-0.1.log", fileName);
    errors.Finish();
}

} // namespace
