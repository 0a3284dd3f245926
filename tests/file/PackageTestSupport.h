// Building packages and scratch files for the file manager's tests.
#ifndef ORVEX_TESTS_FILE_PACKAGETESTSUPPORT_H
#define ORVEX_TESTS_FILE_PACKAGETESTSUPPORT_H

#include "OrvexCommon/file/detail/Package.h"
#include "OrvexCommon/file/detail/PackageWriter.h"
#include "OrvexCommon/platform/OrvexSys.h"
#include "OrvexScratch.h"

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

namespace OrvexTest {

typedef std::vector<unsigned char> Bytes;

struct PackedFile {
    std::wstring name;
    Bytes bytes;
    std::uint32_t resident;
};

inline Bytes RandomBytes(std::size_t size, std::uint32_t seed) {
    std::mt19937 generator(seed);
    Bytes bytes(size);
    for (auto& byte : bytes) {
        byte = static_cast<unsigned char>(generator());
    }
    return bytes;
}

// Appends one chunk to a patch block as SetFilePatch takes it: length,
// offset, then the bytes.
inline void AppendPatchChunk(Bytes& block, std::uint32_t offset, const Bytes& bytes) {
    unsigned char head[8];
    Orvex::detail::WriteLittleEndian32(head, static_cast<std::uint32_t>(bytes.size()));
    Orvex::detail::WriteLittleEndian32(head + 4, offset);
    block.insert(block.end(), head, head + 8);
    block.insert(block.end(), bytes.begin(), bytes.end());
}

inline void WriteRawFile(const std::wstring& path, const Bytes& bytes) {
    const std::filesystem::path file(path);
    if (file.has_parent_path()) {
        std::filesystem::create_directories(file.parent_path());
    }
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
}

inline Bytes ReadRawFile(const std::wstring& path) {
    std::ifstream in(std::filesystem::path(path), std::ios::binary);
    return Bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

inline bool WritePackage(const std::wstring& path, const std::vector<PackedFile>& files,
                         bool scrambled) {
    const std::filesystem::path file(path);
    if (file.has_parent_path()) {
        std::filesystem::create_directories(file.parent_path());
    }
    Orvex::detail::PackageWriter writer;
    bool written = writer.Open(path.c_str(), scrambled);
    for (const PackedFile& packed : files) {
        written = written &&
                  writer.AddFile(packed.name.c_str(), packed.bytes.data(),
                                 static_cast<std::uint32_t>(packed.bytes.size()), packed.resident);
    }
    return writer.Finish() && written;
}

// The whole bytes of a packaged file as the library reads them; empty with
// found false when no package holds it.
inline Bytes ReadPackaged(const std::wstring& name, bool deep, bool* found = nullptr) {
    const Orvex::detail::PackageMatch match = Orvex::detail::FindPackageEntry(name.c_str(), deep);
    if (found != nullptr) {
        *found = match.package != nullptr;
    }
    if (match.package == nullptr) {
        return Bytes();
    }
    Bytes bytes(match.entry->size + 1);
    Orvex::detail::ReadPackageEntry(*match.package, *match.entry, bytes.data());
    bytes.pop_back();
    return bytes;
}

// A listener for files without a head that keeps what it was given.
class DataListener final : public Orvex::IFileLoadListener {
public:
    std::int32_t GetFileType() override { return -1; }
    void OnLoadHead(const Orvex::CCommonFileHead&, Orvex::SLoadBuffer&) override {}
    void OnLoadData(Orvex::SLoadBuffer& buffer) override {
        ++calls;
        start = buffer.start;
        bytes.assign(buffer.origin + buffer.start, buffer.origin + buffer.end);
    }
    // The whole file, when it came with its first byte at `start`.
    Bytes Whole() const {
        Bytes whole(start, 0);
        whole.insert(whole.end(), bytes.begin(), bytes.end());
        return whole;
    }
    int calls = 0;
    std::uint32_t start = 0;
    Bytes bytes; // [start, end)
};

// Reads `name` through a reader of the file manager, up to 1 MiB; false
// when no reader can be had, Open fails or Read gives -1.
inline bool ReadThroughReader(const std::wstring& name, Bytes& bytes) {
    Orvex::IReadFile* reader = Orvex::GetOrvexFileMgr().CreateReadFile();
    if (reader == nullptr) {
        return false;
    }
    bytes.assign(1 << 20, 0);
    const std::int32_t count =
        reader->Open(name.c_str())
            ? reader->Read(bytes.data(), static_cast<std::uint32_t>(bytes.size()))
            : -1;
    bytes.resize(count < 0 ? 0 : static_cast<std::size_t>(count));
    reader->Release();
    return count >= 0;
}

} // namespace OrvexTest

#endif // ORVEX_TESTS_FILE_PACKAGETESTSUPPORT_H
