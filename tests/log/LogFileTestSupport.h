// Scratch folders, file contents and a moved calendar for the log-file tests.
#ifndef ORVEX_TESTS_LOG_LOGFILETESTSUPPORT_H
#define ORVEX_TESTS_LOG_LOGFILETESTSUPPORT_H

#include "../support/OrvexScratch.h"
#include "OrvexCommon/log/OrvexLogFile.h"
#include "OrvexCommon/platform/OrvexSys.h"

#include <cstdint>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace OrvexTest {

constexpr std::uint32_t kSizeLimit = 10485760u;

// Seconds since 1970 UTC of a local wall-clock time.
inline std::int64_t LocalTime(int year, int month, int day, int hour = 12, int minute = 0) {
    std::tm fields = {};
    fields.tm_year = year - 1900;
    fields.tm_mon = month - 1;
    fields.tm_mday = day;
    fields.tm_hour = hour;
    fields.tm_min = minute;
    fields.tm_isdst = -1;
    return Orvex::sys::LocalFieldsToSeconds(fields);
}

// Takes the calendar the library reads to a chosen time (it runs on from
// there) and gives the real one back at the end of the scope.
class MovedCalendar {
public:
    MovedCalendar() = default;
    explicit MovedCalendar(std::int64_t seconds) { MoveTo(seconds); }
    ~MovedCalendar() { Orvex::sys::SetCalendarShift(0); }
    MovedCalendar(const MovedCalendar&) = delete;
    MovedCalendar& operator=(const MovedCalendar&) = delete;

    void MoveTo(std::int64_t seconds) {
        Orvex::sys::SetCalendarShift(0);
        Orvex::sys::SetCalendarShift(seconds - Orvex::sys::CalendarSeconds());
    }
};

inline std::string ReadWhole(const std::string& path) {
    std::ifstream in(std::filesystem::u8path(path), std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

inline std::uintmax_t SizeOf(const std::string& path) {
    std::error_code error;
    const std::uintmax_t size = std::filesystem::file_size(std::filesystem::u8path(path), error);
    return error ? 0 : size;
}

inline bool Exists(const std::string& path) {
    std::error_code error;
    return std::filesystem::exists(std::filesystem::u8path(path), error);
}

// A file of `size` bytes: `text` at its end, zeros before it.
inline void MakeFile(const std::string& path, std::uintmax_t size, const std::string& text = "") {
    const std::filesystem::path file = std::filesystem::u8path(path);
    { std::ofstream out(file, std::ios::binary | std::ios::trunc); }
    std::filesystem::resize_file(file, size - text.size());
    std::ofstream out(file, std::ios::binary | std::ios::app);
    out.write(text.data(), static_cast<std::streamsize>(text.size()));
}

// A folder of its own for one test, relative to the working directory, and
// the logs made in it: the logs are released before the folder goes, so no
// file is open when it is removed.
class ScratchLogs {
public:
    explicit ScratchLogs(const std::string& tag)
        : m_folder("oxlog_" + tag), m_scratch(std::filesystem::u8path(m_folder)) {}
    ~ScratchLogs() {
        for (Orvex::ILog* log : m_logs) {
            log->Release();
        }
    }
    ScratchLogs(const ScratchLogs&) = delete;
    ScratchLogs& operator=(const ScratchLogs&) = delete;

    const std::string& Folder() const { return m_folder; }
    // "<folder>/<name>".
    std::string Path(const std::string& name) const { return m_folder + "/" + name; }

    // The log named Path(name), released at the end.
    Orvex::ILog* Log(const std::string& name, unsigned logId) {
        Orvex::ILog* log = Orvex::GetLogFile(Path(name).c_str(), logId);
        if (log != nullptr && Track(log)) {
            m_logs.push_back(log);
        }
        return log;
    }

    // Stops releasing `log` at the end (the test released it itself).
    void Forget(Orvex::ILog* log) {
        for (auto at = m_logs.begin(); at != m_logs.end(); ++at) {
            if (*at == log) {
                m_logs.erase(at);
                return;
            }
        }
    }

private:
    bool Track(Orvex::ILog* log) const {
        for (Orvex::ILog* known : m_logs) {
            if (known == log) {
                return false;
            }
        }
        return true;
    }

    std::string m_folder;
    ScratchFolder m_scratch; // after the name, and gone after the logs are released
    std::vector<Orvex::ILog*> m_logs;
};

// Text line `index` of the durability test's helper for its log `log`.
inline std::string ChildLine(char log, int index) {
    return std::string("line ") + log + " " + std::to_string(index) + " " +
           std::string(static_cast<std::size_t>(20 + index % 50), log);
}

} // namespace OrvexTest

#endif // ORVEX_TESTS_LOG_LOGFILETESTSUPPORT_H
