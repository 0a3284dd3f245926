// Clocks and calendar time. Every clock is a 64-bit signed count of
// milliseconds derived from the platform's monotonic millisecond counter:
//   process time  milliseconds since the library was loaded
//   game time     process time shifted by an offset; can be paused and set
//   nature time   calendar time since 1970-01-01 00:00:00 UTC, read once at
//                 load and carried forward by the counter
//   local time    nature time plus the zone offset
//
// The counter is sys::MonotonicMilliseconds() (64 bits, no wrap) minus the
// start tick built at load. Readers take no lock (the shared values are
// atomics); pausing, setting and re-basing take the game-clock lock. Calendar
// work goes through sys::BreakDownUtc (gmtime_r, _gmtime64_s) and
// sys::LocalFieldsToSeconds (mktime, _mktime64; daylight saving is left to
// the platform). Under Wine the C runtime reads the TZ variable as Linux
// does, so the tests fix the zone the same way on both targets.
#ifndef ORVEX_TIME_ORVEXCLOCK_H
#define ORVEX_TIME_ORVEXCLOCK_H

#include "OrvexCommon/base/OrvexExport.h"

#include <ctime>

namespace Orvex {

// A broken-down calendar time (from a UTC conversion, so isDst is 0).
struct STime {
    int second;  // 0-59
    int minute;  // 0-59
    int hour;    // 0-23
    int day;     // day of the month, 1-31
    int month;   // 1-12
    int year;    // in full, e.g. 2020
    int weekDay; // 0 = Sunday ... 6 = Saturday
    int yearDay; // 1-366
    int isDst;   // daylight-saving flag of the conversion
};

ORVEX_API long long GetProcessTime();

// Game time: frozen while paused, resumes from the frozen value.
ORVEX_API long long GetOrvexTime();
ORVEX_API void PauseOrvexTime(bool pause);
ORVEX_API bool IsPauseOrvexTime();
ORVEX_API void SetOrvexTime(long long time);

// The platform's standard-time zone offset in ms, computed afresh; positive
// east of Greenwich.
ORVEX_API long long GetZoneTime();
// Re-bases nature time so that it reads `nature` now, and sets the zone offset.
ORVEX_API void SetNatureTime(long long nature, long long zone);
ORVEX_API long long GetProcessStartNatureTime();
ORVEX_API long long GetNatureTime();
ORVEX_API long long GetLocalTime();
ORVEX_API long long NatureTime2LocalTime(long long time);
ORVEX_API long long LocalTime2NatureTime(long long time);

// Local time broken down. A time the platform cannot break down (before 1970
// on Windows, for example) gives a record of zeros.
ORVEX_API STime GetFormatTimeSTM();
ORVEX_API void GetFormatTimeSTM(STime& out);
ORVEX_API std::tm GetFormatTimeTM();
ORVEX_API STime GetFormatTimeSTMFromMillisecond(long long milliseconds, bool local);

// Seconds since Monday 00:00:00 local time of the week holding the nature
// time `milliseconds` (0 when it cannot be broken down).
ORVEX_API unsigned int GetOffSetTime(unsigned long long milliseconds);

// Nature time in ms of a local wall-clock time, or -1 when the platform cannot
// convert it.
ORVEX_API long long Format2NatureTime(unsigned int year, unsigned int month, unsigned int day,
                                      unsigned int hour, unsigned int minute, unsigned int second,
                                      unsigned int millisecond);
// Local time in seconds of a local wall-clock time; 0 when it cannot be
// converted or would be negative.
ORVEX_API unsigned int Format2LocalTime(unsigned int year, unsigned int month, unsigned int day,
                                        unsigned int hour, unsigned int minute,
                                        unsigned int second);

// Date texts of fourteen digits, YYYYMMDDhhmmss; missing trailing fields read
// as 0. Str2Time gives nature time in seconds (0 on failure), Str2LocalTime
// local time in seconds.
ORVEX_API unsigned int Str2Time(const char* text);
ORVEX_API unsigned int Str2LocalTime(const char* text);

} // namespace Orvex

#endif // ORVEX_TIME_ORVEXCLOCK_H
