// Dumps written by DebugGenMiniDump: from the crash handler of a child that
// faults, and from an ordinary call. Where dumps are ELF cores, gdb must open
// them with their program and show the stack.
#include "CrashHandler.h"
#include "MinidumpReader.h"
#include "OrvexCommon/diag/OrvexStack.h"
#include "OrvexTestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

namespace {

constexpr int kDumpWritten = 42; // the crash child's exit code after its dump

// The file's bytes, in one read (dumps run to tens of megabytes under the
// sanitizers); "" when it cannot be read.
std::string ReadWholeFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary | std::ios::ate);
    if (!in) {
        return std::string();
    }
    std::string bytes(static_cast<std::size_t>(in.tellg()), '\0');
    in.seekg(0);
    in.read(&bytes[0], static_cast<std::streamsize>(bytes.size()));
    return in ? bytes : std::string();
}

std::wstring Wide(const std::string& ascii) {
    return std::wstring(ascii.begin(), ascii.end());
}

// The line of frame `number` ("#0  ...") in gdb's backtrace, or "".
std::string FrameLine(const std::string& backtrace, int number) {
    const std::string mark = "\n#" + std::to_string(number) + " ";
    const std::size_t at = ("\n" + backtrace).find(mark);
    if (at == std::string::npos) {
        return std::string();
    }
    const std::size_t end = backtrace.find('\n', at);
    return backtrace.substr(at, end == std::string::npos ? std::string::npos : end - at);
}

void ExpectDumpHeader(const std::string& dump) {
    const std::string magic = OrvexTest::DumpMagic();
    ASSERT_GE(dump.size(), 64u);
    EXPECT_EQ(magic, dump.substr(0, magic.size()));
    if (OrvexTest::DumpsOpenInGdb()) {
        // 64-bit, little-endian, ET_CORE (4), x86-64 (62).
        EXPECT_EQ(2, dump[4]);
        EXPECT_EQ(1, dump[5]);
        EXPECT_EQ(4, dump[16] | dump[17] << 8);
        EXPECT_EQ(62, dump[18] | dump[19] << 8);
    }
}

constexpr unsigned kAccessViolation = 0xC0000005u;

// A minidump's exception stream names the thread that faulted (`threadId`,
// when known), with the access violation of a write through null, and the
// thread list holds that thread.
void ExpectMinidumpNamesTheFault(const std::string& dump, unsigned threadId) {
    const OrvexTest::MinidumpFault fault = OrvexTest::ReadMinidumpFault(dump);
    ASSERT_TRUE(fault.hasException);
    EXPECT_EQ(kAccessViolation, fault.code);
    EXPECT_EQ(0u, fault.faultAddress);
    if (threadId != 0) {
        EXPECT_EQ(threadId, fault.threadId);
    }
    EXPECT_NE(fault.threads.end(),
              std::find(fault.threads.begin(), fault.threads.end(), fault.threadId));
}

// The id the crash child wrote beside the dump for the thread that faulted.
unsigned FaultingThreadOf(const std::string& dumpPath) {
    const std::string text = ReadWholeFile(dumpPath + ".thread");
    std::remove((dumpPath + ".thread").c_str());
    return static_cast<unsigned>(std::strtoul(text.c_str(), nullptr, 10));
}

class CrashDump : public ::testing::Test {
protected:
    void TearDown() override {
        for (const std::string& path : m_files) {
            std::remove(path.c_str());
        }
    }

    std::string FileName(const std::string& name) {
        const std::string path = "crash_dump_test_" + name + ".dmp";
        std::remove(path.c_str());
        m_files.push_back(path);
        return path;
    }

    static std::string CrashChild(const std::string& dump, const char* mode,
                                  const char* where = nullptr) {
        std::vector<std::string> args = {dump, mode};
        if (where != nullptr) {
            args.push_back(where);
        }
        EXPECT_EQ(kDumpWritten, OrvexTest::RunProcess(ORVEX_CRASH_CHILD, args));
        return ReadWholeFile(dump);
    }

private:
    std::vector<std::string> m_files;
};

