// The registry of logs by name, and the exported functions that go through
// it. Lock order: the registry's lock, then a log's; never the other way.
#include "OrvexCommon/log/detail/LogFileRegistry.h"
#include "OrvexCommon/base/detail/FrameJournal.h"
#include "OrvexCommon/log/detail/LogFile.h"
#include "OrvexCommon/memory/OrvexMemory.h"

#include <cstring>
#include <functional>
#include <new>
#include <string_view>

namespace Orvex {
namespace detail {

namespace {

struct LogRegistry {
    LogRegistry() { RecordFrameEvent(FrameEvent::Created, FrameObject::LogRegistry); }
    ~LogRegistry();
    LogRegistry(const LogRegistry&) = delete;
    LogRegistry& operator=(const LogRegistry&) = delete;

    sys::OwnedLock lock;
    // Keyed by the stem of the log's name, the part that reaches the file
    // system (LogNameStemLength), compared byte by byte; transparent, so a
    // lookup needs no string built.
    TOrvexMap<OrvexString, CLogFile*, std::less<>> logs;
};

LogRegistry::~LogRegistry() {
    // Closing a file hands the runtime's buffer to the system: nothing
    // written before unload is lost.
    for (auto& entry : logs) {
        DeletePooledObject(entry.second);
    }
    logs.clear();
    RecordFrameEvent(FrameEvent::TornDown, FrameObject::LogRegistry);
}

LogRegistry& Registry() {
    static LogRegistry registry;
    return registry;
}

// The bytes of a caller's name that its files are named by.
std::string_view StemOf(const char* name) {
    return std::string_view(name, LogNameStemLength(name));
}

// Under the registry's lock: the log named `name`, created when there is
// none. Null when no memory is left for a new one. A new log whose file could
// not be opened fills `failedName` and sets `failed`.
CLogFile* FindOrCreate(LogRegistry& registry, const char* name, unsigned logId,
                       char (&failedName)[kLogNameCapacity], bool& failed) {
    const std::string_view key = StemOf(name);
    const auto found = registry.logs.find(key);
    if (found != registry.logs.end()) {
        return found->second;
    }
    void* memory = OrvexAlloc(sizeof(CLogFile));
    if (memory == nullptr) {
        return nullptr;
    }
    CLogFile* log = new (memory) CLogFile(name, sys::CalendarSeconds(), logId);
    if (!log->IsUsable()) {
        DeletePooledObject(log);
        return nullptr;
    }
    try {
        registry.logs.emplace(OrvexString(key), log);
    } catch (const std::bad_alloc&) {
        DeletePooledObject(log);
        return nullptr;
    }
    failed = log->TakeOpenFailure(failedName);
    return log;
}

CLogFile* GetOrCreate(const char* name, unsigned logId) {
    if (name == nullptr) {
        return nullptr;
    }
    char failedName[kLogNameCapacity];
    bool failed = false;
    CLogFile* log;
    {
        LogRegistry& registry = Registry();
        sys::ScopedLock hold(registry.lock.get());
        log = FindOrCreate(registry, name, logId, failedName, failed);
    }
    // Outside the lock: the error stream may run a host hook that logs.
    if (failed) {
        ReportUnopenableLog(failedName);
    }
    return log;
}

} // namespace

void ReleaseRegisteredLog(CLogFile* log) {
    LogRegistry& registry = Registry();
    sys::ScopedLock hold(registry.lock.get());
    const auto found = registry.logs.find(StemOf(log->GetName()));
    if (found == registry.logs.end() || found->second != log) {
        return;
    }
    registry.logs.erase(found);
    DeletePooledObject(log);
}

} // namespace detail

ILog* GetLogFile(const char* name, unsigned logId) {
    return detail::GetOrCreate(name, logId);
}

bool WriteLog(const char* name, const char* data, unsigned size, unsigned logId) {
    ILog* log = detail::GetOrCreate(name, logId);
    if (log == nullptr) {
        return false;
    }
    // Outside the registry's lock: a slow disk holds up only this log.
    log->Write(data, size);
    return true;
}

void FlushAllLog() {
    detail::LogRegistry& registry = detail::Registry();
    sys::ScopedLock hold(registry.lock.get());
    for (auto& entry : registry.logs) {
        entry.second->Flush(); // takes the log's own lock inside
    }
}

} // namespace Orvex
