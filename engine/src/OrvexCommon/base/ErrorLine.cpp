// The error-line writer: one pointer, constant-initialised, so that it can be
// used from any static constructor.
#include "OrvexCommon/base/detail/ErrorLine.h"

#include <atomic>
#include <cstdio>

namespace Orvex {
namespace detail {

namespace {

std::atomic<ErrorLineWriter> g_writer{nullptr};

} // namespace

void SetErrorLineWriter(ErrorLineWriter writer) {
    g_writer.store(writer);
}

void WriteErrorLine(const char* line) {
    if (ErrorLineWriter writer = g_writer.load()) {
        writer(line);
        return;
    }
    std::fputs(line, stderr);
    std::fputc('\n', stderr);
}

void ThrowErrorLine(char* line) {
    WriteErrorLine(line);
    throw line;
}

} // namespace detail
} // namespace Orvex
