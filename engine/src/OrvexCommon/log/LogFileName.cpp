// The names of log files and the calendar date that decides a switch.
#include "OrvexCommon/log/detail/LogFileName.h"
#include "OrvexCommon/platform/OrvexSys.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace Orvex {
namespace detail {

namespace {

bool IsUtf8Continuation(char byte) {
    return (static_cast<unsigned char>(byte) & 0xC0u) == 0x80u;
}

// The length of `name` cut to `room` bytes at the start of a UTF-8 character.
std::size_t CutAtCharacter(const char* name, std::size_t room) {
    std::size_t keep = name == nullptr ? 0 : strnlen(name, kLogNameCapacity);
    if (keep > room) {
        keep = room;
        // name[keep] is the first byte cut off: when it continues a character,
        // that character is dropped whole.
        while (keep > 0 && IsUtf8Continuation(name[keep])) {
            --keep;
        }
    }
    return keep;
}

} // namespace

SLogDate LocalDateOf(std::int64_t seconds) {
    std::tm fields = {};
    if (!sys::BreakDownLocal(seconds, fields)) {
        return SLogDate{0, 0, 0};
    }
    return SLogDate{fields.tm_year + 1900, fields.tm_mon + 1, fields.tm_mday};
}

SLogDay LocalDayOf(const SLogDate& date) {
    if (date.year == 0) {
        return SLogDay{0, 0};
    }
    // Local midnight of the date and of the day after (day 32 of a month is
    // carried into the next one); daylight saving left to the system.
    std::tm fields = {};
    fields.tm_year = date.year - 1900;
    fields.tm_mon = date.month - 1;
    fields.tm_mday = date.day;
    fields.tm_isdst = -1;
    std::tm next = fields;
    next.tm_mday += 1;
    const std::int64_t start = sys::LocalFieldsToSeconds(fields);
    const std::int64_t end = sys::LocalFieldsToSeconds(next);
    if (start == -1 || end == -1 || end <= start) {
        return SLogDay{0, 0};
    }
    return SLogDay{start, end};
}

void CopyLogName(char (&field)[kLogNameCapacity], const char* name) {
    const std::size_t length = name == nullptr ? 0 : strnlen(name, kLogNameCapacity - 1);
    if (length != 0) {
        std::memcpy(field, name, length);
    }
    field[length] = '\0';
}

void ComposeLogFileName(char (&out)[kLogNameCapacity], const char* name, const SLogDate& date,
                        unsigned rotation, unsigned logId) {
    // The ids and rotation counts are unsigned: printed as such, an id of
    // 2^31 or more keeps its value instead of turning negative.
    char suffix[80];
    const int suffixLength = std::snprintf(suffix, sizeof(suffix), "_%4d-%02d-%02d-%u.%u.log",
                                           date.year, date.month, date.day, rotation, logId);
    const std::size_t tail =
        suffixLength < 0 ? 0 : std::min(static_cast<std::size_t>(suffixLength), sizeof(suffix) - 1);
    // The stem, unless a year beyond four digits leaves less room still.
    const std::size_t room = kLogNameCapacity - 1 - std::max(tail, kLongestLogSuffix);
    const std::size_t keep = CutAtCharacter(name, room);
    if (keep != 0) {
        std::memcpy(out, name, keep);
    }
    std::memcpy(out + keep, suffix, tail);
    out[keep + tail] = '\0';
}

std::size_t LogNameStemLength(const char* name) {
    return CutAtCharacter(name, kLogNameCapacity - 1 - kLongestLogSuffix);
}

std::size_t LogDirectoryLength(const char* name) {
    const char* slash = name == nullptr ? nullptr : std::strrchr(name, '/');
    return slash == nullptr ? 0 : static_cast<std::size_t>(slash - name);
}

} // namespace detail
} // namespace Orvex
