// The profile manager: the registry of profiles by label address.
#ifndef ORVEX_DIAG_DETAIL_PROFILEMGR_H
#define ORVEX_DIAG_DETAIL_PROFILEMGR_H

#include "OrvexCommon/diag/OrvexProfile.h"
#include "OrvexCommon/memory/OrvexMemory.h"
#include "OrvexCommon/platform/OrvexSys.h"

#include <atomic>

namespace Orvex {
namespace detail {

// Every registry operation holds the lock, so a thread may create profiles
// while another walks them. The lock is never held while the fatal report of
// a duplicate label runs, nor while any other lock but the pool's is taken.
class CProfileMgr final : public IProfileMgr {
public:
    CProfileMgr();
    // Releases every profile and its detail list, in registry order.
    ~CProfileMgr();
    CProfileMgr(const CProfileMgr&) = delete;
    CProfileMgr& operator=(const CProfileMgr&) = delete;

    CProfile* CreateProfile(const char* file, unsigned int line, const char* function,
                            const char* label, unsigned int detailCapacity) override;
    CProfile* GetFirstProfile() override;
    CProfile* GetNextProfile(CProfile* profile) override;
    CProfile* GetProfile(const char* label) override;
    void EnableProfile(bool enable) override;

    // Read on every measurement, so without a lock; a change reaches other
    // threads' profiles shortly after, not at an exact point.
    bool IsEnabled() const { return m_enabled.load(std::memory_order_relaxed); }

private:
    // Ordered by the label's address; the texts are never compared.
    typedef TOrvexMap<const char*, CProfile*> Registry;

    // Under the lock: a new profile recorded under `label`; null, with
    // nothing recorded, when memory runs out.
    CProfile* Register(const char* file, unsigned int line, const char* function, const char* label,
                       unsigned int detailCapacity);

    Registry m_registry;
    sys::OwnedLock m_lock;
    std::atomic<bool> m_enabled;
};

// The manager, created on first use; GetProfileMgr returns it.
CProfileMgr& ProfileMgr();

// Reports a second CreateProfile of a registered label: the caller's stack
// (already captured: `count` addresses) to the error stream, then the fatal
// report. Ends the process; `line` is the source line of the check.
[[noreturn]] void ReportDuplicateProfile(void** stack, unsigned count, unsigned line);

} // namespace detail
} // namespace Orvex

#endif // ORVEX_DIAG_DETAIL_PROFILEMGR_H
