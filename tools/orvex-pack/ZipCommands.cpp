// Listing and verifying zip archives.
#include "ZipCommands.h"
#include "ToolSupport.h"

#include "OrvexCommon/file/detail/ZipDirectory.h"
#include "OrvexCommon/file/detail/ZipEntryStream.h"

#include <algorithm>
#include <fstream>
#include <iomanip>
#include <sstream>

namespace OrvexPack {

namespace {

using Orvex::detail::EZipOpen;
using Orvex::detail::EZipRead;
using Orvex::detail::SZipDirectory;
using Orvex::detail::SZipEntry;

// The archive's bytes from its file.
class CZipFile final : public Orvex::detail::IZipBytes {
public:
    explicit CZipFile(const fs::path& path) : m_stream(path, std::ios::binary) {
        if (!m_stream) {
            Fail("cannot read '" + Display(path) + "'");
        }
        m_stream.seekg(0, std::ios::end);
        m_size = static_cast<std::uint64_t>(m_stream.tellg());
    }
    bool Read(std::uint64_t offset, std::size_t n, unsigned char* out) override {
        m_stream.clear();
        m_stream.seekg(static_cast<std::streamoff>(offset));
        m_stream.read(reinterpret_cast<char*>(out), static_cast<std::streamsize>(n));
        return static_cast<std::size_t>(m_stream.gcount()) == n;
    }
    std::uint64_t Size() const { return m_size; }

private:
    std::ifstream m_stream;
    std::uint64_t m_size = 0;
};

const char* OpenProblem(EZipOpen opened) {
    switch (opened) {
    case EZipOpen::kNotZip:
        return "has no end-of-directory record";
    case EZipOpen::kMalformed:
        return "has a central directory that does not hold together";
    case EZipOpen::kMultiDisk:
        return "is split over several disks";
    case EZipOpen::kReadFailed:
        return "cannot be read";
    case EZipOpen::kNoMemory:
        return "is too large for memory";
    case EZipOpen::kOpened:
        break;
    }
    return "opened";
}

SZipDirectory OpenDirectory(const fs::path& path, CZipFile& file) {
    SZipDirectory directory;
    const EZipOpen opened = Orvex::detail::ReadZipDirectory(file, file.Size(), directory);
    if (opened != EZipOpen::kOpened) {
        Fail("'" + Display(path) + "' " + OpenProblem(opened));
    }
    return directory;
}

std::string EntryName(const SZipDirectory& directory, const SZipEntry& entry) {
    Orvex::OrvexWString wide;
    Orvex::detail::DecodeZipName(directory.names.data() + entry.nameOffset, entry.nameLength,
                                 (entry.flags & Orvex::detail::kZipFlagUtf8) != 0, wide);
    return PrintableText(std::wstring(wide.begin(), wide.end()));
}

// The kept entries in the order of their local headers: the archive's order.
std::vector<const SZipEntry*> InArchiveOrder(const SZipDirectory& directory) {
    std::vector<const SZipEntry*> entries;
    for (const auto& item : directory.index) {
        entries.push_back(&item.second);
    }
    std::sort(entries.begin(), entries.end(), [](const SZipEntry* a, const SZipEntry* b) {
        return a->headerOffset < b->headerOffset;
    });
    return entries;
}

// One text per kind of refused record, empty when there is none.
std::vector<std::string> Refusals(const Orvex::detail::SZipRefusals& refused) {
    std::vector<std::string> lines;
    if (refused.methods != 0) {
        lines.push_back(std::to_string(refused.methods) +
                        " record(s) with a method other than stored or deflated (the first: " +
                        std::to_string(refused.firstMethod) + ")");
    }
    if (refused.encrypted != 0) {
        lines.push_back(std::to_string(refused.encrypted) + " encrypted record(s)");
    }
    if (refused.names != 0) {
        lines.push_back(std::to_string(refused.names) +
                        " record(s) whose name is unreadable or leaves the archive's folder");
    }
    if (refused.placement != 0) {
        lines.push_back(std::to_string(refused.placement) +
                        " record(s) whose data would not lie before the directory");
    }
    return lines;
}

const char* ReadProblem(EZipRead status) {
    switch (status) {
    case EZipRead::kRefused:
        return "refused: its local header disagrees with the directory, or its sizes cannot be "
               "true";
    case EZipRead::kCorrupt:
        return "corrupt: its data do not inflate to the entry, or the CRC-32 differs";
    case EZipRead::kReadFailed:
        return "cannot be read";
    case EZipRead::kNoMemory:
        return "too large for memory";
    case EZipRead::kOk:
        break;
    }
    return "ok";
}

// Reads the entry whole, 64 KiB at a time.
EZipRead ReadThrough(CZipFile& file, const SZipDirectory& directory, const SZipEntry& entry) {
    Orvex::detail::CZipEntryStream stream;
    EZipRead status = stream.Open(file, directory, entry);
    Bytes chunk(65536);
    for (std::uint64_t at = 0; status == EZipRead::kOk && at <= entry.size; at += chunk.size()) {
        const auto n =
            static_cast<std::size_t>(std::min<std::uint64_t>(chunk.size(), entry.size - at));
        status = stream.Read(at, n, chunk.data());
        if (n < chunk.size()) {
            break;
        }
    }
    return status;
}

} // namespace

bool IsZipPath(const fs::path& path) {
    std::string extension = path.extension().string();
    std::transform(extension.begin(), extension.end(), extension.begin(),
                   [](char c) { return static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c); });
    return extension == ".zip";
}

int ListZip(const fs::path& path, ToolStreams& io) {
    CZipFile file(path);
    const SZipDirectory directory = OpenDirectory(path, file);
    io.out << "zip           " << Display(path) << " (" << file.Size() << " bytes)\n"
           << "files         " << directory.index.size() << '\n';
    for (const std::string& line : Refusals(directory.refused)) {
        io.out << "refused       " << line << '\n';
    }
    io.out << "method        size  compressed  crc32     name\n";
    for (const SZipEntry* entry : InArchiveOrder(directory)) {
        io.out << std::left << std::setw(7)
               << (entry->method == Orvex::detail::kZipStored ? "stored" : "deflate") << std::right
               << std::setw(11) << entry->size << "  " << std::setw(10) << entry->compressedSize
               << "  " << KeyText(entry->crc) << "  " << EntryName(directory, *entry) << '\n';
    }
    return kExitSuccess;
}

int VerifyZip(const fs::path& path, ToolStreams& io) {
    CZipFile file(path);
    const SZipDirectory directory = OpenDirectory(path, file);
    std::size_t problems = 0;
    for (const std::string& line : Refusals(directory.refused)) {
        io.out << "directory: " << line << '\n';
        ++problems;
    }
    for (const SZipEntry* entry : InArchiveOrder(directory)) {
        const EZipRead status = ReadThrough(file, directory, *entry);
        if (status != EZipRead::kOk) {
            io.out << "entry " << EntryName(directory, *entry) << ": " << ReadProblem(status)
                   << '\n';
            ++problems;
        }
    }
    if (problems != 0) {
        Fail("'" + Display(path) + "': " + std::to_string(problems) +
             (problems == 1 ? " problem" : " problems"));
    }
    io.out << "ok: '" << Display(path) << "', " << directory.index.size()
           << (directory.index.size() == 1 ? " entry" : " entries") << '\n';
    return kExitSuccess;
}

} // namespace OrvexPack
