// Zip archives for tests, written in memory: stored or deflated entries,
// optionally with ZIP64 records and a run of zero bytes in front of the first
// entry (read through CSparseZipBytes without being held, so that offsets
// past 4 GiB cost nothing).
#ifndef ORVEX_TESTS_FILE_ZIPTESTSUPPORT_H
#define ORVEX_TESTS_FILE_ZIPTESTSUPPORT_H

#include "OrvexCommon/file/detail/ZipDirectory.h"

#include <zlib.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace ZipTest {

struct SEntryPlan {
    std::string name;
    std::string data;
    std::uint16_t method = 8;
    std::uint16_t flags = 0;
};

struct SBuilt {
    std::vector<unsigned char> bytes; // everything after the leading gap
    std::uint64_t gap = 0;
    std::vector<std::uint64_t> locals; // archive offsets of the local headers
    std::vector<std::uint64_t> centrals;
    std::uint64_t directory = 0;
    std::uint64_t end = 0; // the classic end record

    std::uint64_t Size() const { return gap + bytes.size(); }
    // The byte at an archive offset (past the gap).
    unsigned char& At(std::uint64_t offset) { return bytes[offset - gap]; }
    void Put16(std::uint64_t offset, std::uint16_t value) {
        At(offset) = static_cast<unsigned char>(value);
        At(offset + 1) = static_cast<unsigned char>(value >> 8);
    }
    void Put32(std::uint64_t offset, std::uint32_t value) {
        Put16(offset, static_cast<std::uint16_t>(value));
        Put16(offset + 2, static_cast<std::uint16_t>(value >> 16));
    }
};

inline void Append(std::vector<unsigned char>& out, std::uint64_t value, int bytes) {
    for (int k = 0; k < bytes; ++k) {
        out.push_back(static_cast<unsigned char>(value >> (8 * k)));
    }
}

inline std::string Deflate(const std::string& data) {
    z_stream stream = {};
    deflateInit2(&stream, 9, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY);
    std::string out(deflateBound(&stream, static_cast<uLong>(data.size())), '\0');
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
    stream.avail_in = static_cast<uInt>(data.size());
    stream.next_out = reinterpret_cast<Bytef*>(&out[0]);
    stream.avail_out = static_cast<uInt>(out.size());
    deflate(&stream, Z_FINISH);
    out.resize(stream.total_out);
    deflateEnd(&stream);
    return out;
}

inline std::uint32_t Crc(const std::string& data) {
    return static_cast<std::uint32_t>(
        crc32(0, reinterpret_cast<const Bytef*>(data.data()), static_cast<uInt>(data.size())));
}

