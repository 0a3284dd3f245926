// One zip entry's bytes, read forward.
//
// Opening checks the entry's local header against its directory record
// (signature, method, and, unless the sizes follow the data in a descriptor,
// CRC-32 and sizes) and that its data end before the directory. A deflated
// entry that claims more than kMaxInflateRatio bytes per compressed byte
// (plus kInflateSlack) is refused: deflate cannot reach that ratio, so the
// claim is false, and a stream never allocates by what an entry claims.
//
// Reads go forward. A read that starts before the stream's position starts
// the stream again from the entry's first byte: for a deflated entry, a
// backward seek costs inflating everything up to the new position again;
// forward skips inflate into scratch space. Stored entries have no such cost
// beyond reading.
//
// The CRC-32 is summed over every byte produced; the read that reaches the
// entry's end fails when the sum differs from the record's, and so does one
// whose deflated stream ends before the entry's size, runs past it, or is
// corrupt. A stream that failed keeps failing until it starts again.
//
// Memory: the stream, a 16 KiB input buffer, and for deflated entries
// zlib's state and 32 KiB window, all from the pooled allocator, whatever the
// entry claims.
#ifndef ORVEX_FILE_DETAIL_ZIPENTRYSTREAM_H
#define ORVEX_FILE_DETAIL_ZIPENTRYSTREAM_H

#include "OrvexCommon/file/detail/ZipDirectory.h"

#include <cstddef>
#include <cstdint>

namespace Orvex {
namespace detail {

constexpr std::uint64_t kMaxInflateRatio = 1032;
constexpr std::uint64_t kInflateSlack = 4096;

enum class EZipRead {
    kOk,
    kRefused,    // the local header disagrees, or the entry cannot be true
    kCorrupt,    // the data do not inflate to the entry, or the CRC-32 differs
    kReadFailed, // the archive's bytes could not be read
    kNoMemory,
};

struct SInflateState;

// The CRC-32 of zip entries, continued over `n` more bytes (start with 0).
std::uint32_t UpdateZipCrc(std::uint32_t crc, const unsigned char* bytes, std::size_t n);

class CZipEntryStream {
public:
    CZipEntryStream() = default;
    ~CZipEntryStream();
    CZipEntryStream(const CZipEntryStream&) = delete;
    CZipEntryStream& operator=(const CZipEntryStream&) = delete;

    // Checks the entry and readies the stream at its first byte. `bytes`
    // must outlive the stream's reads.
    EZipRead Open(IZipBytes& bytes, const SZipDirectory& directory, const SZipEntry& entry);

    // The entry's bytes [from, from + n), which must lie within its size.
    EZipRead Read(std::uint64_t from, std::size_t n, unsigned char* out);

    std::uint64_t Size() const { return m_entry.size; }
    // Where the entry's data begin in the archive (its stored bytes, as they
    // are, for a stored entry).
    std::uint64_t DataOffset() const { return m_dataOffset; }
    bool Stored() const { return m_entry.method == kZipStored; }

private:
    EZipRead CheckLocalHeader(const SZipDirectory& directory);
    EZipRead Restart();
    EZipRead Produce(unsigned char* out, std::size_t n);
    EZipRead ProduceStored(unsigned char* out, std::size_t n);
    EZipRead ProduceDeflated(unsigned char* out, std::size_t n);
    EZipRead FillInput();
    EZipRead InflateStep(unsigned char* out, std::size_t room, std::size_t& made);
    EZipRead Finish();

    IZipBytes* m_bytes = nullptr;
    SZipEntry m_entry;
    std::uint64_t m_dataOffset = 0;
    std::uint64_t m_position = 0; // entry bytes produced
    std::uint64_t m_consumed = 0; // compressed bytes read
    std::uint32_t m_crc = 0;
    bool m_streamEnded = false; // the deflated stream gave its end
    bool m_checked = false;     // the end was reached and checked
    EZipRead m_failure = EZipRead::kOk;
    SInflateState* m_inflate = nullptr;
};

} // namespace detail
} // namespace Orvex

#endif // ORVEX_FILE_DETAIL_ZIPENTRYSTREAM_H
