// Zip archives from arbitrary bytes: the directory, then every kept entry
// (up to 64) read forward in chunks the input chooses, then its start read
// again (a backward seek). The reader must never ask for bytes past the
// archive, a read that succeeds to the end must give bytes whose CRC-32 is
// the entry's, a read again must give the same bytes, and everything the
// pooled allocator handed out must come back.
//
// Input layout (bytes past the end read as zero):
//   bytes 0-1  the chunk size of the forward reads (0 reads as 1)
//   then       the archive
#include "OrvexCommon/file/detail/ZipDirectory.h"
#include "OrvexCommon/file/detail/ZipEntryStream.h"
#include "OrvexCommon/memory/OrvexMemory.h"

#include "FuzzInput.h"

#include <zlib.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

using namespace Orvex;
using namespace Orvex::detail;

namespace {

constexpr std::uint64_t kMaxBytesPerEntry = 256 * 1024;
constexpr std::size_t kMaxEntries = 64;

class CArchive final : public IZipBytes {
public:
    explicit CArchive(std::vector<unsigned char> bytes) : m_bytes(std::move(bytes)) {}
    bool Read(std::uint64_t offset, std::size_t n, unsigned char* out) override {
        if (offset > m_bytes.size() || m_bytes.size() - offset < n) {
            std::abort(); // the reader asked for bytes past the archive
        }
        if (n > 0) {
            std::memcpy(out, m_bytes.data() + offset, n);
        }
        return true;
    }
    std::uint64_t Size() const { return m_bytes.size(); }

private:
    std::vector<unsigned char> m_bytes;
};

void ReadEntry(CArchive& archive, const SZipDirectory& directory, const SZipEntry& entry,
               std::size_t chunk) {
    CZipEntryStream stream;
    if (stream.Open(archive, directory, entry) != EZipRead::kOk) {
        return;
    }
    const std::uint64_t wanted = std::min(entry.size, kMaxBytesPerEntry);
    std::vector<unsigned char> bytes(static_cast<std::size_t>(wanted));
    EZipRead status = EZipRead::kOk;
    std::size_t at = 0;
    while (status == EZipRead::kOk && at < bytes.size()) {
        const std::size_t n = std::min(chunk, bytes.size() - at);
        status = stream.Read(at, n, bytes.data() + at);
        at += n;
    }
    if (status == EZipRead::kOk && wanted == entry.size) {
        const auto crc =
            static_cast<std::uint32_t>(crc32(0, bytes.data(), static_cast<uInt>(bytes.size())));
        if (crc != entry.crc) {
            std::abort(); // a whole read succeeded with bytes that are not the entry's
        }
    }
    if (status == EZipRead::kOk && !bytes.empty()) {
        unsigned char again[64];
        const std::size_t n = std::min(sizeof(again), bytes.size());
        if (stream.Read(0, n, again) == EZipRead::kOk && std::memcmp(again, bytes.data(), n) != 0) {
            std::abort(); // the same bytes read again differ
        }
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzInput input(data, size);
    const std::size_t chunk = std::max(1u, input.TakeSize());
    const std::size_t header = std::min<std::size_t>(size, 2);
    CArchive archive(std::vector<unsigned char>(data + header, data + size));
    const long long before = GetTotalAllocSize();
    {
        SZipDirectory directory;
        if (ReadZipDirectory(archive, archive.Size(), directory) == EZipOpen::kOpened) {
            std::size_t read = 0;
            for (const auto& item : directory.index) {
                if (read++ == kMaxEntries) {
                    break;
                }
                ReadEntry(archive, directory, item.second, chunk);
            }
        }
    }
    if (GetTotalAllocSize() != before) {
        std::abort(); // pooled memory not given back
    }
    return 0;
}
