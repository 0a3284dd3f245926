// A second process for the durability test:
//   log_writer_child <folder> <lines> <signal file>
// With the calendar at noon on 31 January 2020 it writes `lines` lines to the
// log <folder>/a (through WriteLog, ending in "\n") and to <folder>/b
// (through Print), flushes every log with FlushAllLog, writes "tail" to
// <folder>/a without flushing it, puts the two logs' file names, one a line,
// into <signal file> (written under another name first, so that it appears
// whole) and waits to be killed.
// Exit code: 1 bad arguments, 2 no log, 3 the signal file could not be made.
#include "LogFileTestSupport.h"

#include "OrvexCommon/log/OrvexLogFile.h"
#include "OrvexCommon/platform/OrvexSys.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <system_error>

int main(int argc, char** argv) {
    if (argc != 4) {
        return 1;
    }
    const std::string folder = argv[1];
    const int lines = std::atoi(argv[2]);
    const std::string signal = argv[3];
    OrvexTest::MovedCalendar calendar(OrvexTest::LocalTime(2020, 1, 31));

    const std::string nameA = folder + "/a";
    Orvex::ILog* logA = Orvex::GetLogFile(nameA.c_str(), 1);
    Orvex::ILog* logB = Orvex::GetLogFile((folder + "/b").c_str(), 2);
    if (logA == nullptr || logB == nullptr) {
        return 2;
    }
    for (int i = 0; i < lines; ++i) {
        const std::string line = OrvexTest::ChildLine('a', i) + "\n";
        Orvex::WriteLog(nameA.c_str(), line.data(), static_cast<unsigned>(line.size()), 1);
        logB->Print("%s", OrvexTest::ChildLine('b', i).c_str());
    }
    Orvex::FlushAllLog();
    logA->Write("tail", 4);

    const std::string pending = signal + ".tmp";
    {
        std::ofstream out(std::filesystem::u8path(pending), std::ios::binary | std::ios::trunc);
        out << logA->GetFileName() << "\n" << logB->GetFileName() << "\n";
        if (!out) {
            return 3;
        }
    }
    std::error_code error;
    std::filesystem::rename(std::filesystem::u8path(pending), std::filesystem::u8path(signal),
                            error);
    if (error) {
        return 3;
    }
    for (;;) {
        Orvex::sys::SleepMilliseconds(1000);
    }
}
