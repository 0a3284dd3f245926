// Writes package files: the header, each file's bytes (scrambled when asked)
// and the index at the end. Used by the package tool, the demo host and tests.
#ifndef ORVEX_FILE_DETAIL_PACKAGEWRITER_H
#define ORVEX_FILE_DETAIL_PACKAGEWRITER_H

#include "OrvexCommon/file/detail/PackageTypes.h"

namespace Orvex {
namespace detail {

class PackageWriter {
public:
    PackageWriter() = default;
    ~PackageWriter(); // closes an unfinished file as it stands
    PackageWriter(const PackageWriter&) = delete;
    PackageWriter& operator=(const PackageWriter&) = delete;

    // Creates (or truncates) the package file and writes a provisional header.
    bool Open(const wchar_t* path, bool scrambled);

    // Appends one file under its inner name; its first `residentSize` bytes
    // (at most `size`) form its resident part. False once the package would
    // pass 4 GiB or a write failed; the writer then refuses everything.
    bool AddFile(const wchar_t* innerName, const void* bytes, std::uint32_t size,
                 std::uint32_t residentSize);

    // The same under a key given directly (names that collide on purpose).
    bool AddFileWithKey(std::uint32_t key, const void* bytes, std::uint32_t size,
                        std::uint32_t residentSize);

    // Writes the index and the final header and closes the file.
    bool Finish();

    std::uint32_t FileCount() const {
        return static_cast<std::uint32_t>(m_index.size() / kPackageEntrySize);
    }

private:
    bool Write(const void* bytes, std::uint32_t size);

    std::FILE* m_file = nullptr;
    bool m_scrambled = false;
    bool m_failed = false;
    std::uint64_t m_position = 0;
    TOrvexVector<unsigned char> m_index;
};

} // namespace detail
} // namespace Orvex

#endif // ORVEX_FILE_DETAIL_PACKAGEWRITER_H
