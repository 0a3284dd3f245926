// The package writer.
#include "OrvexCommon/file/detail/PackageWriter.h"
#include "OrvexCommon/file/detail/NameKey.h"
#include "OrvexCommon/file/detail/Scramble.h"
#include "OrvexCommon/platform/OrvexSys.h"

#include <algorithm>
#include <cstring>

namespace Orvex {
namespace detail {

namespace {

// Scrambled data is written through a bounce buffer of this size.
constexpr std::uint32_t kScrambleChunk = 64 * 1024;

void FillHeader(unsigned char* header, bool scrambled, std::uint32_t count,
                std::uint32_t indexOffset) {
    std::memset(header, 0, kPackageHeaderSize);
    WriteLittleEndian32(header, kPackageMagic);
    header[4] = scrambled ? 1 : 0;
    WriteLittleEndian32(header + 8, count);
    WriteLittleEndian32(header + 12, indexOffset);
}

} // namespace

PackageWriter::~PackageWriter() {
    if (m_file != nullptr) {
        std::fclose(m_file);
    }
}

bool PackageWriter::Open(const wchar_t* path, bool scrambled) {
    m_file = sys::OpenFileStream(path, "wb");
    m_scrambled = scrambled;
    m_failed = m_file == nullptr;
    m_position = 0;
    m_index.clear();
    unsigned char header[kPackageHeaderSize];
    FillHeader(header, scrambled, 0, 0);
    return Write(header, kPackageHeaderSize);
}

bool PackageWriter::Write(const void* bytes, std::uint32_t size) {
    if (size == 0) {
        return !m_failed; // an empty file or index may come without storage
    }
    if (m_failed || m_position + size > 0xFFFFFFFFu ||
        std::fwrite(bytes, 1, size, m_file) != size) {
        m_failed = true;
        return false;
    }
    m_position += size;
    return true;
}

bool PackageWriter::AddFile(const wchar_t* innerName, const void* bytes, std::uint32_t size,
                            std::uint32_t residentSize) {
    return AddFileWithKey(EntryKey(innerName), bytes, size, residentSize);
}

bool PackageWriter::AddFileWithKey(std::uint32_t key, const void* bytes, std::uint32_t size,
                                   std::uint32_t residentSize) {
    if (m_failed || m_position + size > 0xFFFFFFFFu) {
        m_failed = true;
        return false;
    }
    const auto offset = static_cast<std::uint32_t>(m_position);
    const auto* source = static_cast<const unsigned char*>(bytes);
    if (!m_scrambled) {
        if (!Write(source, size)) {
            return false;
        }
    } else {
        unsigned char chunk[kScrambleChunk];
        for (std::uint32_t done = 0; done < size;) {
            const std::uint32_t length = std::min(kScrambleChunk, size - done);
            std::memcpy(chunk, source + done, length);
            Descramble(chunk, offset + done, length);
            if (!Write(chunk, length)) {
                return false;
            }
            done += length;
        }
    }
    unsigned char entry[kPackageEntrySize] = {};
    WriteLittleEndian32(entry, key);
    WriteLittleEndian32(entry + 4, std::min(residentSize, size));
    WriteLittleEndian32(entry + 8, offset);
    WriteLittleEndian32(entry + 12, size);
    m_index.insert(m_index.end(), entry, entry + kPackageEntrySize);
    return true;
}

bool PackageWriter::Finish() {
    if (m_file == nullptr) {
        return false;
    }
    const auto indexOffset = static_cast<std::uint32_t>(m_position);
    const std::uint32_t count = FileCount();
    bool written = Write(m_index.data(), static_cast<std::uint32_t>(m_index.size()));
    unsigned char header[kPackageHeaderSize];
    FillHeader(header, m_scrambled, count, indexOffset);
    written = written && std::fseek(m_file, 0, SEEK_SET) == 0 &&
              std::fwrite(header, 1, kPackageHeaderSize, m_file) == kPackageHeaderSize;
    written = (std::fclose(m_file) == 0) && written;
    m_file = nullptr;
    return written;
}

} // namespace detail
} // namespace Orvex
