// Common file heads from arbitrary bytes, through both readers: out of memory
// (a buffer whose bytes before `start` are poisoned and which ends exactly at
// `end`, so ASan sees any read outside [start, end)) and through a file reader
// on a scratch file (with, now and then, a patch size override that cuts the
// file short or lengthens it with zeros). A plain model of the layout says
// what each reader must give: success, the position reached and the head,
// also after a failure. Each head read is then copied and assigned, the
// copies compared with it, and everything destroyed: the pooled allocator
// must be back where it started.
//
// Input layout (bytes past the end read as zero):
//   byte 0     flags: 1 the memory reader's pos may lie anywhere in [0, n + 1]
//              (outside [start, end] too), 2 the file reader's owner has a
//              size override
//   bytes 1-2  start, taken modulo n + 1 (n: the length of the data)
//   bytes 3-4  how far end lies before n, modulo n - start + 1
//   bytes 5-6  pos: start plus this modulo end - start + 1 (flag 1: modulo
//              n + 2); also the file reader's position
//   bytes 7-8  the size override, modulo n + 65
//   then       the data
#include "OrvexCommon/file/OrvexFileHead.h"
#include "OrvexCommon/file/detail/FileHeadReader.h"
#include "OrvexCommon/file/detail/FileReader.h"
#include "OrvexCommon/memory/OrvexMemory.h"
#include "OrvexCommon/platform/OrvexPlatform.h"

#include "FuzzScratchFile.h"

#include <sanitizer/asan_interface.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <system_error>
#include <utility>
#include <vector>

namespace {

using Orvex::CCommonFileHead;
using Orvex::CDependentRes;

void Check(bool condition, const char* what) {
    if (!condition) {
        std::fprintf(stderr, "fuzz_filehead: %s\n", what);
        std::abort();
    }
}

// A head as plain values; a slot is (set, name).
struct Shape {
    struct Group {
        std::uint32_t type = 0xFFFFFFFF;
        std::vector<std::pair<bool, std::wstring>> names;
        bool operator==(const Group& other) const {
            return type == other.type && names == other.names;
        }
    };
    std::uint32_t type = 0xFFFFFFFF;
    std::uint32_t version = 0;
    std::uint32_t extra = 0;
    std::vector<Group> groups;
    bool operator==(const Shape& other) const {
        return type == other.type && version == other.version && extra == other.extra &&
               groups == other.groups;
    }
};

Shape ShapeOf(const CCommonFileHead& head) {
    Shape shape;
    shape.type = static_cast<std::uint32_t>(head.GetType());
    shape.version = head.GetVersion();
    shape.extra = head.GetExtraDataSize();
    for (unsigned i = 0; i < head.GetDependentResCount(); ++i) {
        const CDependentRes& group = head.GetDependentRes(i);
        Shape::Group plain;
        plain.type = static_cast<std::uint32_t>(group.GetType());
        for (unsigned j = 0; j < group.GetFileCount(); ++j) {
            const wchar_t* name = group.GetFileName(j);
            plain.names.emplace_back(name != nullptr, name != nullptr ? name : L"");
        }
        shape.groups.push_back(plain);
    }
    return shape;
}

// What a reader must give for bytes[pos, limit), worked out field by field
// from the documented layout and checks.
struct Expected {
    bool ok = false;
    std::uint32_t pos = 0;
    Shape shape;

    Expected(const std::vector<unsigned char>& bytes, std::uint32_t from, std::uint32_t limit)
        : pos(from), m_bytes(bytes), m_limit(limit) {
        ok = Parse();
    }

private:
    bool Take(std::uint32_t n, std::uint32_t& at) {
        if (n > m_limit - pos) {
            return false;
        }
        at = pos;
        pos += n;
        return true;
    }
    bool Take32(std::uint32_t& value) {
        std::uint32_t at = 0;
        if (!Take(4, at)) {
            return false;
        }
        value = m_bytes[at] | m_bytes[at + 1] << 8 | m_bytes[at + 2] << 16 |
                static_cast<std::uint32_t>(m_bytes[at + 3]) << 24;
        return true;
    }
    bool Parse() {
        if (m_limit - pos < 8) {
            return false;
        }
        Take32(shape.type);
        Take32(shape.version);
        if (shape.type != 0xFFFFFFFF &&
            !Orvex::detail::IsLetterFileType(static_cast<std::int32_t>(shape.type))) {
            return false;
        }
        std::uint32_t groupCount = 0;
        if (!Take32(groupCount) || groupCount * 8ull + 4 > m_limit - pos) {
            return false;
        }
        shape.groups.resize(groupCount);
        for (std::uint32_t i = 0; i < groupCount; ++i) {
            std::uint32_t type = 0;
            std::uint32_t count = 0;
            if (!Take32(type) || !Take32(count) ||
                count * 4ull + (groupCount - i - 1) * 8ull + 4 > m_limit - pos) {
                return false;
            }
            Shape::Group& group = shape.groups[i];
            group.type = type;
            group.names.assign(count, {false, std::wstring()});
            for (std::uint32_t j = 0; j < count; ++j) {
                std::uint32_t length = 0;
                std::uint32_t at = 0;
                if (!Take32(length) || length > Orvex::detail::kMaxHeadNameLength ||
                    !Take(2 * length, at)) {
                    return false;
                }
                std::wstring name;
                for (std::uint32_t k = 0; k < length; ++k) {
                    const unsigned unit = m_bytes[at + 2 * k] | m_bytes[at + 2 * k + 1] << 8;
                    if (unit == 0) {
                        break;
                    }
                    name.push_back(static_cast<wchar_t>(unit));
                }
                group.names[j] = {true, name};
            }
        }
        return Take32(shape.extra);
    }

