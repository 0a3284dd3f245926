// OrvexException: builds the report, logs it, asks, acts on the answer.
#include "OrvexCommon/diag/OrvexDiag.h"
#include "OrvexCommon/diag/detail/ReportText.h"
#include "OrvexCommon/log/OrvexLog.h"
#include "OrvexCommon/platform/OrvexSys.h"

#include <atomic>

namespace Orvex {

namespace {

std::atomic<GlobExceptionBoxFun> g_boxHook{nullptr};

// A host's hook answers the way an error box does: 1 OK, 3 Abort, 4 Retry,
// 5 Ignore; anything else counts as no answer.
sys::Answer AnswerOfHook(int answer) {
    switch (answer) {
    case 1:
        return sys::Answer::Ok;
    case 3:
        return sys::Answer::Abort;
    case 4:
        return sys::Answer::Retry;
    case 5:
        return sys::Answer::Ignore;
    default:
        return sys::Answer::None;
    }
}

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
    const sys::Answer answer = hook != nullptr ? AnswerOfHook(hook(report.c_str(), fatal))
                                               : sys::AskUser(report.c_str(), fatal);
    if (fatal) {
        // A fatal error must not look like success to whoever started us.
        if (answer == sys::Answer::Ok) {
            sys::EndProcess(1);
        }
        return;
    }
    switch (answer) {
    case sys::Answer::Abort:
        sys::AbortProcess();
    case sys::Answer::Retry:
        sys::BreakIntoDebugger();
        return;
    default:
        return; // Ignore, or nobody could be asked
    }
}

} // namespace Orvex
