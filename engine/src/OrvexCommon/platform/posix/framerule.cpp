// The rule of one return address, read from the call frame information the
// runtime's unwinder finds for it (_Unwind_Find_FDE: the same lookup, so the
// same FDE). Only the CFA, the return address and BP are followed; any rule
// for them beyond offsets from SP or BP and saved slots gives kUnwinder, and
// so does anything in the program this reader does not know.
#include "OrvexCommon/platform/posix/FrameRule.h"

#include <cstring>

namespace {

// The runtime's FDE lookup, which unwind.h does not declare.
struct SEhBases {
    void* textBase;
    void* dataBase;
    void* function; // the start of the function the FDE covers
};

} // namespace

extern "C" const void* _Unwind_Find_FDE(void* pc, SEhBases* bases);

namespace Orvex {
namespace sys {
namespace frames {
namespace {

// DWARF register numbers of the stack pointer, the frame pointer and the
// return-address column.
constexpr unsigned kSpRegister = 7;
constexpr unsigned kBpRegister = 6;
constexpr unsigned kReturnColumn = 16;
constexpr std::int64_t kWord = 8;

// What a register's rule is, as far as this walk cares.
enum RegisterRule : std::uint8_t { kSameValue, kAtOffset, kUndefined, kComplex };

struct STrack {
    RegisterRule how;
    std::int64_t offset; // from the CFA, for kAtOffset
};

struct SState {
    unsigned cfaRegister;
    std::int64_t cfaOffset;
    bool cfaComplex;
    STrack sp; // a rule for SP itself would replace "the caller's SP is the CFA"
    STrack bp;
    STrack ret;
};

constexpr int kMaxRemembered = 8;

// Reads the encoded values of a CIE or FDE; any read past `end` fails.
class Reader {
public:
    Reader(const unsigned char* at, const unsigned char* end) : m_at(at), m_end(end) {}

    bool Ok() const { return m_ok; }
    const unsigned char* At() const { return m_at; }
    bool AtEnd() const { return m_at >= m_end; }

    std::uint64_t Fixed(unsigned size) {
        std::uint64_t value = 0;
        if (!Have(size)) {
            return 0;
        }
        std::memcpy(&value, m_at, size); // little-endian targets only
        m_at += size;
        return value;
    }

    std::uint64_t Uleb() {
        std::uint64_t value = 0;
        for (unsigned shift = 0; Have(1); shift += 7) {
            const unsigned char byte = *m_at++;
            if (shift < 64) {
                value |= static_cast<std::uint64_t>(byte & 0x7f) << shift;
            }
            if ((byte & 0x80) == 0) {
                return value;
            }
        }
        return 0;
    }

    std::int64_t Sleb() {
        std::uint64_t value = 0;
        unsigned shift = 0;
        unsigned char byte = 0;
        do {
            if (!Have(1)) {
                return 0;
            }
            byte = *m_at++;
            if (shift < 64) {
                value |= static_cast<std::uint64_t>(byte & 0x7f) << shift;
            }
            shift += 7;
        } while (byte & 0x80);
        if (shift < 64 && (byte & 0x40)) {
            value |= ~std::uint64_t{0} << shift;
        }
        return static_cast<std::int64_t>(value);
    }

    // Steps over a pointer in the given DW_EH_PE encoding; false for an
    // encoding whose size is not fixed by its low bits.
    bool SkipEncoded(unsigned char encoding) {
        switch (encoding & 0x0f) {
        case 0x00: // absolute
            return Skip(sizeof(void*));
        case 0x01: // uleb128
            Uleb();
            return m_ok;
        case 0x09: // sleb128
            Sleb();
            return m_ok;
        case 0x02:
        case 0x0a:
            return Skip(2);
        case 0x03:
        case 0x0b:
            return Skip(4);
        case 0x04:
        case 0x0c:
            return Skip(8);
        default:
            return false;
        }
    }

