// How far the calling thread's stack reaches: the mapping of /proc/self/maps
// that holds the stack pointer. Every byte from the stack pointer to the end
// of that mapping can be read, whatever the frames there hold. Read with
// open/read/close only (async-signal-safe, no allocation) into a buffer on
// the stack, and kept per thread: a stack pointer outside the kept mapping
// (an alternate signal stack, a main stack grown below it) reads it again.
#include "OrvexCommon/platform/posix/FrameRule.h"

#include <atomic>
#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

namespace Orvex {
namespace sys {
namespace frames {
namespace {

struct SSpan {
    std::uintptr_t start;
    std::uintptr_t end;
};

// Initial-exec: a plain load from the thread pointer, which a signal handler
// may make; the loader keeps room for a library opened later, and 16 bytes
// fit.
thread_local SSpan t_span __attribute__((tls_model("initial-exec"))) = {0, 0};

// Parses "start-end ..." one character at a time, across reads.
class MapsScanner {
public:
    explicit MapsScanner(std::uintptr_t sp) : m_sp(sp) {}

    // Feeds one character; true once the mapping holding the stack pointer
    // has been seen.
    bool Feed(char c) {
        if (c == '\n') {
            m_field = 0;
            m_start = m_end = 0;
            return false;
        }
        const int digit = HexDigit(c);
        if (m_field == 0 && digit >= 0) {
            m_start = m_start << 4 | static_cast<std::uintptr_t>(digit);
        } else if (m_field == 0 && c == '-') {
            m_field = 1;
        } else if (m_field == 1 && digit >= 0) {
            m_end = m_end << 4 | static_cast<std::uintptr_t>(digit);
        } else if (m_field == 1) {
            m_field = 2;
            return m_start <= m_sp && m_sp < m_end;
        }
        return false;
    }

    SSpan Span() const { return SSpan{m_start, m_end}; }

private:
    static int HexDigit(char c) {
        if (c >= '0' && c <= '9') {
            return c - '0';
        }
        return c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
    }

    std::uintptr_t m_sp;
    int m_field = 0;
    std::uintptr_t m_start = 0;
    std::uintptr_t m_end = 0;
};

// errno is kept as it was: a signal handler may be the caller.
SSpan ReadSpan(std::uintptr_t sp) {
    const int savedErrno = errno;
    const int fd = open("/proc/self/maps", O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        errno = savedErrno;
        return SSpan{0, 0};
    }
    MapsScanner scanner(sp);
    char buffer[512];
    SSpan found{0, 0};
    for (bool done = false; !done;) {
        const ssize_t got = read(fd, buffer, sizeof(buffer));
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got <= 0) {
            break;
        }
        for (ssize_t i = 0; i < got && !done; ++i) {
            done = scanner.Feed(buffer[i]);
        }
        if (done) {
            found = scanner.Span();
        }
    }
    close(fd);
    errno = savedErrno;
    return found;
}

} // namespace

std::uintptr_t StackEndAbove(std::uintptr_t sp) {
    // The end read before and after the start: a handler that replaced the
    // span in between (a different mapping, so a different end) is noticed.
    const std::uintptr_t end = t_span.end;
    std::atomic_signal_fence(std::memory_order_seq_cst);
    const std::uintptr_t start = t_span.start;
    std::atomic_signal_fence(std::memory_order_seq_cst);
    if (start <= sp && sp < end && t_span.end == end) {
        return end;
    }
    const SSpan span = ReadSpan(sp);
    if (span.end != 0) {
        // A signal handler on this thread may read the span between these
        // stores: it sees an end of 0 (no span) until both halves are new.
        t_span.end = 0;
        std::atomic_signal_fence(std::memory_order_seq_cst);
        t_span.start = span.start;
        std::atomic_signal_fence(std::memory_order_seq_cst);
        t_span.end = span.end;
    }
    return span.end;
}

} // namespace frames
} // namespace sys
} // namespace Orvex
