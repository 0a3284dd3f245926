// The six-line report of OrvexException.
#include "OrvexCommon/diag/detail/ReportText.h"

namespace Orvex {
namespace detail {

namespace {

void AppendLine(OrvexWString& report, const char* utf8) {
    if (utf8 != nullptr) {
        report += Utf8ToWideString(utf8);
    }
    report += L'\n';
}

} // namespace

OrvexString ReportFileName(const char* file) {
    OrvexString name(file != nullptr ? file : "");
    std::size_t start = 0;
    for (std::size_t i = 0; i < name.size(); ++i) {
        char& c = name[i];
        if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c - 'A' + 'a');
        } else if (c == '\\') {
            c = '/';
        }
        if (c == '/') {
            start = i + 1;
        }
    }
    return name.substr(start);
}

OrvexWString BuildExceptionReport(const char* message, const char* file, const char* date,
                                  const char* time, unsigned line, const char* function) {
    // Decimal by hand: the report must not depend on the C locale.
    char number[16];
    char* digits = number + sizeof(number);
    *--digits = '\0';
    do {
        *--digits = static_cast<char>('0' + line % 10);
        line /= 10;
    } while (line != 0);
    const OrvexString lineText = OrvexString("Line:") + digits;

    OrvexWString report;
    AppendLine(report, message);
    AppendLine(report, ReportFileName(file).c_str());
    AppendLine(report, date);
    AppendLine(report, time);
    AppendLine(report, lineText.c_str());
    AppendLine(report, function);
    return report;
}

} // namespace detail
} // namespace Orvex
