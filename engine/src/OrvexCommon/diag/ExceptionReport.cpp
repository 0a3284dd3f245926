// OrvexException: builds the report, logs it, asks, acts on the answer.
#include "OrvexCommon/diag/OrvexDiag.h"
#include "OrvexCommon/diag/detail/ReportText.h"
#include "OrvexCommon/log/OrvexLog.h"
#include "OrvexCommon/platform/OrvexSys.h"

#include <atomic>

namespace Orvex {

namespace {

std::atomic<GlobExceptionBoxFun> g_boxHook{nullptr};

enum Answer { kCouldNotAsk = 0, kOk = 1, kAbort = 3, kRetry = 4, kIgnore = 5 };

} // namespace

void SetGlobExceptionBoxFun(GlobExceptionBoxFun hook) {
    g_boxHook.store(hook, std::memory_order_relaxed);
}

GlobExceptionBoxFun GetGlobExceptionBoxFun() {
    return g_boxHook.load(std::memory_order_relaxed);
}

void OrvexException(const char* message, const char* file, const char* date, const char* time,
                    unsigned line, const char* function, bool fatal) {
    const OrvexWString report =
        detail::BuildExceptionReport(message, file, date, time, line, function);
    // The report ends with a line feed, so every line is delivered before
    // the question can block or end the process.
    GetLogStream() << "OrvexException: \n" << report.c_str();

    const GlobExceptionBoxFun hook = GetGlobExceptionBoxFun();
    const int answer =
        hook != nullptr ? hook(report.c_str(), fatal) : sys::AskUser(report.c_str(), fatal);
    if (fatal) {
        // A fatal error must not look like success to whoever started us.
        if (answer == kOk) {
            sys::EndProcess(1);
        }
        return;
    }
    switch (answer) {
    case kAbort:
        sys::AbortProcess();
    case kRetry:
        sys::BreakIntoDebugger();
        return;
    default:
        return; // Ignore, or nobody could be asked
    }
}

} // namespace Orvex
