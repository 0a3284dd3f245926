// How a log names its files and when it leaves one for the next.
#ifndef ORVEX_LOG_DETAIL_LOGFILENAME_H
#define ORVEX_LOG_DETAIL_LOGFILENAME_H

#include <cstddef>
#include <cstdint>

namespace Orvex {
namespace detail {

// Bytes of a log's name field and of its composed file name, terminator
// included.
constexpr std::size_t kLogNameCapacity = 256;

// A file holding more than this many bytes is left before the next write; a
// file at exactly this size still takes one more write.
constexpr std::uint32_t kLogFileSizeLimit = 10485760u;

// A local calendar date. Two dates are equal only when year, month and day
// all are: 31 January and 31 March are different days.
struct SLogDate {
    int year;  // in full, e.g. 2020
    int month; // 1-12
    int day;   // 1-31

    bool operator==(const SLogDate& other) const {
        return year == other.year && month == other.month && day == other.day;
    }
    bool operator!=(const SLogDate& other) const { return !(*this == other); }
};

// The local date of `seconds` since 1970 UTC, daylight saving included. A
// time the platform cannot break down gives 0-0-0, the same for every such
// time, so it never causes a switch by itself.
SLogDate LocalDateOf(std::int64_t seconds);

// The seconds [start, end) during which the local date is `date`, so that a
// write can test its time against two numbers instead of breaking it down.
// Empty (both 0) when the platform cannot convert the date; every time is
// then broken down. Taken under the time zone in force when it was made.
struct SLogDay {
    std::int64_t start;
    std::int64_t end;

    bool Holds(std::int64_t seconds) const { return seconds >= start && seconds < end; }
};
SLogDay LocalDayOf(const SLogDate& date);

// Copies `name` into a name field: its first 255 bytes, zero-terminated.
void CopyLogName(char (&field)[kLogNameCapacity], const char* name);

// The longest suffix a file name gets with a four-digit year (37 bytes): the
// rotation count and the id take up to ten digits each. GetName keeps 255
// bytes of a name, but its files are named by the stem below.
constexpr std::size_t kLongestLogSuffix = sizeof("_9999-12-31-4294967295.4294967295.log") - 1;

// The bytes of `name` that reach the file system: at most 255 minus the
// longest suffix, cut at the start of a UTF-8 character. Every file of a log
// starts with them whatever its rotation and id, and two names that share
// them share their files, so logs are told apart by them.
std::size_t LogNameStemLength(const char* name);

// Composes "<stem>_<yyyy>-<mm>-<dd>-<rotation>.<logId>.log" into `out`, the
// stem being `name` cut as LogNameStemLength says (cut further should a year
// beyond four digits need the room). The date, the numbers and the extension
// always survive, and the cut text still converts to the same wide prefix.
void ComposeLogFileName(char (&out)[kLogNameCapacity], const char* name, const SLogDate& date,
                        unsigned rotation, unsigned logId);

// The length of the directories `name` starts with: the bytes before its last '/'
// ('\' does not count), 0 when there is no '/'.
std::size_t LogDirectoryLength(const char* name);

// `size` plus `added`, held at the largest value instead of wrapping.
inline std::uint32_t AddLogSize(std::uint32_t size, std::uint32_t added) {
    return added > UINT32_MAX - size ? UINT32_MAX : size + added;
}

} // namespace detail
} // namespace Orvex

#endif // ORVEX_LOG_DETAIL_LOGFILENAME_H
