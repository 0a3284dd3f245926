// The user's question on POSIX: a prompt on the terminal when someone sits at
// one, the configured default otherwise. Ending the process skips exit
// handlers, since the caller may be in a state where they cannot run safely.
#include "OrvexCommon/platform/OrvexSys.h"
#include "OrvexCommon/text/OrvexText.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <unistd.h>

namespace Orvex {
namespace sys {

namespace {

void WriteError(const char* text, std::size_t length) {
    while (length > 0) {
        const ssize_t written = write(STDERR_FILENO, text, length);
        if (written < 0) {
            if (errno == EINTR) {
                continue;
            }
            return;
        }
        text += written;
        length -= static_cast<std::size_t>(written);
    }
}

void WriteError(const char* text) {
    WriteError(text, std::strlen(text));
}

// The first non-blank character of the next input line, ' ' for an empty
// line, 0 when input has ended or failed.
char ReadAnswer() {
    char first = 0;
    for (;;) {
        char c = 0;
        const ssize_t got = read(STDIN_FILENO, &c, 1);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got <= 0) {
            return 0;
        }
        if (c == '\n') {
            return first != 0 ? first : ' ';
        }
        if (first == 0 && c != ' ' && c != '\t' && c != '\r') {
            first = c;
        }
    }
}

// The report as UTF-8, in pieces of a buffer of its own: no memory is asked
// for, so the question can be put whatever state the pool is in.
void WriteReport(const wchar_t* report) {
    char piece[1024];
    wchar_t units[256];
    for (const wchar_t* at = report; *at != 0;) {
        std::size_t count = 0;
        while (count + 1 < sizeof(units) / sizeof(units[0]) && at[count] != 0) {
            units[count] = at[count];
            ++count;
        }
        units[count] = 0;
        const unsigned written = UcsToUtf8(units, piece, sizeof(piece));
        WriteError(piece, written > 0 ? written - 1 : 0);
        at += count;
    }
}

} // namespace

Answer AskUser(const wchar_t* report, bool fatal) {
    const Answer byDefault = fatal ? Answer::Ok : Answer::Ignore;
    if (isatty(STDIN_FILENO) != 1 || isatty(STDERR_FILENO) != 1) {
        return byDefault;
    }
    WriteError("\nException\n");
    WriteReport(report != nullptr ? report : L"");
    for (;;) {
        WriteError(fatal ? "Press Enter to end the process. " : "[A]bort, [R]etry, [I]gnore? ");
        const char answer = ReadAnswer();
        if (answer == 0) {
            return byDefault; // input ended: nobody is there to answer
        }
        if (fatal) {
            return Answer::Ok;
        }
        switch (answer) {
        case 'a':
        case 'A':
            return Answer::Abort;
        case 'r':
        case 'R':
            return Answer::Retry;
        case 'i':
        case 'I':
            return Answer::Ignore;
        default:
            break; // ask again
        }
    }
}

void EndProcess(int code) {
    // The library's own streams write straight to their descriptors; only
    // the host's buffered stdio output could still be waiting.
    std::fflush(nullptr);
    _exit(code);
}

void AbortProcess() {
    std::abort();
}

void BreakIntoDebugger() {
    std::raise(SIGTRAP);
}

} // namespace sys
} // namespace Orvex