TEST_F(CrashDump, AFaultIsDumpedWithTheFaultingStack) {
    const std::string path = FileName("normal");
    const std::string dump = CrashChild(path, "normal");
    ExpectDumpHeader(dump);
    const unsigned faulting = FaultingThreadOf(path);
    EXPECT_NE(0u, faulting);
    if (!OrvexTest::DumpsOpenInGdb()) {
        ExpectMinidumpNamesTheFault(dump, faulting);
        return;
    }
    const OrvexTest::DebuggerRun gdb = OrvexTest::RunGdbBacktrace(ORVEX_CRASH_CHILD, path);
    ASSERT_EQ(0, gdb.exitCode) << "gdb must be installed to check dumps\n" << gdb.text;
    EXPECT_NE(std::string::npos, gdb.text.find("Program terminated with signal SIGSEGV"))
        << gdb.text;
    // The registers are the fault's, not the handler's: the faulting function
    // is the innermost frame and its callers follow.
    EXPECT_NE(std::string::npos, FrameLine(gdb.text, 0).find("OrvexCrashChildFaultsHere"))
        << gdb.text;
    EXPECT_NE(std::string::npos, FrameLine(gdb.text, 1).find("OrvexCrashChildCallsTheFault"))
        << gdb.text;
    EXPECT_NE(std::string::npos, FrameLine(gdb.text, 2).find("main")) << gdb.text;
}

TEST_F(CrashDump, AFaultOnAnotherThreadShowsThatThreadsStack) {
    const std::string path = FileName("thread");
    const std::string dump = CrashChild(path, "normal", "thread");
    ExpectDumpHeader(dump);
    const unsigned faulting = FaultingThreadOf(path);
    EXPECT_NE(0u, faulting);
    EXPECT_NE(OrvexTest::CurrentThreadId(), faulting);
    if (!OrvexTest::DumpsOpenInGdb()) {
        ExpectMinidumpNamesTheFault(dump, faulting);
        return;
    }
    // That stack is not the main one: the dump finds it by the stack pointer.
    const OrvexTest::DebuggerRun gdb = OrvexTest::RunGdbBacktrace(ORVEX_CRASH_CHILD, path);
    ASSERT_EQ(0, gdb.exitCode) << gdb.text;
    EXPECT_NE(std::string::npos, FrameLine(gdb.text, 0).find("OrvexCrashChildFaultsHere"))
        << gdb.text;
    EXPECT_NE(std::string::npos, FrameLine(gdb.text, 1).find("OrvexCrashChildCallsTheFault"))
        << gdb.text;
}

#ifdef ORVEX_CRASH_EXAMPLE
// The crash example as a user runs it: it reports, exits with 3 and leaves a
// dump that shows where it crashed.
TEST_F(CrashDump, TheCrashExampleLeavesADumpOfItsCrash) {
    const std::string path = FileName("example");
    EXPECT_EQ(3, OrvexTest::RunProcess(ORVEX_CRASH_EXAMPLE, {path}));
    const std::string dump = ReadWholeFile(path);
    ExpectDumpHeader(dump);
    if (!OrvexTest::DumpsOpenInGdb()) {
        ExpectMinidumpNamesTheFault(dump, 0);
        return;
    }
    const OrvexTest::DebuggerRun gdb = OrvexTest::RunGdbBacktrace(ORVEX_CRASH_EXAMPLE, path);
    ASSERT_EQ(0, gdb.exitCode) << gdb.text;
    EXPECT_NE(std::string::npos, FrameLine(gdb.text, 0).find("CrashInsideThisFunction"))
        << gdb.text;
}
#endif

