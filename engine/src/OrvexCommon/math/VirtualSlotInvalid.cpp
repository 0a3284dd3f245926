// The invalid-call handler.
#include "OrvexCommon/math/detail/VirtualSlotInvalid.h"
#include "OrvexCommon/log/OrvexLog.h"

#include <ostream>

namespace Orvex {
namespace detail {

namespace {

// Logged, then thrown as a char* that points at this same text.
char g_invalidCall[] = "Can not call a invalid function!";

} // namespace

void InvalidFunctionCall() {
    GetLogStream() << g_invalidCall << std::endl;
    throw static_cast<char*>(g_invalidCall);
}

} // namespace detail
} // namespace Orvex
