// Reloads on the game's thread: the listeners, delivery in Dispatch through
// the load path, and the exported switches.
#include "OrvexCommon/file/detail/FileMgr.h"
#include "OrvexCommon/file/detail/NameKey.h"
#include "OrvexCommon/file/detail/ReloadWatch.h"
#include "OrvexCommon/log/OrvexLog.h"
#include "OrvexCommon/memory/detail/WithoutMemory.h"

#include <algorithm>
#include <memory>
#include <new>

namespace Orvex {
namespace detail {

namespace {

void AddOnce(TOrvexVector<IFileReloadListener*>& listeners, IFileReloadListener* listener) {
    if (std::find(listeners.begin(), listeners.end(), listener) == listeners.end()) {
        listeners.push_back(listener);
    }
}

void RemoveFrom(TOrvexVector<IFileReloadListener*>& listeners, IFileReloadListener* listener) {
    listeners.erase(std::remove(listeners.begin(), listeners.end(), listener), listeners.end());
}

} // namespace

bool CReloadWatch::AddListener(const wchar_t* fileName, IFileReloadListener* listener) {
    if (listener == nullptr) {
        return false;
    }
    return FallbackWithoutMemory(false, [&] {
        sys::ScopedLock hold(m_lock.get());
        if (fileName == nullptr) {
            AddOnce(m_everyName, listener);
        } else {
            AddOnce(m_named[NormalizeName(fileName)], listener);
        }
        return true;
    });
}

void CReloadWatch::RemoveListener(const wchar_t* fileName, IFileReloadListener* listener) {
    FallbackWithoutMemory(0, [&] {
        sys::ScopedLock hold(m_lock.get());
        if (fileName == nullptr) {
            RemoveFrom(m_everyName, listener);
            return 0;
        }
        const auto found = m_named.find(NormalizeName(fileName));
        if (found != m_named.end()) {
            RemoveFrom(found->second, listener);
            if (found->second.empty()) {
                m_named.erase(found);
            }
        }
        return 0;
    });
}

void CReloadWatch::ListenersOf(const OrvexWString& name, TOrvexVector<IFileReloadListener*>& out) {
    const OrvexWString key = NormalizeName(name.c_str());
    sys::ScopedLock hold(m_lock.get());
    const auto found = m_named.find(key);
    if (found != m_named.end()) {
        out = found->second;
    }
    for (IFileReloadListener* listener : m_everyName) {
        AddOnce(out, listener);
    }
}

bool CFileMgr::DeliverOneReload() {
    CReloadWatch& watch = ReloadWatch();
    if (!watch.IsEnabled()) {
        return false;
    }
    std::unique_ptr<SReadyReload> ready(watch.TakeReady());
    if (ready == nullptr) {
        return false;
    }
    // Without memory for the list of listeners the delivery is dropped; the
    // file's next change brings it again.
    TOrvexVector<IFileReloadListener*> listeners;
    if (!FallbackWithoutMemory(false, [&] {
            watch.ListenersOf(ready->name, listeners);
            return true;
        })) {
        return true;
    }
    for (IFileReloadListener* listener : listeners) {
        if (ready->gone) {
            listener->OnReloadGone(ready->name.c_str());
        } else {
            DeliverReloadTo(*listener, *ready);
        }
    }
    return true;
}

void CFileMgr::DeliverReloadTo(IFileReloadListener& listener, const SReadyReload& ready) {
    const bool delivered = FallbackWithoutMemory(false, [&] {
        SSourceFile file;
        m_reloaded.Attach(ready.bytes.data(), static_cast<std::uint32_t>(ready.bytes.size()), file);
        SLeadingPart lead;
        if (!PrepareLoad(file, &listener, /*restNow=*/true, lead)) {
            return false;
        }
        listener.OnReload(ready.name.c_str());
        (void)FinishLoad(file, &listener, /*restNow=*/true, lead);
        return true;
    });
    if (!delivered) {
        GetErrStream() << "reloaded file refused: " << ready.name.c_str() << "\n";
    }
}

} // namespace detail

void SetFileWatching(bool enable) {
    (void)detail::ReloadWatch().Enable(enable);
}

bool IsFileWatching() {
    return detail::ReloadWatch().IsEnabled();
}

void SetReloadSettleTime(std::uint32_t milliseconds) {
    detail::ReloadWatch().SetSettleTime(milliseconds);
}

std::uint32_t GetReloadSettleTime() {
    return detail::ReloadWatch().SettleTime();
}

bool AddReloadListener(const wchar_t* fileName, IFileReloadListener* listener) {
    return detail::ReloadWatch().AddListener(fileName, listener);
}

void RemoveReloadListener(const wchar_t* fileName, IFileReloadListener* listener) {
    detail::ReloadWatch().RemoveListener(fileName, listener);
}

} // namespace Orvex
