// The shared table of frame rules by return address (FrameRule.h). A slot's
// address is claimed first and its rule (with the code check) published
// after it; a reader that finds the address without a rule yet reads the
// rule itself. Slots are never emptied, so no reader needs a lock.
#include "OrvexCommon/platform/posix/FrameRule.h"

namespace Orvex {
namespace sys {
namespace frames {

SRuleSlot g_ruleSlots[kRuleSlotCount];

namespace {

// A return address is looked for in this many slots from its home; a full
// neighbourhood leaves it out of the table (read on every walk).
constexpr unsigned kProbes = 8;

// Rules the walk applies carry the code check; kUnwinder only sends the walk
// to the runtime's unwinder, which is right whatever the code is now (and
// may be code without call frame information, whose bytes are not read).
std::uint64_t EntryFor(std::uintptr_t resume, SFrameRule rule) {
    const std::uint64_t check = rule.Kind() != kUnwinder ? CodeBefore(resume) : 0;
    return check << 32 | rule.Bits();
}

} // namespace

SFrameRule FrameRuleAfterMiss(std::uintptr_t resume) {
    std::size_t index = RuleHomeOf(resume);
    for (unsigned probe = 0; probe < kProbes; ++probe, index = (index + 1) & (kRuleSlotCount - 1)) {
        SRuleSlot& slot = g_ruleSlots[index];
        std::uintptr_t owner = slot.resume.load(std::memory_order_acquire);
        if (owner == 0 &&
            slot.resume.compare_exchange_strong(owner, resume, std::memory_order_acq_rel)) {
            const SFrameRule rule = ReadFrameRule(resume);
            slot.entry.store(EntryFor(resume, rule), std::memory_order_release);
            return rule;
        }
        if (owner != resume) {
            continue;
        }
        const std::uint64_t entry = slot.entry.load(std::memory_order_acquire);
        if (entry == 0) {
            return ReadFrameRule(resume); // being filled by another thread
        }
        const SFrameRule rule = SFrameRule::FromBits(static_cast<std::uint32_t>(entry));
        if (rule.Kind() == kUnwinder ||
            static_cast<std::uint32_t>(entry >> 32) == CodeBefore(resume)) {
            return rule;
        }
        // Other code at this address since: its own rule replaces the old.
        const SFrameRule fresh = ReadFrameRule(resume);
        slot.entry.store(EntryFor(resume, fresh), std::memory_order_release);
        return fresh;
    }
    return ReadFrameRule(resume);
}

} // namespace frames
} // namespace sys
} // namespace Orvex