TEST_F(CrashDump, FullMemoryHoldsMoreThanNormal) {
    const std::string normalPath = FileName("normal");
    const std::string fullPath = FileName("full");
    const std::string normal = CrashChild(normalPath, "normal");
    const std::string full = CrashChild(fullPath, "full");
    ExpectDumpHeader(full);
    EXPECT_GT(full.size(), normal.size());
    if (OrvexTest::DumpsOpenInGdb()) {
        const OrvexTest::DebuggerRun gdb = OrvexTest::RunGdbBacktrace(ORVEX_CRASH_CHILD, fullPath);
        ASSERT_EQ(0, gdb.exitCode) << gdb.text;
        EXPECT_NE(std::string::npos, FrameLine(gdb.text, 0).find("OrvexCrashChildFaultsHere"))
            << gdb.text;
    }
}

// Kept out of line so that it is a frame of its own in the dump.
__attribute__((noinline)) void DumpWithoutAFaultFromHere(const std::string& path) {
    Orvex::DebugGenMiniDump(nullptr, Wide(path).c_str(), false);
}

TEST_F(CrashDump, WithoutAFaultTheDumpShowsTheCaller) {
    const std::string path = FileName("call");
    DumpWithoutAFaultFromHere(path);
    ExpectDumpHeader(ReadWholeFile(path));
    if (OrvexTest::DumpsOpenInGdb()) {
        const OrvexTest::DebuggerRun gdb = OrvexTest::RunGdbBacktrace(ORVEX_CRASH_DUMP_TESTS, path);
        ASSERT_EQ(0, gdb.exitCode) << gdb.text;
        EXPECT_NE(std::string::npos, gdb.text.find("DumpWithoutAFaultFromHere")) << gdb.text;
        EXPECT_NE(std::string::npos, gdb.text.find("WithoutAFaultTheDumpShowsTheCaller"))
            << gdb.text;
    }
}

TEST_F(CrashDump, AnExistingLongerFileIsOverwrittenFromItsStartNotTruncated) {
    const std::string path = FileName("reused");
    DumpWithoutAFaultFromHere(path);
    const std::size_t dumpSize = ReadWholeFile(path).size();
    ASSERT_GT(dumpSize, 0u);

    // Twice the dump's size: a later dump of the same kind fits well inside.
    const std::string filler(2 * dumpSize + 4096, '\xA5');
    {
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out << filler;
    }
    DumpWithoutAFaultFromHere(path);
    const std::string reused = ReadWholeFile(path);
    ASSERT_EQ(filler.size(), reused.size());
    ExpectDumpHeader(reused);
    EXPECT_EQ(filler.substr(filler.size() - 4096), reused.substr(reused.size() - 4096));
}

// A disk that fills up while the dump is written: the call returns, the
// process carries on, and the file holds no more than the disk took.
TEST_F(CrashDump, AFullDiskCutsTheDumpWithoutHarm) {
    const std::string path = FileName("full-disk");
    constexpr std::uint64_t kRoom = 64 * 1024;
    {
        OrvexTest::FileSizeLimit limit(kRoom);
        if (!limit.IsActive()) {
            GTEST_SKIP() << "this platform cannot limit a file's size";
        }
        DumpWithoutAFaultFromHere(path);
    }
    EXPECT_LE(ReadWholeFile(path).size(), kRoom);
    const std::string again = FileName("after-full-disk");
    DumpWithoutAFaultFromHere(again);
    ExpectDumpHeader(ReadWholeFile(again));
}

TEST_F(CrashDump, AFileThatCannotBeCreatedIsPassedOver) {
    const std::string path = "crash_dump_test_no_such_folder/dump.dmp";
    DumpWithoutAFaultFromHere(path);
    EXPECT_TRUE(ReadWholeFile(path).empty());
    Orvex::DebugGenMiniDump(nullptr, nullptr, false);
    Orvex::DebugGenMiniDump(nullptr, L"", true);
}

} // namespace
