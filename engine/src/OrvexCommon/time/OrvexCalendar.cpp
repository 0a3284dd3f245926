// Calendar conversions: break-downs, the week offset, building times from
// fields and parsing date texts.
#include "OrvexCommon/text/OrvexText.h"
#include "OrvexCommon/time/OrvexClock.h"
#include "OrvexCommon/time/detail/ClockState.h"

#include <cstring>

namespace Orvex {

namespace {

// Breaks milliseconds down as UTC (seconds by signed division truncating
// toward zero). A time the platform cannot break down leaves zeros.
bool BreakDown(long long milliseconds, std::tm& fields) {
    if (sys::BreakDownUtc(milliseconds / 1000, fields)) {
        return true;
    }
    fields = std::tm();
    return false;
}

STime BreakDownToSTime(long long milliseconds) {
    std::tm fields;
    if (!BreakDown(milliseconds, fields)) {
        return STime();
    }
    return STime{fields.tm_sec,  fields.tm_min,      fields.tm_hour,
                 fields.tm_mday, fields.tm_mon + 1,  fields.tm_year + 1900,
                 fields.tm_wday, fields.tm_yday + 1, fields.tm_isdst};
}

// Local wall-clock fields to seconds since the epoch; the platform decides on
// daylight saving. -1 when it cannot convert them.
long long LocalFieldsToSeconds(unsigned year, unsigned month, unsigned day, unsigned hour,
                               unsigned minute, unsigned second) {
    std::tm fields = {};
    fields.tm_sec = static_cast<int>(second);
    fields.tm_min = static_cast<int>(minute);
    fields.tm_hour = static_cast<int>(hour);
    fields.tm_mday = static_cast<int>(day);
    fields.tm_mon = static_cast<int>(month) - 1;
    fields.tm_year = static_cast<int>(year) - 1900;
    fields.tm_isdst = -1;
    return sys::LocalFieldsToSeconds(fields);
}

struct SDateFields {
    unsigned year, month, day, hour, minute, second;
};

// Fourteen digits YYYYMMDDhhmmss, read from the back: each field is parsed
// and then cut off, so a short text leaves the later fields at 0.
SDateFields ParseDate(const char* text) {
    char buffer[129] = {};
    if (text != nullptr) {
        std::strncpy(buffer, text, 128);
    }
    const unsigned starts[] = {12, 10, 8, 6, 4, 0};
    unsigned values[6];
    for (unsigned k = 0; k < 6; ++k) {
        values[k] = static_cast<unsigned>(OrvexA2I(buffer + starts[k]));
        buffer[starts[k]] = '\0';
    }
    return SDateFields{values[5], values[4], values[3], values[2], values[1], values[0]};
}

} // namespace

STime GetFormatTimeSTM() {
    return BreakDownToSTime(GetLocalTime());
}

void GetFormatTimeSTM(STime& out) {
    out = GetFormatTimeSTM();
}

std::tm GetFormatTimeTM() {
    std::tm fields;
    BreakDown(GetLocalTime(), fields);
    return fields;
}

STime GetFormatTimeSTMFromMillisecond(long long milliseconds, bool local) {
    return BreakDownToSTime(local ? NatureTime2LocalTime(milliseconds) : milliseconds);
}

unsigned int GetOffSetTime(unsigned long long milliseconds) {
    std::tm fields;
    // The zeros of a failed break-down read as Sunday: not a week offset.
    if (!BreakDown(NatureTime2LocalTime(static_cast<long long>(milliseconds)), fields)) {
        return 0;
    }
    const int mondayBased = fields.tm_wday == 0 ? 6 : fields.tm_wday - 1;
    return static_cast<unsigned>(fields.tm_sec + 60 * fields.tm_min + 3600 * fields.tm_hour +
                                 86400 * mondayBased);
}

long long Format2NatureTime(unsigned int year, unsigned int month, unsigned int day,
                            unsigned int hour, unsigned int minute, unsigned int second,
                            unsigned int millisecond) {
    const long long seconds = LocalFieldsToSeconds(year, month, day, hour, minute, second);
    if (seconds < 0) {
        return -1;
    }
    return seconds * 1000 + millisecond;
}

unsigned int Format2LocalTime(unsigned int year, unsigned int month, unsigned int day,
                              unsigned int hour, unsigned int minute, unsigned int second) {
    const long long seconds = LocalFieldsToSeconds(year, month, day, hour, minute, second);
    if (seconds == -1) {
        return 0; // not convertible: not "the zone offset minus one second"
    }
    const long long local = seconds + detail::ZoneOffset().load() / 1000;
    return local < 0 ? 0u : static_cast<unsigned>(local);
}

unsigned int Str2Time(const char* text) {
    const SDateFields date = ParseDate(text);
    const long long nature =
        Format2NatureTime(date.year, date.month, date.day, date.hour, date.minute, date.second, 0);
    return static_cast<unsigned>(nature / 1000);
}

unsigned int Str2LocalTime(const char* text) {
    const SDateFields date = ParseDate(text);
    return Format2LocalTime(date.year, date.month, date.day, date.hour, date.minute, date.second);
}

} // namespace Orvex
