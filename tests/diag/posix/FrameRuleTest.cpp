// The frame-rule reader against call frame information made here: each case
// is a CFA program registered with the runtime's unwinder for a range of its
// own, and the rule read at a return address in it is compared with the row
// the program defines there (or with "only the unwinder can step here").
// Then the shared table: a rule whose code check no longer matches is read
// again.
#include "OrvexCommon/platform/posix/FrameRule.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

extern "C" void __register_frame(void* begin);
extern "C" void __deregister_frame(void* begin);

namespace OrvexTest {

namespace {

namespace frames = Orvex::sys::frames;
using Bytes = std::vector<unsigned char>;

struct SRuleCase {
    const char* name;
    bool signalFrame; // the CIE carries the 'S' augmentation
    Bytes program;    // the FDE's instructions, after the CIE's
    unsigned resume;  // return address, as an offset into the case's range
    frames::FrameKind kind;
    bool cfaFromBp;
    std::uint32_t cfaOffset;
    std::uint32_t savedBpSlot;
};

constexpr frames::FrameKind kStep = frames::kStep;
constexpr frames::FrameKind kUnwinder = frames::kUnwinder;

// The CIE's own program: CFA = SP + 8, the return address at CFA - 8.
// Opcodes: 0x0c def_cfa, 0x0d def_cfa_register, 0x0e def_cfa_offset,
// 0x4N advance N, 0x8R offset of register R (in data-alignment units of -8),
// 0x0a/0x0b remember/restore state.
const SRuleCase kCases[] = {
    {"at entry", false, {}, 8, kStep, false, 8, 0},
    {"push rbp", false, {0x41, 0x0e, 0x10, 0x86, 0x02}, 16, kStep, false, 16, 2},
    {"frame pointer",
     false,
     {0x41, 0x0e, 0x10, 0x86, 0x02, 0x43, 0x0d, 0x06},
     16,
     kStep,
     true,
     16,
     2},
    {"row before its location", false, {0x54, 0x0e, 0x40}, 20, kStep, false, 8, 0},
    {"row at the call", false, {0x54, 0x0e, 0x40}, 21, kStep, false, 64, 0},
    {"advance_loc1", false, {0x02, 0x30, 0x0e, 0x20}, 49, kStep, false, 32, 0},
    {"advance_loc2", false, {0x03, 0x30, 0x00, 0x0e, 0x20}, 48, kStep, false, 8, 0},
    {"advance_loc4", false, {0x04, 0x10, 0x00, 0x00, 0x00, 0x0e, 0x20}, 17, kStep, false, 32, 0},
    {"remembered row", false, {0x44, 0x0a, 0x0e, 0x20, 0x44, 0x0b}, 8, kStep, false, 32, 0},
    {"restored row", false, {0x44, 0x0a, 0x0e, 0x20, 0x44, 0x0b}, 12, kStep, false, 8, 0},
    {"restore_state without remember", false, {0x0b}, 8, kUnwinder, false, 0, 0},
    {"def_cfa_sf", false, {0x12, 0x06, 0x7e}, 8, kStep, true, 16, 0},
    {"bp by offset_extended_sf", false, {0x0e, 0x18, 0x11, 0x06, 0x03}, 8, kStep, false, 24, 3},
    {"bp restored", false, {0x86, 0x02, 0x41, 0xc6}, 8, kStep, false, 8, 0},
    {"bp same value", false, {0x86, 0x02, 0x41, 0x08, 0x06}, 8, kStep, false, 8, 0},
    {"args size ignored", false, {0x2e, 0x10}, 8, kStep, false, 8, 0},
    {"outermost", false, {0x07, 0x10}, 8, frames::kOutermost, false, 0, 0},
    {"cfa expression", false, {0x0f, 0x02, 0x77, 0x08}, 8, kUnwinder, false, 0, 0},
    {"cfa from another register", false, {0x0c, 0x03, 0x10}, 8, kUnwinder, false, 0, 0},
    {"cfa offset too large", false, {0x0e, 0x80, 0x80, 0x40}, 8, kUnwinder, false, 0, 0},
    {"return address elsewhere", false, {0x90, 0x02}, 8, kUnwinder, false, 0, 0},
    {"return address restored", false, {0xd0}, 8, kUnwinder, false, 0, 0},
    {"return address in a register", false, {0x09, 0x10, 0x00}, 8, kUnwinder, false, 0, 0},
    {"bp by expression", false, {0x10, 0x06, 0x01, 0x77}, 8, kUnwinder, false, 0, 0},
    {"bp by val_offset", false, {0x14, 0x06, 0x02}, 8, kUnwinder, false, 0, 0},
    {"bp too far down", false, {0x86, 0x80, 0x02}, 8, kUnwinder, false, 0, 0},
    {"sp saved", false, {0x87, 0x02}, 8, kUnwinder, false, 0, 0},
    {"unknown opcode", false, {0x2d}, 8, kUnwinder, false, 0, 0},
    {"signal frame", true, {}, 8, kUnwinder, false, 0, 0},
    {"return address at the start", false, {}, 3, kUnwinder, false, 0, 0},
};

constexpr std::size_t kRange = 64;
constexpr std::size_t kCaseCount = sizeof(kCases) / sizeof(kCases[0]);

// The "code" the cases describe: never run, only looked up.
alignas(16) unsigned char g_code[kRange * kCaseCount];

void PutWord(Bytes& out, std::uint64_t value, unsigned size) {
    for (unsigned i = 0; i < size; ++i) {
        out.push_back(static_cast<unsigned char>(value >> (8 * i)));
    }
}

// Pads a record with DW_CFA_nop to a multiple of 8 bytes and fills in its
// length.
void CloseRecord(Bytes& out, std::size_t start) {
    while ((out.size() - start) % 8 != 0) {
        out.push_back(0);
    }
    const std::uint32_t length = static_cast<std::uint32_t>(out.size() - start - 4);
    std::memcpy(&out[start], &length, sizeof(length));
}

std::size_t AddCie(Bytes& out, bool signalFrame) {
    const std::size_t start = out.size();
    PutWord(out, 0, 4); // length
    PutWord(out, 0, 4); // CIE id
    out.push_back(1);   // version
    for (const char c : std::string(signalFrame ? "zRS" : "zR")) {
        out.push_back(static_cast<unsigned char>(c));
    }
    out.push_back(0);
    const Bytes rest = {0x01, 0x78, 0x10, // code align 1, data align -8, RA column 16
                        0x01, 0x00,       // augmentation data: FDE pointers absolute
                        0x0c, 0x07, 0x08, 0x90, 0x01};
    out.insert(out.end(), rest.begin(), rest.end());
    CloseRecord(out, start);
    return start;
}

void AddFde(Bytes& out, std::size_t cie, const unsigned char* code, const Bytes& program) {
    const std::size_t start = out.size();
    PutWord(out, 0, 4);
    PutWord(out, out.size() - cie, 4); // back to the CIE from this field
    PutWord(out, reinterpret_cast<std::uintptr_t>(code), 8);
    PutWord(out, kRange, 8);
    out.push_back(0); // no augmentation data
    out.insert(out.end(), program.begin(), program.end());
    CloseRecord(out, start);
}

// Call frame information for every case, registered while it lives.
class CRegisteredFrames {
public:
    CRegisteredFrames() {
        const std::size_t plain = AddCie(m_bytes, false);
        const std::size_t signal = AddCie(m_bytes, true);
        for (std::size_t i = 0; i < kCaseCount; ++i) {
            AddFde(m_bytes, kCases[i].signalFrame ? signal : plain, g_code + i * kRange,
                   kCases[i].program);
        }
        PutWord(m_bytes, 0, 4); // the end
        __register_frame(m_bytes.data());
    }
    ~CRegisteredFrames() { __deregister_frame(m_bytes.data()); }

private:
    Bytes m_bytes;
};

std::uintptr_t ResumeOf(std::size_t index) {
    return reinterpret_cast<std::uintptr_t>(g_code + index * kRange + kCases[index].resume);
}

} // namespace

TEST(FrameRule, ReadsTheRowEachProgramDefines) {
    CRegisteredFrames registered;
    for (std::size_t i = 0; i < kCaseCount; ++i) {
        const SRuleCase& rule = kCases[i];
        const frames::SFrameRule read = frames::ReadFrameRule(ResumeOf(i));
        EXPECT_EQ(rule.kind, read.Kind()) << rule.name;
        if (rule.kind == kStep) {
            EXPECT_EQ(rule.cfaFromBp, read.CfaFromBp()) << rule.name;
            EXPECT_EQ(rule.cfaOffset, read.CfaOffset()) << rule.name;
            EXPECT_EQ(rule.savedBpSlot, read.SavedBpSlot()) << rule.name;
        }
    }
}

TEST(FrameRule, NoInformationLeavesTheFrameToTheUnwinder) {
    EXPECT_EQ(frames::kUnwinder, frames::ReadFrameRule(ResumeOf(0)).Kind());
}

// A rule kept for code that is no longer there (its check differs) is not
// applied: the table reads the rule again and keeps the new one.
TEST(FrameRule, TheTableRereadsARuleWhoseCodeChanged) {
    CRegisteredFrames registered;
    const std::uintptr_t resume = ResumeOf(1); // "push rbp"
    const frames::SFrameRule truth = frames::ReadFrameRule(resume);
    ASSERT_EQ(truth.Bits(), frames::FrameRuleFor(resume).Bits());
    frames::SRuleSlot* slot = nullptr;
    for (frames::SRuleSlot& candidate : frames::g_ruleSlots) {
        slot = candidate.resume.load() == resume ? &candidate : slot;
    }
    ASSERT_NE(nullptr, slot);
    const frames::SFrameRule stale = frames::SFrameRule::Make(kStep, true, 4096, 0);
    const std::uint64_t otherCode = frames::CodeBefore(resume) ^ 0x5a5a5a5au;
    slot->entry.store(otherCode << 32 | stale.Bits());
    EXPECT_EQ(truth.Bits(), frames::FrameRuleFor(resume).Bits());
    EXPECT_EQ(static_cast<std::uint64_t>(frames::CodeBefore(resume)) << 32 | truth.Bits(),
              slot->entry.load());
}

} // namespace OrvexTest
