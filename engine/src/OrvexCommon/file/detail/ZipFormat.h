// Fields of the zip format shared by the directory reader and the entry
// streams: little-endian integers and the local header's layout.
#ifndef ORVEX_FILE_DETAIL_ZIPFORMAT_H
#define ORVEX_FILE_DETAIL_ZIPFORMAT_H

#include "OrvexCommon/file/detail/PackageTypes.h"

#include <cstddef>
#include <cstdint>

namespace Orvex {
namespace detail {

constexpr std::uint32_t kZipLocalSignature = 0x04034B50;
// Signature, version, flags, method, time, date, CRC-32, compressed size,
// size, name length, extra length; then the name and the extra field.
constexpr std::size_t kZipLocalHeaderSize = 30;

inline std::uint16_t ReadZip16(const unsigned char* bytes) {
    return static_cast<std::uint16_t>(bytes[0] | (bytes[1] << 8));
}

// 32-bit fields: ReadLittleEndian32, shared with packages.
inline std::uint64_t ReadZip64(const unsigned char* bytes) {
    return static_cast<std::uint64_t>(ReadLittleEndian32(bytes)) |
           (static_cast<std::uint64_t>(ReadLittleEndian32(bytes + 4)) << 32);
}

} // namespace detail
} // namespace Orvex

#endif // ORVEX_FILE_DETAIL_ZIPFORMAT_H
