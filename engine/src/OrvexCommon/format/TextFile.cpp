// Reading configuration and table files: whole-file reads, marks, decoders.
#include "OrvexCommon/format/detail/TextFile.h"
#include "OrvexCommon/file/OrvexFile.h"
#include "OrvexCommon/text/OrvexText.h"

#include <cstring>

namespace Orvex {
namespace detail {

namespace {

// Buffers stay below 2 GiB, whatever the padding.
constexpr std::uint64_t kMaxFileBytes = 0x7FFFFFFFu;

// Gives the file object back whichever way the read ends.
struct FileObject {
    IReadFile* file;
    ~FileObject() {
        if (file != nullptr) {
            file->Release();
        }
    }
};

} // namespace

bool FileBytes::ReadWholeFile(const wchar_t* fileName, std::uint32_t padding) {
    FileObject object{GetOrvexFileMgr().CreateReadFile()};
    if (object.file == nullptr || !object.file->Open(fileName)) {
        return false;
    }
    const std::uint32_t size = object.file->GetSize();
    if (size == 0 || static_cast<std::uint64_t>(size) + padding > kMaxFileBytes) {
        return false;
    }
    unsigned char* bytes = static_cast<unsigned char*>(OrvexAlloc(size + padding));
    if (bytes == nullptr) {
        return false;
    }
    const std::int32_t read = object.file->Read(bytes, size);
    // A file that shrank since it was opened is taken as far as it was read.
    if (read <= 0) {
        OrvexFree(bytes);
        return false;
    }
    std::memset(bytes + read, 0, size - static_cast<std::uint32_t>(read) + padding);
    OrvexFree(m_bytes);
    m_bytes = bytes;
    m_size = static_cast<std::uint32_t>(read);
    return true;
}

ETextMark FindTextMark(const unsigned char* bytes, std::uint32_t size) {
    if (size >= kUtf8MarkBytes && bytes[0] == 0xEF && bytes[1] == 0xBB && bytes[2] == 0xBF) {
        return ETextMark::Utf8;
    }
    if (size >= kUtf16MarkBytes && bytes[0] == 0xFF && bytes[1] == 0xFE) {
        return ETextMark::Utf16;
    }
    return ETextMark::None;
}

void DecodeUtf8(const unsigned char* bytes, std::uint32_t room, WideText& text) {
    text.resize(room);
    const unsigned written =
        Utf8ToUcs(reinterpret_cast<const char*>(bytes), text.data(), static_cast<unsigned>(room));
    text.resize(written > room ? room : written);
}

void AppendUtf16(const unsigned char* bytes, std::uint32_t count, WideText& text) {
    const std::size_t first = text.size();
    text.resize(first + count);
    wchar_t* out = text.data() + first;
    for (std::uint32_t unit = 0; unit < count; ++unit) {
        out[unit] = static_cast<wchar_t>(bytes[2 * unit] | (bytes[2 * unit + 1] << 8));
    }
}

} // namespace detail
} // namespace Orvex
