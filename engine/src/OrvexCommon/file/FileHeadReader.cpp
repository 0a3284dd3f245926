// The head readers: one algorithm over two sources of bytes.
#include "OrvexCommon/file/detail/FileHeadReader.h"
#include "OrvexCommon/file/detail/FileReader.h"
#include "OrvexCommon/file/detail/FileSource.h"

#include <cstring>

namespace Orvex {
namespace detail {

namespace {

// Bytes of the head's fixed fields.
constexpr std::uint64_t kGroupFields = 8; // type, name count
constexpr std::uint64_t kNameLengthField = 4;
constexpr std::uint64_t kExtraSizeField = 4;

// The bytes of a buffer between its position and its end.
class MemorySource {
public:
    explicit MemorySource(SLoadBuffer& buffer) : m_buffer(buffer) {}
    std::uint32_t Left() const { return m_buffer.end - m_buffer.pos; }
    bool Read(unsigned char* out, std::uint32_t n) {
        if (n > Left()) {
            return false;
        }
        std::memcpy(out, m_buffer.origin + m_buffer.pos, n);
        m_buffer.pos += n;
        return true;
    }

private:
    SLoadBuffer& m_buffer;
};

// The bytes of a reader between its position and its effective size.
class ReaderSource {
public:
    explicit ReaderSource(SFileReader& reader) : m_reader(reader) {}
    std::uint32_t Left() const {
        const std::uint32_t size = EffectiveSize(m_reader);
        return size > m_reader.position ? size - m_reader.position : 0;
    }
    bool Read(unsigned char* out, std::uint32_t n) {
        if (n > Left()) {
            return false; // checked first so that a failed field is not consumed
        }
        std::memset(out, 0, n); // what the file does not hold reads as zeros
        return n == 0 || ReadFrom(m_reader, out, n) == static_cast<std::int32_t>(n);
    }

private:
    SFileReader& m_reader;
};

// A source file's bytes from a position on, read through its source.
class SourceFileSource {
public:
    SourceFileSource(SSourceFile& file, std::uint32_t& position)
        : m_file(file), m_position(position) {}
    std::uint32_t Left() const { return m_file.size - m_position; }
    bool Read(unsigned char* out, std::uint32_t n) {
        if (n > Left()) {
            return false;
        }
        if (n > 0 && !m_file.source->ReadRange(m_file, m_position, n, out)) {
            return false;
        }
        m_position += n;
        return true;
    }

private:
    SSourceFile& m_file;
    std::uint32_t& m_position;
};

template <typename Source> bool Read32(Source& source, std::uint32_t& value) {
    unsigned char bytes[4];
    if (!source.Read(bytes, 4)) {
        return false;
    }
    value = ReadLittleEndian32(bytes);
    return true;
}

template <typename Source> bool ReadName(Source& source, CDependentRes& group, std::uint32_t slot) {
    std::uint32_t length = 0;
    if (!Read32(source, length) || length > kMaxHeadNameLength) {
        return false;
    }
    unsigned char units[2 * kMaxHeadNameLength];
    if (!source.Read(units, 2 * length)) {
        return false;
    }
    wchar_t name[kMaxHeadNameLength + 1];
    for (std::uint32_t k = 0; k < length; ++k) {
        name[k] = static_cast<wchar_t>(units[2 * k] | (units[2 * k + 1] << 8));
    }
    name[length] = 0;
    group.SetFileName(slot, name);
    return group.GetFileName(slot) != nullptr; // null: no memory for the copy
}

template <typename Source> bool ReadHead(Source& source, CCommonFileHead& head) {
    unsigned char start[8];
    if (!source.Read(start, 8)) {
        head = CCommonFileHead();
        return false;
    }
    const auto type = static_cast<std::int32_t>(ReadLittleEndian32(start));
    head = CCommonFileHead(static_cast<EFileType>(type), ReadLittleEndian32(start + 4));
    if (type != eFT_None && !IsLetterFileType(type)) {
        return false;
    }
    std::uint32_t groupCount = 0;
    if (!Read32(source, groupCount) ||
        groupCount * kGroupFields + kExtraSizeField > source.Left()) {
        return false;
    }
    head.Resize(groupCount);
    if (head.GetDependentResCount() != groupCount) {
        return false;
    }
    for (std::uint32_t i = 0; i < groupCount; ++i) {
        std::uint32_t groupType = 0;
        std::uint32_t nameCount = 0;
        if (!Read32(source, groupType) || !Read32(source, nameCount)) {
            return false;
        }
        // The names, the groups after this one and the extra data size.
        const std::uint64_t least =
            nameCount * kNameLengthField + (groupCount - i - 1) * kGroupFields + kExtraSizeField;
        if (least > source.Left()) {
            return false;
        }
        CDependentRes& group = head.GetDependentRes(i);
        group = CDependentRes(static_cast<EFileType>(groupType));
        group.Resize(nameCount);
        if (group.GetFileCount() != nameCount) {
            return false;
        }
        for (std::uint32_t j = 0; j < nameCount; ++j) {
            if (!ReadName(source, group, j)) {
                return false;
            }
        }
    }
    std::uint32_t extraSize = 0;
    if (!Read32(source, extraSize)) {
        return false;
    }
    head.SetExtraDataSize(extraSize);
    return true;
}

} // namespace

bool IsLetterFileType(std::int32_t type) {
    switch (type) {
    case eFT_Sce:
    case eFT_Anf:
    case eFT_Gui:
    case eFT_Tsk:
    case eFT_Map:
    case eFT_Mtr:
    case eFT_Ams:
    case eFT_Ans:
    case eFT_Eft:
    case eFT_Tex:
    case eFT_Gfx:
        return true;
    default:
        return false;
    }
}

bool ReadFileHead(SLoadBuffer& buffer, CCommonFileHead& head) {
    if (buffer.origin == nullptr || buffer.pos < buffer.start || buffer.pos > buffer.end) {
        return false;
    }
    MemorySource source(buffer);
    return ReadHead(source, head);
}

bool ReadFileHead(SFileReader& reader, CCommonFileHead& head) {
    ReaderSource source(reader);
    return ReadHead(source, head);
}

bool ReadFileHead(SSourceFile& file, std::uint32_t& position, CCommonFileHead& head) {
    if (position > file.size) {
        return false;
    }
    SourceFileSource source(file, position);
    return ReadHead(source, head);
}

} // namespace detail
} // namespace Orvex
