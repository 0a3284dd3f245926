// The cached stack walk on Linux x86-64. The runtime's unwinder finds the
// call frame information of every frame anew on each walk; most frames only
// need "the caller's frame starts at SP or BP plus N, the return address is
// just below it, BP is saved at this slot or untouched". That rule is read
// once per return address from the same information and kept in a shared
// table; a walk then only reads the stack.
//
//   framerule.cpp    the rule of one return address, from its CIE and FDE
//   rulecache.cpp    the shared lock-free table of rules by return address
//   stackspan.cpp    how far the calling thread's stack reaches
//   stack.cpp        the walk, and the runtime unwinder's walk it falls back to
#ifndef ORVEX_PLATFORM_POSIX_FRAMERULE_H
#define ORVEX_PLATFORM_POSIX_FRAMERULE_H

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstring>

namespace Orvex {
namespace sys {
namespace frames {

enum FrameKind : std::uint32_t {
    kUnknown = 0,   // never stored: an empty rule
    kStep = 1,      // the rule leads to the caller
    kOutermost = 2, // the last frame: its return address is marked undefined
    kUnwinder = 3,  // anything else: only the runtime's unwinder may step here
};

constexpr std::uint32_t kMaxCfaOffset = (1u << 20) - 1;
constexpr std::uint32_t kMaxSavedBpSlot = 127;

// How to find the caller of a frame from this frame's SP and BP: the CFA (the
// caller's SP) is SP or BP plus an offset, the return address is the word
// just below it, and BP is either untouched or saved some words below it.
// Packed into 32 bits, so that a rule and its code check fit one atomic word
// of the table, and laid out so the walk decodes the offset with one mask.
class SFrameRule {
public:
    static SFrameRule Make(FrameKind kind, bool cfaFromBp, std::uint32_t cfaOffset,
                           std::uint32_t savedBpSlot) {
        return SFrameRule{cfaOffset | savedBpSlot << kSlotShift | (cfaFromBp ? kFromBp : 0u) |
                          static_cast<std::uint32_t>(kind) << kKindShift};
    }
    static SFrameRule Of(FrameKind kind) { return Make(kind, false, 0, 0); }
    static SFrameRule FromBits(std::uint32_t bits) { return SFrameRule{bits}; }

    std::uint32_t Bits() const { return m_bits; }
    FrameKind Kind() const { return static_cast<FrameKind>(m_bits >> kKindShift); }
    bool CfaFromBp() const { return (m_bits & kFromBp) != 0; }
    std::uint32_t CfaOffset() const { return m_bits & kMaxCfaOffset; }
    // BP is saved at CFA - SavedBpSlot() words; 0: BP is unchanged.
    std::uint32_t SavedBpSlot() const { return (m_bits >> kSlotShift) & kMaxSavedBpSlot; }

private:
    static constexpr unsigned kSlotShift = 20;
    static constexpr std::uint32_t kFromBp = 1u << 27;
    static constexpr unsigned kKindShift = 28;

    explicit SFrameRule(std::uint32_t bits) : m_bits(bits) {}
    std::uint32_t m_bits;
};

// Reads the rule that steps from a frame resuming at `resume` to its caller,
// from the call frame information the runtime's unwinder would use. Anything
// this walk cannot follow exactly as that unwinder would (no information, a
// signal frame, a CFA from an expression or another register, the return
// address anywhere but just below the CFA) gives kUnwinder, and so does a
// return address less than kCheckedBytes into its function.
SFrameRule ReadFrameRule(std::uintptr_t resume);

// The table keeps with each rule the kCheckedBytes of code just before its
// return address (the end of the call instruction), so that a rule left by a
// module unloaded since is not applied to other code mapped at its address.
constexpr std::uintptr_t kCheckedBytes = 4;

// The shared table (rulecache.cpp): open addressing in a fixed array, each
// slot claimed once for a return address and never emptied.
struct SRuleSlot {
    std::atomic<std::uintptr_t> resume;
    std::atomic<std::uint64_t> entry; // code check << 32 | rule bits; 0 while unset
};

constexpr unsigned kRuleSlotBits = 14; // 256 KiB, touched only as filled
constexpr std::size_t kRuleSlotCount = std::size_t{1} << kRuleSlotBits;
extern SRuleSlot g_ruleSlots[kRuleSlotCount];

inline std::size_t RuleHomeOf(std::uintptr_t resume) {
    return static_cast<std::size_t>(resume ^ resume >> kRuleSlotBits) & (kRuleSlotCount - 1);
}

inline std::uint32_t CodeBefore(std::uintptr_t resume) {
    std::uint32_t code;
    std::memcpy(&code, reinterpret_cast<const void*>(resume - kCheckedBytes), sizeof(code));
    return code;
}

// The rule for `resume` when its home slot holds it and its code is the same;
// otherwise the full look-up, which reads the rule and adds it.
SFrameRule FrameRuleAfterMiss(std::uintptr_t resume);

// The rule for `resume`, from the shared table or read and added to it. Safe
// from any thread at once and in a signal handler: no lock, no allocation.
inline SFrameRule FrameRuleFor(std::uintptr_t resume) {
    const SRuleSlot& slot = g_ruleSlots[RuleHomeOf(resume)];
    if (slot.resume.load(std::memory_order_acquire) == resume) {
        const std::uint64_t entry = slot.entry.load(std::memory_order_acquire);
        if (entry != 0 && static_cast<std::uint32_t>(entry >> 32) == CodeBefore(resume)) {
            return SFrameRule::FromBits(static_cast<std::uint32_t>(entry));
        }
    }
    return FrameRuleAfterMiss(resume);
}

// The end (one past the highest byte) of the readable stack memory that
// holds `sp`, the calling thread's stack pointer; 0 when unknown. Cached per
// thread; a miss reads /proc/self/maps with plain system calls.
std::uintptr_t StackEndAbove(std::uintptr_t sp);

} // namespace frames
} // namespace sys
} // namespace Orvex

#endif // ORVEX_PLATFORM_POSIX_FRAMERULE_H
