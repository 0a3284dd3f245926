// The global log and error streams. Each is a standard narrow stream that is
// its own stream buffer; the buffer has no put area, so every character
// arrives in overflow() one at a time and is gathered under the stream's lock.
#include "OrvexCommon/base/detail/ErrorLine.h"
#include "OrvexCommon/base/detail/FrameJournal.h"
#include "OrvexCommon/log/OrvexLog.h"
#include "OrvexCommon/memory/OrvexMemory.h"
#include "OrvexCommon/memory/detail/TextStrings.h"
#include "OrvexCommon/platform/OrvexSys.h"

#include <atomic>
#include <cstdlib>
#include <ostream>
#include <streambuf>

namespace Orvex {

namespace {

std::atomic<GlobOutputFun> g_logHook{nullptr};
std::atomic<GlobOutputFun> g_errHook{nullptr};

class CGlobStream : private std::streambuf, public std::ostream {
public:
    CGlobStream(std::atomic<GlobOutputFun>& hook, sys::ConsoleStream console,
                detail::FrameObject object)
        : std::ostream(static_cast<std::streambuf*>(this)), m_hook(hook), m_console(console),
          m_object(object), m_lock(sys::CreateRecursiveLock()) {
        if (m_lock == nullptr) {
            std::abort(); // no memory for one lock: nothing sensible can follow
        }
        detail::RecordFrameEvent(detail::FrameEvent::Created, m_object);
    }

    ~CGlobStream() override {
        sys::DestroyRecursiveLock(m_lock);
        detail::RecordFrameEvent(detail::FrameEvent::TornDown, m_object);
    }

protected:
    typedef std::streambuf::int_type int_type;
    typedef std::streambuf::traits_type traits_type;

    int_type overflow(int_type c) override {
        if (traits_type::eq_int_type(c, traits_type::eof())) {
            return traits_type::not_eof(c);
        }
        const GlobOutputFun hook = m_hook.load(std::memory_order_acquire);
        OrvexString finished;
        {
            sys::ScopedLock hold(m_lock);
            m_line.push_back(traits_type::to_char_type(c));
            if (c != '\n') {
                return c;
            }
            finished.swap(m_line);
        }
        Deliver(hook, finished);
        return '\n';
    }

private:
    void Deliver(GlobOutputFun hook, const OrvexString& line) {
        if (hook != nullptr) {
            hook(line.c_str(), static_cast<unsigned>(line.size()));
        }
        sys::WriteConsoleText(m_console, line.c_str(), line.size());
    }

    std::atomic<GlobOutputFun>& m_hook;
    sys::ConsoleStream m_console;
    detail::FrameObject m_object;
    sys::RecursiveLock* m_lock;
    OrvexString m_line;
};

// The layers beneath the streams write their lines here; installed when the
// library is loaded.
void WriteToLogStream(const char* line) {
    GetLogStream() << line << std::endl;
}

[[maybe_unused]] const bool g_errorLineWriterInstalled =
    (detail::SetErrorLineWriter(WriteToLogStream), true);

} // namespace

void SetGlobLogFun(GlobOutputFun hook) {
    g_logHook.store(hook, std::memory_order_release);
}
GlobOutputFun GetGlobLogFun() {
    return g_logHook.load(std::memory_order_acquire);
}
void SetGlobErrFun(GlobOutputFun hook) {
    g_errHook.store(hook, std::memory_order_release);
}
GlobOutputFun GetGlobErrFun() {
    return g_errHook.load(std::memory_order_acquire);
}

std::ostream& GetLogStream() {
    static CGlobStream stream(g_logHook, sys::ConsoleStream::Output,
                              detail::FrameObject::LogStream);
    return stream;
}

std::ostream& GetErrStream() {
    static CGlobStream stream(g_errHook, sys::ConsoleStream::Error,
                              detail::FrameObject::ErrorStream);
    return stream;
}

std::ostream& operator<<(std::ostream& stream, const wchar_t* text) {
    if (text != nullptr) {
        stream << WideToUtf8String(text).c_str();
    }
    return stream;
}

} // namespace Orvex
