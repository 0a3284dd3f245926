// Reading a zip entry forward: the local header's checks, stored copies and
// inflating through zlib, the CRC-32 at the end.
#include "OrvexCommon/file/detail/ZipEntryStream.h"
#include "OrvexCommon/file/detail/ZipFormat.h"
#include "OrvexCommon/memory/OrvexMemory.h"

#include <zlib.h>

#include <algorithm>
#include <climits>
#include <new>

namespace Orvex {
namespace detail {

constexpr std::size_t kZipInputChunk = 16384;

struct SInflateState {
    z_stream stream;
    unsigned char input[kZipInputChunk];
};

namespace {

// zlib's memory comes from the pooled allocator, so that its faults and
// statistics cover inflating too.
voidpf PooledZlibAlloc(voidpf, uInt items, uInt size) {
    if (size != 0 && items > 0x7FFFFFF0u / size) {
        return Z_NULL;
    }
    return OrvexAlloc(items * size, nullptr);
}

void PooledZlibFree(voidpf, voidpf block) {
    OrvexFree(block);
}

// The sizes and CRC-32 a local header gives, wide fields read from its
// extra bytes.
struct SLocalHeader {
    std::uint16_t flags = 0;
    std::uint16_t method = 0;
    SZipEntry sizes;
    std::uint64_t dataOffset = 0;
};

// The local header of `entry`, whose name and extra bytes must end by
// `limit` (the directory's offset).
EZipRead ReadLocalHeader(IZipBytes& bytes, const SZipEntry& entry, std::uint64_t limit,
                         SLocalHeader& local) {
    if (entry.headerOffset > limit || limit - entry.headerOffset < kZipLocalHeaderSize) {
        return EZipRead::kRefused;
    }
    unsigned char header[kZipLocalHeaderSize];
    if (!bytes.Read(entry.headerOffset, sizeof(header), header)) {
        return EZipRead::kReadFailed;
    }
    if (ReadLittleEndian32(header) != kZipLocalSignature) {
        return EZipRead::kRefused;
    }
    local.flags = ReadZip16(header + 6);
    local.method = ReadZip16(header + 8);
    local.sizes.crc = ReadLittleEndian32(header + 14);
    local.sizes.compressedSize = ReadLittleEndian32(header + 18);
    local.sizes.size = ReadLittleEndian32(header + 22);
    const std::size_t nameLength = ReadZip16(header + 26);
    const std::size_t extraLength = ReadZip16(header + 28);
    local.dataOffset = entry.headerOffset + kZipLocalHeaderSize + nameLength + extraLength;
    if (local.dataOffset > limit) {
        return EZipRead::kRefused;
    }
    const bool wideSize = local.sizes.size == 0xFFFFFFFF;
    const bool wideCompressed = local.sizes.compressedSize == 0xFFFFFFFF;
    if (!wideSize && !wideCompressed) {
        return EZipRead::kOk;
    }
    TOrvexVector<unsigned char> extra(extraLength);
    if (!bytes.Read(entry.headerOffset + kZipLocalHeaderSize + nameLength, extraLength,
                    extra.data())) {
        return EZipRead::kReadFailed;
    }
    return ReadZip64Fields(extra.data(), extraLength, local.sizes, wideSize, wideCompressed, false)
               ? EZipRead::kOk
               : EZipRead::kRefused;
}

// Whether the local header agrees with the directory's record. With a data
// descriptor after the data, the local header may leave any of CRC-32 and
// sizes as zero (streaming writers know the size, or nothing, in advance).
bool Agrees(const SLocalHeader& local, const SZipEntry& entry) {
    if (local.method != entry.method) {
        return false;
    }
    const bool descriptor = ((local.flags | entry.flags) & kZipFlagDataDescriptor) != 0;
    const auto same = [descriptor](std::uint64_t inLocal, std::uint64_t inRecord) {
        return inLocal == inRecord || (descriptor && inLocal == 0);
    };
    return same(local.sizes.crc, entry.crc) &&
           same(local.sizes.compressedSize, entry.compressedSize) &&
           same(local.sizes.size, entry.size);
}

// Whether the entry's claims can be true of its method.
bool Credible(const SZipEntry& entry) {
    if (entry.method == kZipStored) {
        return entry.size == entry.compressedSize;
    }
    return entry.compressedSize <= (UINT64_MAX - kInflateSlack) / kMaxInflateRatio &&
           entry.size <= entry.compressedSize * kMaxInflateRatio + kInflateSlack;
}

} // namespace

std::uint32_t UpdateZipCrc(std::uint32_t crc, const unsigned char* bytes, std::size_t n) {
    while (n > 0) {
        const uInt chunk = static_cast<uInt>(std::min<std::size_t>(n, UINT_MAX));
        crc = static_cast<std::uint32_t>(crc32(crc, bytes, chunk));
        bytes += chunk;
        n -= chunk;
    }
    return crc;
}

CZipEntryStream::~CZipEntryStream() {
    if (m_inflate != nullptr) {
        inflateEnd(&m_inflate->stream);
        m_inflate->~SInflateState();
        OrvexFree(m_inflate);
    }
}

EZipRead CZipEntryStream::CheckLocalHeader(const SZipDirectory& directory) {
    SLocalHeader local;
    const EZipRead read = ReadLocalHeader(*m_bytes, m_entry, directory.directoryOffset, local);
    if (read != EZipRead::kOk) {
        return read;
    }
    if (!Agrees(local, m_entry) || !Credible(m_entry) ||
        local.dataOffset > directory.directoryOffset ||
        directory.directoryOffset - local.dataOffset < m_entry.compressedSize) {
        return EZipRead::kRefused;
    }
    m_dataOffset = local.dataOffset;
    return EZipRead::kOk;
}

EZipRead CZipEntryStream::Open(IZipBytes& bytes, const SZipDirectory& directory,
                               const SZipEntry& entry) {
    m_bytes = &bytes;
    m_entry = entry;
    EZipRead checked;
    try {
        checked = CheckLocalHeader(directory);
    } catch (const std::bad_alloc&) {
        checked = EZipRead::kNoMemory; // a ZIP64 local header's extra bytes
    }
    if (checked != EZipRead::kOk) {
        return m_failure = checked;
    }
    if (m_entry.method == kZipDeflated && m_inflate == nullptr) {
        void* storage = OrvexAlloc(sizeof(SInflateState), nullptr);
        if (storage == nullptr) {
            return m_failure = EZipRead::kNoMemory;
        }
        m_inflate = new (storage) SInflateState;
        m_inflate->stream = z_stream();
        m_inflate->stream.zalloc = PooledZlibAlloc;
        m_inflate->stream.zfree = PooledZlibFree;
        // Raw deflate: a zip entry has no zlib header or trailer.
        if (inflateInit2(&m_inflate->stream, -MAX_WBITS) != Z_OK) {
            m_inflate->~SInflateState();
            OrvexFree(m_inflate);
            m_inflate = nullptr;
            return m_failure = EZipRead::kNoMemory;
        }
    }
    return Restart();
}

EZipRead CZipEntryStream::Restart() {
    m_position = 0;
    m_consumed = 0;
    m_crc = 0;
    m_streamEnded = false;
    m_checked = false;
    m_failure = EZipRead::kOk;
    if (m_inflate != nullptr) {
        m_inflate->stream.avail_in = 0;
        if (inflateReset(&m_inflate->stream) != Z_OK) {
            return m_failure = EZipRead::kCorrupt;
        }
    }
    return EZipRead::kOk;
}

EZipRead CZipEntryStream::Read(std::uint64_t from, std::size_t n, unsigned char* out) {
    if (m_bytes == nullptr || from > m_entry.size || m_entry.size - from < n) {
        return EZipRead::kRefused;
    }
    if (from < m_position) {
        const EZipRead restarted = Restart();
        if (restarted != EZipRead::kOk) {
            return restarted;
        }
    }
    if (m_failure != EZipRead::kOk) {
        return m_failure;
    }
    unsigned char scratch[4096];
    while (m_position < from) {
        const EZipRead skipped = Produce(scratch, static_cast<std::size_t>(std::min<std::uint64_t>(
                                                      sizeof(scratch), from - m_position)));
        if (skipped != EZipRead::kOk) {
            return skipped;
        }
    }
    return Produce(out, n);
}

EZipRead CZipEntryStream::Produce(unsigned char* out, std::size_t n) {
    const EZipRead produced =
        m_entry.method == kZipStored ? ProduceStored(out, n) : ProduceDeflated(out, n);
    if (produced == EZipRead::kOk && m_position == m_entry.size && !m_checked) {
        m_checked = true;
        return m_failure = Finish();
    }
    return produced == EZipRead::kOk ? produced : (m_failure = produced);
}

EZipRead CZipEntryStream::ProduceStored(unsigned char* out, std::size_t n) {
    if (n > 0 && !m_bytes->Read(m_dataOffset + m_position, n, out)) {
        return EZipRead::kReadFailed;
    }
    m_crc = UpdateZipCrc(m_crc, out, n);
    m_position += n;
    return EZipRead::kOk;
}

EZipRead CZipEntryStream::FillInput() {
    z_stream& stream = m_inflate->stream;
    const std::size_t chunk = static_cast<std::size_t>(
        std::min<std::uint64_t>(kZipInputChunk, m_entry.compressedSize - m_consumed));
    if (chunk == 0) {
        return EZipRead::kCorrupt; // the data end inside the stream
    }
    if (!m_bytes->Read(m_dataOffset + m_consumed, chunk, m_inflate->input)) {
        return EZipRead::kReadFailed;
    }
    m_consumed += chunk;
    stream.next_in = m_inflate->input;
    stream.avail_in = static_cast<uInt>(chunk);
    return EZipRead::kOk;
}

EZipRead CZipEntryStream::InflateStep(unsigned char* out, std::size_t room, std::size_t& made) {
    z_stream& stream = m_inflate->stream;
    // zlib may still hold output when all input is in: it is asked first.
    if (stream.avail_in == 0 && m_consumed < m_entry.compressedSize) {
        const EZipRead filled = FillInput();
        if (filled != EZipRead::kOk) {
            return filled;
        }
    }
    stream.next_out = out;
    stream.avail_out = static_cast<uInt>(std::min<std::size_t>(room, UINT_MAX));
    const uInt offered = stream.avail_out;
    const int status = inflate(&stream, Z_NO_FLUSH);
    made = offered - stream.avail_out;
    if (status == Z_STREAM_END) {
        m_streamEnded = true;
    } else if (status == Z_MEM_ERROR) {
        return EZipRead::kNoMemory;
    } else if (status == Z_BUF_ERROR ? made == 0 : status != Z_OK) {
        // No progress with all input in: the data end inside the stream.
        return EZipRead::kCorrupt;
    }
    return EZipRead::kOk;
}

EZipRead CZipEntryStream::ProduceDeflated(unsigned char* out, std::size_t n) {
    while (n > 0) {
        if (m_streamEnded) {
            return EZipRead::kCorrupt; // the stream ended before the entry's size
        }
        std::size_t made = 0;
        const EZipRead stepped = InflateStep(out, n, made);
        m_crc = UpdateZipCrc(m_crc, out, made);
        m_position += made;
        out += made;
        n -= made;
        if (stepped != EZipRead::kOk) {
            return stepped;
        }
    }
    return EZipRead::kOk;
}

// At the entry's end: a deflated stream must end there and give nothing more,
// and the CRC-32 must match.
EZipRead CZipEntryStream::Finish() {
    while (m_inflate != nullptr && !m_streamEnded) {
        unsigned char extra;
        std::size_t made = 0;
        const EZipRead stepped = InflateStep(&extra, 1, made);
        if (stepped != EZipRead::kOk) {
            return stepped;
        }
        if (made != 0) {
            return EZipRead::kCorrupt; // more bytes than the entry claims
        }
    }
    return m_crc == m_entry.crc ? EZipRead::kOk : EZipRead::kCorrupt;
}

} // namespace detail
} // namespace Orvex
