// Reader records over the runtime's streams.
#include "OrvexCommon/file/detail/FileReader.h"
#include "OrvexCommon/file/detail/Patch.h"
#include "OrvexCommon/platform/OrvexSys.h"

#include <algorithm>
#include <cstring>

namespace Orvex {
namespace detail {

std::uint32_t EffectiveSize(const SFileReader& reader) {
    if (reader.owner != nullptr && reader.owner->patch != nullptr &&
        reader.owner->patch->sizeOverride != -1) {
        return static_cast<std::uint32_t>(reader.owner->patch->sizeOverride);
    }
    return reader.size;
}

std::int32_t ReadFrom(SFileReader& reader, void* buffer, std::uint32_t n) {
    if (reader.handle == nullptr && reader.owner == nullptr) {
        return -1;
    }
    const std::uint32_t size = EffectiveSize(reader);
    if (size < reader.position) {
        return -1;
    }
    // 64-bit so that position + n cannot wrap.
    const std::uint64_t wanted = static_cast<std::uint64_t>(reader.position) + n;
    const std::uint32_t end = static_cast<std::uint32_t>(std::min<std::uint64_t>(wanted, size));
    const std::uint32_t length = end - reader.position;
    if (reader.handle != nullptr && length > 0) {
        // A file that shrank since it was measured yields fewer: the rest
        // reads as zeros, never as what the buffer held before.
        const std::size_t got = std::fread(buffer, 1, length, reader.handle);
        if (got < length) {
            std::memset(static_cast<unsigned char*>(buffer) + got, 0, length - got);
        }
    }
    if (reader.owner != nullptr && reader.owner->patch != nullptr) {
        ApplyPatch(*reader.owner->patch, static_cast<unsigned char*>(buffer), reader.position,
                   length);
    }
    reader.position = end;
    return static_cast<std::int32_t>(length);
}

std::uint32_t ReadAt(SFileReader& reader, std::uint32_t position, unsigned char* out,
                     std::uint32_t n) {
    if (reader.handle == nullptr && n > 0) {
        std::memset(out, 0, n); // a patch alone covers only some bytes
    }
    if (reader.position != position) {
        MoveTo(reader, position);
    }
    const std::int32_t taken = ReadFrom(reader, out, n);
    const std::uint32_t held = taken < 0 ? 0 : static_cast<std::uint32_t>(taken);
    if (held < n) {
        std::memset(out + held, 0, n - held);
    }
    return held;
}

void MoveTo(SFileReader& reader, std::uint32_t position) {
    reader.position = std::min(position, EffectiveSize(reader));
    if (reader.handle != nullptr) {
        (void)sys::SeekStream(reader.handle, position);
    }
}

bool StreamLength(std::FILE* stream, std::uint32_t& length) {
    std::uint64_t bytes = 0;
    if (!sys::StreamLength(stream, bytes) || bytes > 0xFFFFFFFFu) {
        return false;
    }
    length = static_cast<std::uint32_t>(bytes);
    return true;
}

bool OpenReader(SFileReader& reader, const wchar_t* path) {
    reader = SFileReader();
    std::FILE* stream = sys::OpenFileStream(path, "rb");
    if (stream == nullptr) {
        return false;
    }
    if (!StreamLength(stream, reader.size)) {
        std::fclose(stream);
        return false;
    }
    reader.handle = stream;
    return true;
}

void CloseReader(SFileReader& reader) {
    if (reader.handle != nullptr) {
        std::fclose(reader.handle);
        reader.handle = nullptr;
    }
}

} // namespace detail
} // namespace Orvex