    const std::vector<unsigned char>& m_bytes;
    std::uint32_t m_limit;
};

// Copies and assignments must reproduce the head exactly.
void CheckCopies(const CCommonFileHead& head) {
    const Shape shape = ShapeOf(head);
    CCommonFileHead copy(head);
    Check(ShapeOf(copy) == shape, "a copy differs from its head");
    CCommonFileHead assigned(Orvex::eFT_Gfx, 5);
    assigned.PushDependentRes(Orvex::eFT_Tex);
    assigned.GetDependentRes(0).PushFileName(L"to be replaced");
    assigned.PushDependentRes(Orvex::eFT_Mtr);
    assigned = copy;
    Check(ShapeOf(assigned) == shape, "an assigned head differs from its source");
    if (copy.GetDependentResCount() > 0 && copy.GetDependentRes(0).GetFileCount() > 0) {
        copy.GetDependentRes(0).SetFileName(0, L"changed");
        Check(ShapeOf(head) == shape, "changing a copy changed its source");
    }
}

// One scratch file for this process.
struct ScratchFile : FuzzScratchFile {
    ScratchFile() : FuzzScratchFile("orvex_fuzz_filehead_", ".bin") {}
};

const ScratchFile& Scratch() {
    static const ScratchFile scratch;
    return scratch;
}

void ReadFromMemory(const std::vector<unsigned char>& data, unsigned flags, std::uint32_t a,
                    std::uint32_t b, std::uint32_t c) {
    const auto n = static_cast<std::uint32_t>(data.size());
    const std::uint32_t start = a % (n + 1);
    const std::uint32_t end = n - b % (n - start + 1);
    std::uint32_t pos = start + c % (end - start + 1);
    if ((flags & 1) != 0) {
        pos = c % (n + 2);
    }
    // Exactly [0, end) allocated, [0, start) poisoned.
    std::unique_ptr<unsigned char[]> block(new unsigned char[end]);
    std::copy(data.begin(), data.begin() + end, block.get());
    ASAN_POISON_MEMORY_REGION(block.get(), start);

    Orvex::SLoadBuffer buffer{block.get(), pos, end, start};
    CCommonFileHead head;
    const bool ok = Orvex::detail::ReadFileHead(buffer, head);
    if (pos < start || pos > end) {
        Check(!ok && buffer.pos == pos && ShapeOf(head) == Shape(),
              "a position outside [start, end] was read from");
    } else {
        const Expected expected(data, pos, end);
        Check(ok == expected.ok, "the memory reader's verdict is wrong");
        Check(buffer.pos == expected.pos, "the memory reader stopped at the wrong position");
        Check(ShapeOf(head) == expected.shape, "the memory reader gave the wrong head");
    }
    CheckCopies(head);
    ASAN_UNPOISON_MEMORY_REGION(block.get(), start);
}

void ReadFromFile(const std::vector<unsigned char>& data, unsigned flags, std::uint32_t c,
                  std::uint32_t d) {
    const auto n = static_cast<std::uint32_t>(data.size());
    const ScratchFile& scratch = Scratch();
    scratch.Write(data.data(), data.size());
    Orvex::detail::SPackage owner;
    Orvex::detail::SFilePatch patch;
    Orvex::detail::SFileReader reader;
    Check(Orvex::detail::OpenReader(reader, scratch.wide.c_str()), "cannot open the scratch file");
    if ((flags & 2) != 0) {
        patch.sizeOverride = static_cast<std::int32_t>(d % (n + 65));
        owner.patch = &patch;
        reader.owner = &owner;
    }
    const std::uint32_t extent = Orvex::detail::EffectiveSize(reader);
    Orvex::detail::MoveTo(reader, c % (n + 2));
    const std::uint32_t pos = reader.position;

    std::vector<unsigned char> bytes(data.begin(), data.begin() + std::min(n, extent));
    bytes.resize(extent, 0); // what the file does not hold reads as zeros
    CCommonFileHead head;
    const bool ok = Orvex::detail::ReadFileHead(reader, head);
    Orvex::detail::CloseReader(reader);
    const Expected expected(bytes, pos, extent);
    Check(ok == expected.ok, "the file reader's verdict is wrong");
    Check(reader.position == expected.pos, "the file reader stopped at the wrong position");
    Check(ShapeOf(head) == expected.shape, "the file reader gave the wrong head");
    CheckCopies(head);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    auto byte = [&](std::size_t i) -> std::uint32_t { return i < size ? data[i] : 0; };
    auto take16 = [&](std::size_t i) { return byte(i) << 8 | byte(i + 1); };
    const unsigned flags = byte(0);
    const std::uint32_t a = take16(1);
    const std::uint32_t b = take16(3);
    const std::uint32_t c = take16(5);
    const std::uint32_t d = take16(7);
    const std::vector<unsigned char> bytes(data + std::min<std::size_t>(size, 9), data + size);

    const long long allocated = GetTotalAllocSize();
    ReadFromMemory(bytes, flags, a, b, c);
    ReadFromFile(bytes, flags, c, d);
    Check(GetTotalAllocSize() == allocated, "heads leaked pooled memory");
    return 0;
}