// Writes the archive. With `zip64` every size and offset goes in ZIP64
// fields and the end records are ZIP64's (with all-ones classic fields).
inline SBuilt Build(const std::vector<SEntryPlan>& plans, bool zip64 = false,
                    std::uint64_t gap = 0) {
    SBuilt built;
    built.gap = gap;
    std::vector<unsigned char>& out = built.bytes;
    std::vector<std::string> packed;
    for (const SEntryPlan& plan : plans) {
        packed.push_back(plan.method == 8 ? Deflate(plan.data) : plan.data);
        const std::string& data = packed.back();
        built.locals.push_back(gap + out.size());
        Append(out, 0x04034B50, 4);
        Append(out, zip64 ? 45 : 20, 2);
        Append(out, plan.flags, 2);
        Append(out, plan.method, 2);
        Append(out, 0, 4);
        Append(out, Crc(plan.data), 4);
        Append(out, zip64 ? 0xFFFFFFFF : data.size(), 4);
        Append(out, zip64 ? 0xFFFFFFFF : plan.data.size(), 4);
        Append(out, plan.name.size(), 2);
        Append(out, zip64 ? 20 : 0, 2);
        out.insert(out.end(), plan.name.begin(), plan.name.end());
        if (zip64) {
            Append(out, 1, 2), Append(out, 16, 2);
            Append(out, plan.data.size(), 8), Append(out, data.size(), 8);
        }
        out.insert(out.end(), data.begin(), data.end());
    }
    built.directory = gap + out.size();
    for (std::size_t k = 0; k < plans.size(); ++k) {
        const SEntryPlan& plan = plans[k];
        built.centrals.push_back(gap + out.size());
        Append(out, 0x02014B50, 4);
        Append(out, zip64 ? 45 : 20, 2), Append(out, zip64 ? 45 : 20, 2);
        Append(out, plan.flags, 2);
        Append(out, plan.method, 2);
        Append(out, 0, 4);
        Append(out, Crc(plan.data), 4);
        Append(out, zip64 ? 0xFFFFFFFF : packed[k].size(), 4);
        Append(out, zip64 ? 0xFFFFFFFF : plan.data.size(), 4);
        Append(out, plan.name.size(), 2);
        Append(out, zip64 ? 28 : 0, 2);
        Append(out, 0, 2), Append(out, 0, 2), Append(out, 0, 2), Append(out, 0, 4);
        Append(out, zip64 ? 0xFFFFFFFF : built.locals[k], 4);
        out.insert(out.end(), plan.name.begin(), plan.name.end());
        if (zip64) {
            Append(out, 1, 2), Append(out, 24, 2);
            Append(out, plan.data.size(), 8), Append(out, packed[k].size(), 8);
            Append(out, built.locals[k], 8);
        }
    }
    const std::uint64_t directorySize = gap + out.size() - built.directory;
    if (zip64) {
        const std::uint64_t record = gap + out.size();
        Append(out, 0x06064B50, 4), Append(out, 44, 8), Append(out, 45, 2), Append(out, 45, 2);
        Append(out, 0, 4), Append(out, 0, 4);
        Append(out, plans.size(), 8), Append(out, plans.size(), 8);
        Append(out, directorySize, 8), Append(out, built.directory, 8);
        Append(out, 0x07064B50, 4), Append(out, 0, 4), Append(out, record, 8), Append(out, 1, 4);
    }
    built.end = gap + out.size();
    Append(out, 0x06054B50, 4), Append(out, 0, 2), Append(out, 0, 2);
    Append(out, zip64 ? 0xFFFF : plans.size(), 2), Append(out, zip64 ? 0xFFFF : plans.size(), 2);
    Append(out, zip64 ? 0xFFFFFFFF : directorySize, 4);
    Append(out, zip64 ? 0xFFFFFFFF : built.directory, 4);
    Append(out, 0, 2);
    return built;
}

// The compressed size the directory gives entry `k`.
inline std::uint32_t ReadPacked(SBuilt& built, std::size_t k) {
    std::uint32_t value = 0;
    for (int b = 3; b >= 0; --b) {
        value = (value << 8) | built.At(built.centrals[k] + 20 + b);
    }
    return value;
}

// An archive read from memory; the leading gap reads as zeros.
class CSparseZipBytes final : public Orvex::detail::IZipBytes {
public:
    CSparseZipBytes(const unsigned char* bytes, std::size_t size, std::uint64_t gap = 0)
        : m_bytes(bytes), m_size(size), m_gap(gap) {}
    explicit CSparseZipBytes(const SBuilt& built)
        : CSparseZipBytes(built.bytes.data(), built.bytes.size(), built.gap) {}

    bool Read(std::uint64_t offset, std::size_t n, unsigned char* out) override {
        ++reads;
        if (offset > m_gap + m_size || m_gap + m_size - offset < n) {
            return false;
        }
        for (; n > 0 && offset < m_gap; --n, ++offset) {
            *out++ = 0;
        }
        if (n > 0) {
            std::memcpy(out, m_bytes + (offset - m_gap), n);
        }
        return true;
    }

    unsigned reads = 0;

private:
    const unsigned char* m_bytes;
    std::size_t m_size;
    std::uint64_t m_gap;
};

} // namespace ZipTest

#endif // ORVEX_TESTS_FILE_ZIPTESTSUPPORT_H
