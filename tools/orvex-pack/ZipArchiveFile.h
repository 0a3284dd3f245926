// A zip archive opened by a command: its file, its directory as the
// library reads it, and what the commands say about its records and entries.
#ifndef ORVEX_TOOLS_ORVEXPACK_ZIPARCHIVEFILE_H
#define ORVEX_TOOLS_ORVEXPACK_ZIPARCHIVEFILE_H

#include "ToolSupport.h"

#include "OrvexCommon/file/detail/ZipDirectory.h"
#include "OrvexCommon/file/detail/ZipEntryStream.h"

#include <fstream>
#include <string>
#include <vector>

namespace OrvexPack {

// The archive's bytes from its file; fails when it cannot be read.
class ZipFile final : public Orvex::detail::IZipBytes {
public:
    explicit ZipFile(const fs::path& path);
    bool Read(std::uint64_t offset, std::size_t n, unsigned char* out) override;
    std::uint64_t Size() const { return m_size; }

private:
    std::ifstream m_stream;
    std::uint64_t m_size = 0;
};

// The archive's directory; fails with the reason when the reader refuses it.
Orvex::detail::SZipDirectory OpenZipDirectory(const fs::path& path, ZipFile& file);

// The entry's name as UTF-8 ('/' and '\\' as stored).
std::string ZipEntryName(const Orvex::detail::SZipDirectory& directory,
                         const Orvex::detail::SZipEntry& entry);

// The kept entries in the order of their local headers: the archive's order.
std::vector<const Orvex::detail::SZipEntry*>
EntriesInArchiveOrder(const Orvex::detail::SZipDirectory& directory);

// One text per kind of refused record; empty when there is none.
std::vector<std::string> ZipRefusalLines(const Orvex::detail::SZipRefusals& refused);

// Why a read failed, for a message.
const char* ZipReadProblem(Orvex::detail::EZipRead status);

// Reads the entry whole; with `bytes` null the bytes are only checked.
Orvex::detail::EZipRead ReadZipEntry(ZipFile& file, const Orvex::detail::SZipDirectory& directory,
                                     const Orvex::detail::SZipEntry& entry, Bytes* bytes);

} // namespace OrvexPack

#endif // ORVEX_TOOLS_ORVEXPACK_ZIPARCHIVEFILE_H
