// The trace-event file of a recording.
#include "OrvexCommon/diag/detail/ProfileTraceJson.h"

#include <algorithm>
#include <cstdarg>
#include <cstring>

namespace Orvex {
namespace detail {

namespace {

// Writes through the stream's own buffer and remembers whether any write
// failed, so that the callers need not check each one.
class CJsonOut {
public:
    explicit CJsonOut(std::FILE* file) : m_file(file), m_failed(false) {}

    void Text(const char* text, std::size_t length) {
        if (!m_failed && std::fwrite(text, 1, length, m_file) != length) {
            m_failed = true;
        }
    }
    void Text(const char* text) { Text(text, std::strlen(text)); }
    void Format(const char* format, ...) __attribute__((format(printf, 2, 3)));
    // A JSON string with its quotes.
    void String(const char* text);
    // Decimal digits (the runtimes' printf differ in their 64-bit forms).
    void Decimal(std::uint64_t value);
    // Nanoseconds as microseconds with three decimals.
    void Microseconds(std::int64_t nanoseconds);

    bool Failed() const { return m_failed; }

private:
    std::FILE* m_file;
    bool m_failed;
};

void CJsonOut::Format(const char* format, ...) {
    char line[160];
    va_list args;
    va_start(args, format);
    const int length = std::vsnprintf(line, sizeof(line), format, args);
    va_end(args);
    if (length < 0 || static_cast<std::size_t>(length) >= sizeof(line)) {
        m_failed = true;
        return;
    }
    Text(line, static_cast<std::size_t>(length));
}

// Length of the well-formed UTF-8 sequence at `text` (RFC 3629: no overlong
// form, no surrogate, nothing above U+10FFFF), 0 when there is none.
unsigned WellFormedLength(const unsigned char* text) {
    const unsigned lead = text[0];
    if (lead < 0x80) {
        return 1;
    }
    unsigned length;
    unsigned low = 0x80, high = 0xBF; // the second byte's range
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        low = lead == 0xE0 ? 0xA0 : 0x80;
        high = lead == 0xED ? 0x9F : 0xBF;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        low = lead == 0xF0 ? 0x90 : 0x80;
        high = lead == 0xF4 ? 0x8F : 0xBF;
    } else {
        return 0;
    }
    if (text[1] < low || text[1] > high) {
        return 0; // the terminator fails here too, so nothing past it is read
    }
    for (unsigned k = 2; k < length; ++k) {
        if ((text[k] & 0xC0u) != 0x80u) {
            return 0;
        }
    }
    return length;
}

void CJsonOut::String(const char* text) {
    Text("\"", 1);
    const auto* bytes = reinterpret_cast<const unsigned char*>(text != nullptr ? text : "");
    while (*bytes != 0) {
        const unsigned length = WellFormedLength(bytes);
        if (length == 0) {
            Text("\\ufffd");
            ++bytes;
            continue;
        }
        const unsigned byte = *bytes;
        if (byte == '"' || byte == '\\') {
            const char escaped[2] = {'\\', static_cast<char>(byte)};
            Text(escaped, 2);
        } else if (byte < 0x20) {
            Format("\\u%04x", byte);
        } else {
            Text(reinterpret_cast<const char*>(bytes), length);
        }
        bytes += length;
    }
    Text("\"", 1);
}

void CJsonOut::Decimal(std::uint64_t value) {
    char digits[20];
    std::size_t count = 0;
    do {
        digits[sizeof(digits) - ++count] = static_cast<char>('0' + value % 10);
        value /= 10;
    } while (value != 0);
    Text(digits + sizeof(digits) - count, count);
}

void CJsonOut::Microseconds(std::int64_t nanoseconds) {
    if (nanoseconds < 0) {
        Text("-", 1);
    }
    const std::uint64_t magnitude = nanoseconds < 0 ? 0 - static_cast<std::uint64_t>(nanoseconds)
                                                    : static_cast<std::uint64_t>(nanoseconds);
    Decimal(magnitude / 1000);
    Format(".%03u", static_cast<unsigned>(magnitude % 1000));
}

void WriteThreadName(CJsonOut& out, unsigned processId, const STraceThread& thread) {
    out.Format("{\"name\":\"thread_name\",\"ph\":\"M\",\"pid\":%u,\"tid\":%u,\"args\":{\"name\":",
               processId, thread.id);
    if (thread.name[0] != 0) {
        out.String(thread.name);
    } else {
        out.Format("\"thread %u\"", thread.id);
    }
    out.Format(",\"ended\":%s,\"droppedEvents\":", thread.ended ? "true" : "false");
    out.Decimal(thread.dropped);
    out.Text("}}");
}

void WriteEvent(CJsonOut& out, const STraceFile& trace, unsigned threadId,
                const STraceEvent& event) {
    out.Text("{\"name\":");
    out.String(event.label);
    out.Format(",\"cat\":\"%s\",\"ph\":\"X\",\"ts\":",
               event.kind == TraceKind::Block ? "block" : "hit");
    out.Microseconds(event.begin - trace.origin);
    out.Text(",\"dur\":");
    out.Microseconds(event.end - event.begin);
    out.Format(",\"pid\":%u,\"tid\":%u,\"args\":{\"depth\":%u}}", trace.processId, threadId,
               event.depth);
}

} // namespace

void SortTraceEvents(STraceFile& trace) {
    for (STraceThread& thread : trace.threads) {
        std::stable_sort(thread.events.begin(), thread.events.end(),
                         [](const STraceEvent& a, const STraceEvent& b) {
                             return a.begin != b.begin ? a.begin < b.begin : a.depth < b.depth;
                         });
    }
}

bool WriteTraceJson(std::FILE* file, const STraceFile& trace) {
    CJsonOut out(file);
    std::uint64_t dropped = 0;
    out.Text("{\"traceEvents\":[\n");
    out.Format("{\"name\":\"process_name\",\"ph\":\"M\",\"pid\":%u,\"tid\":0,"
               "\"args\":{\"name\":\"OrvexCommon2 profile\"}}",
               trace.processId);
    for (const STraceThread& thread : trace.threads) {
        dropped += thread.dropped;
        out.Text(",\n");
        WriteThreadName(out, trace.processId, thread);
        for (const STraceEvent& event : thread.events) {
            out.Text(",\n");
            WriteEvent(out, trace, thread.id, event);
        }
    }
    out.Text("\n],\n\"displayTimeUnit\":\"ms\",\n");
    out.Format("\"otherData\":{\"producer\":\"OrvexCommon2 profiler\",\"clock\":\"monotonic\","
               "\"eventsPerThread\":%u,\"threads\":%u,\"droppedEvents\":",
               trace.capacity, static_cast<unsigned>(trace.threads.size()));
    out.Decimal(dropped);
    out.Text("}}\n");
    return !out.Failed();
}

} // namespace detail
} // namespace Orvex