    bool Skip(std::uint64_t size) {
        if (!Have(size)) {
            return false;
        }
        m_at += size;
        return true;
    }

private:
    bool Have(std::uint64_t size) {
        if (static_cast<std::uint64_t>(m_end - m_at) < size) {
            m_ok = false;
            m_at = m_end;
        }
        return m_ok;
    }

    const unsigned char* m_at;
    const unsigned char* m_end;
    bool m_ok = true;
};

// One CIE or FDE: where its body starts and ends. Records with the 64-bit
// length form do not occur in .eh_frame in practice and are refused.
bool RecordBounds(const unsigned char* record, const unsigned char*& body,
                  const unsigned char*& end) {
    std::uint32_t length;
    std::memcpy(&length, record, sizeof(length));
    if (length == 0 || length == 0xffffffffu) {
        return false;
    }
    body = record + sizeof(length);
    end = body + length;
    return true;
}

// What the CIE holds for this walk.
struct SCie {
    std::uint64_t codeAlign;
    std::int64_t dataAlign;
    unsigned char fdeEncoding;
    bool hasAugmentationData;
    const unsigned char* program;
    const unsigned char* programEnd;
};

bool ReadCie(const unsigned char* record, SCie& cie) {
    const unsigned char* body;
    const unsigned char* end;
    if (!RecordBounds(record, body, end)) {
        return false;
    }
    Reader in(body, end);
    const std::uint64_t id = in.Fixed(4);
    const std::uint64_t version = in.Fixed(1);
    if (id != 0 || (version != 1 && version != 3)) {
        return false;
    }
    const char* augmentation = reinterpret_cast<const char*>(in.At());
    const std::size_t augmentationLength =
        strnlen(augmentation, static_cast<std::size_t>(end - in.At()));
    in.Skip(augmentationLength + 1);
    cie.codeAlign = in.Uleb();
    cie.dataAlign = in.Sleb();
    const std::uint64_t returnColumn = version == 1 ? in.Fixed(1) : in.Uleb();
    if (!in.Ok() || returnColumn != kReturnColumn) {
        return false;
    }
    cie.fdeEncoding = 0;
    cie.hasAugmentationData = augmentation[0] == 'z';
    if (augmentation[0] != '\0' && !cie.hasAugmentationData) {
        return false;
    }
    const unsigned char* dataEnd = nullptr;
    if (cie.hasAugmentationData) {
        const std::uint64_t dataLength = in.Uleb();
        dataEnd = in.At() + dataLength;
    }
    for (std::size_t i = 1; i < augmentationLength && in.Ok(); ++i) {
        switch (augmentation[i]) {
        case 'R':
            cie.fdeEncoding = static_cast<unsigned char>(in.Fixed(1));
            break;
        case 'L':
            in.Fixed(1);
            break;
        case 'P': {
            const unsigned char encoding = static_cast<unsigned char>(in.Fixed(1));
            if (!in.SkipEncoded(encoding)) {
                return false;
            }
            break;
        }
        default: // 'S' marks a signal frame; anything else is unknown here
            return false;
        }
    }
    if (!in.Ok()) {
        return false;
    }
    cie.program = cie.hasAugmentationData ? dataEnd : in.At();
    cie.programEnd = end;
    return cie.program <= end;
}

void SetRule(SState& state, std::uint64_t reg, RegisterRule how, std::int64_t offset) {
    STrack* track = reg == kBpRegister     ? &state.bp
                    : reg == kReturnColumn ? &state.ret
                    : reg == kSpRegister   ? &state.sp
                                           : nullptr;
    if (track != nullptr) {
        *track = STrack{how, offset};
    }
}

// DW_CFA_restore leaves the register unsaved, as the runtime's unwinder does
// (not the CIE's rule): the walks must agree even where that differs.
void RestoreRule(SState& state, std::uint64_t reg) {
    SetRule(state, reg, kSameValue, 0);
}

// Runs a CFA program from location `location` until the row that covers
// `target` (the instruction before the return address). False on anything
// this reader does not follow.
bool RunProgram(const SCie& cie, const unsigned char* program, const unsigned char* end,
                std::uintptr_t location, std::uintptr_t target, SState& state) {
    SState remembered[kMaxRemembered];
    int depth = 0;
    Reader in(program, end);
    while (!in.AtEnd() && location <= target) {
        const unsigned char op = static_cast<unsigned char>(in.Fixed(1));
        const unsigned char low = op & 0x3f;
        switch (op >> 6) {
        case 1: // DW_CFA_advance_loc
            location += low * cie.codeAlign;
            continue;
        case 2: // DW_CFA_offset
            SetRule(state, low, kAtOffset, static_cast<std::int64_t>(in.Uleb()) * cie.dataAlign);
            continue;
        case 3: // DW_CFA_restore
            RestoreRule(state, low);
            continue;
        default:
            break;
        }
        switch (op) {
        case 0x00: // DW_CFA_nop
            break;
        case 0x02: // DW_CFA_advance_loc1
            location += in.Fixed(1) * cie.codeAlign;
            break;
        case 0x03: // DW_CFA_advance_loc2
            location += in.Fixed(2) * cie.codeAlign;
            break;
        case 0x04: // DW_CFA_advance_loc4
            location += in.Fixed(4) * cie.codeAlign;
            break;
        case 0x05: { // DW_CFA_offset_extended
            const std::uint64_t reg = in.Uleb();
            SetRule(state, reg, kAtOffset, static_cast<std::int64_t>(in.Uleb()) * cie.dataAlign);
            break;
        }
        case 0x06: // DW_CFA_restore_extended
            RestoreRule(state, in.Uleb());
            break;
        case 0x07: // DW_CFA_undefined
            SetRule(state, in.Uleb(), kUndefined, 0);
            break;
        case 0x08: // DW_CFA_same_value
            SetRule(state, in.Uleb(), kSameValue, 0);
            break;
        case 0x09: { // DW_CFA_register
            const std::uint64_t reg = in.Uleb();
            in.Uleb();
            SetRule(state, reg, kComplex, 0);
            break;
        }
        case 0x0a: // DW_CFA_remember_state
            if (depth == kMaxRemembered) {
                return false;
            }
            remembered[depth++] = state;
            break;
        case 0x0b: // DW_CFA_restore_state
            if (depth == 0) {
                return false;
            }
            state = remembered[--depth];
            break;
        case 0x0c: // DW_CFA_def_cfa
            state.cfaRegister = static_cast<unsigned>(in.Uleb());
            state.cfaOffset = static_cast<std::int64_t>(in.Uleb());
            state.cfaComplex = false;
            break;
        case 0x0d: // DW_CFA_def_cfa_register
            state.cfaRegister = static_cast<unsigned>(in.Uleb());
            state.cfaComplex = false;
            break;
        case 0x0e: // DW_CFA_def_cfa_offset
            state.cfaOffset = static_cast<std::int64_t>(in.Uleb());
            break;
        case 0x0f: // DW_CFA_def_cfa_expression
            in.Skip(in.Uleb());
            state.cfaComplex = true;
            break;
        case 0x10:   // DW_CFA_expression
        case 0x16: { // DW_CFA_val_expression
            const std::uint64_t reg = in.Uleb();
            in.Skip(in.Uleb());
            SetRule(state, reg, kComplex, 0);
            break;
        }
        case 0x11: { // DW_CFA_offset_extended_sf
            const std::uint64_t reg = in.Uleb();
            SetRule(state, reg, kAtOffset, in.Sleb() * cie.dataAlign);
            break;
        }
        case 0x12: // DW_CFA_def_cfa_sf
            state.cfaRegister = static_cast<unsigned>(in.Uleb());
            state.cfaOffset = in.Sleb() * cie.dataAlign;
            state.cfaComplex = false;
            break;
        case 0x13: // DW_CFA_def_cfa_offset_sf
            state.cfaOffset = in.Sleb() * cie.dataAlign;
            break;
        case 0x14: { // DW_CFA_val_offset
            const std::uint64_t reg = in.Uleb();
            in.Uleb();
            SetRule(state, reg, kComplex, 0);
            break;
        }
        case 0x15: { // DW_CFA_val_offset_sf
            const std::uint64_t reg = in.Uleb();
            in.Sleb();
            SetRule(state, reg, kComplex, 0);
            break;
        }
        case 0x2e: // DW_CFA_GNU_args_size: matters only when landing in a handler
            in.Uleb();
            break;
        case 0x2f: { // DW_CFA_GNU_negative_offset_extended
            const std::uint64_t reg = in.Uleb();
            SetRule(state, reg, kAtOffset, -static_cast<std::int64_t>(in.Uleb()) * cie.dataAlign);
            break;
        }
        default: // DW_CFA_set_loc and anything vendor-specific
            return false;
        }
        if (!in.Ok()) {
            return false;
        }
    }
    return in.Ok();
}

// The final row as a rule, when this walk can follow it.
SFrameRule RuleOf(const SState& state) {
    const SFrameRule unwinder = SFrameRule::Of(kUnwinder);
    if (state.ret.how == kUndefined) {
        return SFrameRule::Of(kOutermost);
    }
    const bool cfaSimple = !state.cfaComplex &&
                           (state.cfaRegister == kSpRegister || state.cfaRegister == kBpRegister) &&
                           state.cfaOffset >= 0 && state.cfaOffset <= kMaxCfaOffset;
    const bool returnSimple = state.ret.how == kAtOffset && state.ret.offset == -kWord;
    if (!cfaSimple || !returnSimple || state.sp.how != kSameValue) {
        return unwinder;
    }
    std::uint32_t savedBpSlot = 0;
    if (state.bp.how == kAtOffset) {
        const std::int64_t slot = -state.bp.offset / kWord;
        if (state.bp.offset % kWord != 0 || slot < 1 || slot > kMaxSavedBpSlot) {
            return unwinder;
        }
        savedBpSlot = static_cast<std::uint32_t>(slot);
    } else if (state.bp.how == kComplex) {
        return unwinder;
    }
    return SFrameRule::Make(kStep, state.cfaRegister == kBpRegister,
                            static_cast<std::uint32_t>(state.cfaOffset), savedBpSlot);
}

} // namespace

SFrameRule ReadFrameRule(std::uintptr_t resume) {
    const SFrameRule unwinder = SFrameRule::Of(kUnwinder);
    // The call instruction ends just before the return address: its row is
    // the one that holds for the frame.
    const std::uintptr_t target = resume - 1;
    SEhBases bases{};
    const auto* fde = static_cast<const unsigned char*>(
        _Unwind_Find_FDE(reinterpret_cast<void*>(target), &bases));
    const unsigned char* body;
    const unsigned char* end;
    if (fde == nullptr || !RecordBounds(fde, body, end)) {
        return unwinder;
    }
    std::uint32_t cieDistance;
    std::memcpy(&cieDistance, body, sizeof(cieDistance));
    SCie cie;
    if (!ReadCie(body - cieDistance, cie)) {
        return unwinder;
    }
    Reader in(body + sizeof(cieDistance), end);
    // The start (the lookup gave it) and the length.
    bool readable = in.SkipEncoded(cie.fdeEncoding) && in.SkipEncoded(cie.fdeEncoding & 0x0f);
    if (cie.hasAugmentationData) {
        readable = readable && in.Skip(in.Uleb());
    }
    if (!readable || !in.Ok()) {
        return unwinder;
    }
    const auto start = reinterpret_cast<std::uintptr_t>(bases.function);
    if (resume - start < kCheckedBytes) {
        return unwinder; // the table's check would read before the function
    }
    SState state{kSpRegister, 0, false, {kSameValue, 0}, {kSameValue, 0}, {kSameValue, 0}};
    if (!RunProgram(cie, cie.program, cie.programEnd, start, target, state) ||
        !RunProgram(cie, in.At(), end, start, target, state)) {
        return unwinder;
    }
    return RuleOf(state);
}

} // namespace frames
} // namespace sys
} // namespace Orvex
