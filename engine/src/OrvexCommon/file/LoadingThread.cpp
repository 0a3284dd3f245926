// The request lists: the loading thread that fills pending requests and
// Dispatch, which hands finished ones to their listeners.
#include "OrvexCommon/file/detail/FileMgr.h"
#include "OrvexCommon/time/OrvexClock.h"

#include <cstdint>

namespace Orvex {
namespace detail {

namespace {

// How long the idle thread sleeps before looking at the pending list again.
constexpr unsigned kIdleSleepMs = 5;
// How often a loose file that no longer opens is tried again, and for how
// long: a file being replaced may be unopenable for a moment, one that was
// deleted for good must not hold up every load queued behind it.
constexpr unsigned kReopenRetryMs = 1;
constexpr std::uint64_t kReopenGiveUpMs = 1000;

} // namespace

bool ReadRequest(SLoadRequest& request, const std::atomic<bool>& quit) {
    if (request.filled) {
        return true;
    }
    SSourceFile& file = request.file;
    const auto size = static_cast<std::uint32_t>(request.data.size());
    // The wall clock, not game time, which a host may pause.
    const std::uint64_t started = sys::MonotonicMilliseconds();
    while (!file.source->ReadRange(file, request.start, size, request.data.data())) {
        if (quit) {
            return false;
        }
        if (file.unreadable || sys::MonotonicMilliseconds() - started >= kReopenGiveUpMs) {
            // Gone: delivered all the same, with no bytes.
            TOrvexVector<unsigned char>().swap(request.data);
            break;
        }
        sys::SleepMilliseconds(kReopenRetryMs);
    }
    // What the reader holds (a zip entry's inflater) is not kept while the
    // request waits for Dispatch.
    file.source->Close(file);
    return true;
}

unsigned ORVEX_THREAD_CALL CFileMgr::LoadingThreadMain(void* context) {
    CFileMgr& manager = *static_cast<CFileMgr*>(context);
    if (sys::EnterLibraryCode(manager.m_threadLife)) {
        manager.RunLoadingThread();
        sys::LeaveLibraryCode(manager.m_threadLife);
    }
    return 0;
}

void CFileMgr::RunLoadingThread() {
    while (!m_quit) {
        SLoadRequest* request;
        {
            sys::ScopedLock hold(m_lock.get());
            request = m_pending.GetFirst();
        }
        if (request == nullptr) {
            sys::SleepMilliseconds(kIdleSleepMs);
            continue;
        }
        // Outside the lock: only this thread takes requests off the pending list.
        if (!ReadRequest(*request, m_quit)) {
            break; // teardown while waiting for a file; the request stays pending
        }
        sys::ScopedLock hold(m_lock.get());
        request->Unlink();
        m_finished.PushBack(*request);
    }
}

void CFileMgr::QueueRequest(SLoadRequest* request) {
    sys::ScopedLock hold(m_lock.get());
    if (request->filled) {
        m_finished.PushBack(*request);
    } else {
        m_pending.PushBack(*request);
    }
}

SLoadRequest* CFileMgr::TakeFirst(TOrvexList<SLoadRequest>& list) {
    sys::ScopedLock hold(m_lock.get());
    SLoadRequest* request = list.GetFirst();
    if (request != nullptr) {
        request->Unlink();
    }
    return request;
}

bool CFileMgr::Dispatch(std::uint32_t budgetMs) {
    const long long started = GetOrvexTime();
    for (;;) {
        // Unsigned, so a clock set back during the loop ends it.
        const auto elapsed = static_cast<std::uint64_t>(GetOrvexTime() - started);
        if (elapsed >= budgetMs) {
            break;
        }
        SLoadRequest* request = TakeFirst(m_finished);
        if (request == nullptr) {
            // Reloads take what the loads left of the budget.
            if (!DeliverOneReload()) {
                break;
            }
            continue;
        }
        // An empty rest has no storage; any address will do for no bytes.
        static const unsigned char kNoBytes = 0;
        const unsigned char* bytes = request->data.empty() ? &kNoBytes : request->data.data();
        SLoadBuffer buffer;
        buffer.origin = bytes - request->start;
        buffer.start = request->start;
        buffer.pos = request->start;
        buffer.end = request->start + static_cast<std::uint32_t>(request->data.size());
        request->listener->OnLoadData(buffer);
        delete request;
    }
    sys::ScopedLock hold(m_lock.get());
    return !m_pending.IsEmpty() || !m_finished.IsEmpty();
}

} // namespace detail
} // namespace Orvex
