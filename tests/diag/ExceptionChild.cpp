// A process that reports once and shows from outside what the answer did:
//   exception_child <mode>
// The modes with a fixed answer install a hook that gives it:
//   fatal-ok (1), fatal-none (0), abort (3), retry (4), ignore (5)
// The modes without a hook let the platform ask, with no terminal on input:
//   fatal-default, other-default
// The ask modes only put the question the platform's way and exit with the
// answer: ask-fatal, ask-other.
// Exit code after OrvexException returns: 0. Bad arguments: 20; a hook that
// saw the wrong report or fatal flag: 21.
#include "OrvexCommon/diag/OrvexDiag.h"
#include "OrvexCommon/platform/OrvexSys.h"

#include <cstdio>
#include <cstring>
#include <cwchar>

namespace {

int g_answer = 0;
bool g_fatal = false;
bool g_hookSawWrong = false;

int FixedAnswer(const wchar_t* report, bool fatal) {
    if (fatal != g_fatal || report == nullptr || std::wcsstr(report, L"child.cpp\n") == nullptr) {
        g_hookSawWrong = true;
    }
    return g_answer;
}

bool Is(const char* mode, const char* name) {
    return std::strcmp(mode, name) == 0;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        return 20;
    }
    const char* mode = argv[1];
    bool hooked = true;
    if (Is(mode, "fatal-ok")) {
        g_answer = 1, g_fatal = true;
    } else if (Is(mode, "fatal-none")) {
        g_answer = 0, g_fatal = true;
    } else if (Is(mode, "abort")) {
        g_answer = 3, g_fatal = false;
    } else if (Is(mode, "retry")) {
        g_answer = 4, g_fatal = false;
    } else if (Is(mode, "ignore")) {
        g_answer = 5, g_fatal = false;
    } else if (Is(mode, "fatal-default") || Is(mode, "ask-fatal")) {
        hooked = false, g_fatal = true;
    } else if (Is(mode, "other-default") || Is(mode, "ask-other")) {
        hooked = false, g_fatal = false;
    } else {
        return 20;
    }
    if (!hooked) {
        // Nobody may be asked even when the test runs from a terminal.
        std::fclose(stdin);
    }
    if (Is(mode, "ask-fatal") || Is(mode, "ask-other")) {
        // The answer as an error box gives it: 0 none, 1 OK, 3 Abort, 4
        // Retry, 5 Ignore.
        static const int kBoxValues[] = {0, 1, 3, 4, 5};
        return kBoxValues[static_cast<int>(Orvex::sys::AskUser(L"question\n", g_fatal))];
    }
    Orvex::SetGlobExceptionBoxFun(hooked ? &FixedAnswer : nullptr);
    Orvex::OrvexException("child report", "tests\\Child.cpp", "Jan 31 2020", "23:59:58", 7, "main",
                          g_fatal);
    return g_hookSawWrong ? 21 : 0;
}
