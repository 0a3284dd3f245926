// A process that creates the same profile label twice:
//   profile_child <answer> <output file>
// <answer> is what the fatal report's question gets: "ok" (1) or "none" (0,
// nobody could be asked). Every line of the log and error streams is appended
// to the output file as it is finished, tagged "log: " or "err: ", so the
// order of the two streams survives however the process ends.
// Exit codes of its own: 20 bad arguments or no output file, 21 the second
// CreateProfile returned, 22 the first one failed.
#include "OrvexCommon/diag/OrvexDiag.h"
#include "OrvexCommon/diag/OrvexProfile.h"
#include "OrvexCommon/log/OrvexLog.h"

#include <cstdio>
#include <cstring>

namespace {

std::FILE* g_output = nullptr;
int g_answer = 0;

void Append(const char* tag, const char* text, unsigned length) {
    std::fputs(tag, g_output);
    std::fwrite(text, 1, length, g_output);
    std::fflush(g_output); // the process may end without exit handlers
}

void KeepLog(const char* text, unsigned length) {
    Append("log: ", text, length);
}

void KeepErr(const char* text, unsigned length) {
    Append("err: ", text, length);
}

int Answer(const wchar_t*, bool) {
    return g_answer;
}

const char kLabel[] = "child site";

} // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        return 20;
    }
    if (std::strcmp(argv[1], "ok") == 0) {
        g_answer = 1;
    } else if (std::strcmp(argv[1], "none") != 0) {
        return 20;
    }
    g_output = std::fopen(argv[2], "wb");
    if (g_output == nullptr) {
        return 20;
    }
    Orvex::SetGlobLogFun(&KeepLog);
    Orvex::SetGlobErrFun(&KeepErr);
    Orvex::SetGlobExceptionBoxFun(&Answer);
    Orvex::IProfileMgr& manager = Orvex::GetProfileMgr();
    if (manager.CreateProfile(__FILE__, __LINE__, "main", kLabel, 0) == nullptr) {
        return 22;
    }
    manager.CreateProfile(__FILE__, __LINE__, "main", kLabel, 0);
    return 21;
}
