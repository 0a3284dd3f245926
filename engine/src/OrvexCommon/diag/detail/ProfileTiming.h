// The arithmetic of a profile's measurements, given the time instead of
// reading the clock. CProfile's operations read the clock and the manager's
// enabled flag and then come here, so this is the whole of what a hit does;
// tests drive it with chosen times.
#ifndef ORVEX_DIAG_DETAIL_PROFILETIMING_H
#define ORVEX_DIAG_DETAIL_PROFILETIMING_H

#include "OrvexCommon/diag/OrvexProfile.h"

namespace Orvex {
namespace detail {

struct ProfileTiming {
    // Hits shorter than this are counted but never kept as details.
    static constexpr long long kLongHit = 9;

    // CheckBegin and StartAddDetail.
    static void Begin(CProfile& profile, long long now) { profile.m_beginTime = now; }
    // CheckEnd of an enabled manager.
    static void EndHit(CProfile& profile, long long now);
    // StartDetailBlock of an enabled manager: a new entry 0.
    static void OpenBlock(CProfile& profile);
    // EndAddDetail of an enabled manager: the piece joins the newest entry.
    static void EndPiece(CProfile& profile, long long now);
    // EndDetailBlock of an enabled manager: the newest entry counts as a hit.
    static void CloseBlock(CProfile& profile);

    // Maximum, minimum and hit count for one hit of `duration`.
    static void CountHit(CProfile& profile, long long duration);
};

} // namespace detail
} // namespace Orvex

#endif // ORVEX_DIAG_DETAIL_PROFILETIMING_H
