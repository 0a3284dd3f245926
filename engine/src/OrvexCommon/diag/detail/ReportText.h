// The report text of OrvexException, in its own file so that it can be checked
// without asking anyone.
#ifndef ORVEX_DIAG_DETAIL_REPORTTEXT_H
#define ORVEX_DIAG_DETAIL_REPORTTEXT_H

#include "OrvexCommon/memory/detail/TextStrings.h"

namespace Orvex {
namespace detail {

// The source file as reported: 'A'-'Z' lower-cased, '\' taken as '/', and
// the text after the last '/' (the whole text when there is none). Null
// gives an empty text.
OrvexString ReportFileName(const char* file);

// The six report lines, each ended by a line feed; null arguments count as
// empty text. All narrow arguments are UTF-8.
OrvexWString BuildExceptionReport(const char* message, const char* file, const char* date,
                                  const char* time, unsigned line, const char* function);

} // namespace detail
} // namespace Orvex

#endif // ORVEX_DIAG_DETAIL_REPORTTEXT_H
