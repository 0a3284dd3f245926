// Opening zip archives for the commands.
#include "ZipArchiveFile.h"

#include <algorithm>

namespace OrvexPack {

using Orvex::detail::EZipOpen;
using Orvex::detail::EZipRead;
using Orvex::detail::SZipDirectory;
using Orvex::detail::SZipEntry;

namespace {

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

} // namespace

ZipFile::ZipFile(const fs::path& path) : m_stream(path, std::ios::binary) {
    if (!m_stream) {
        Fail("cannot read '" + Display(path) + "'");
    }
    m_stream.seekg(0, std::ios::end);
    m_size = static_cast<std::uint64_t>(m_stream.tellg());
}

bool ZipFile::Read(std::uint64_t offset, std::size_t n, unsigned char* out) {
    m_stream.clear();
    m_stream.seekg(static_cast<std::streamoff>(offset));
    m_stream.read(reinterpret_cast<char*>(out), static_cast<std::streamsize>(n));
    return static_cast<std::size_t>(m_stream.gcount()) == n;
}

SZipDirectory OpenZipDirectory(const fs::path& path, ZipFile& file) {
    SZipDirectory directory;
    const EZipOpen opened = Orvex::detail::ReadZipDirectory(file, file.Size(), directory);
    if (opened != EZipOpen::kOpened) {
        Fail("'" + Display(path) + "' " + OpenProblem(opened));
    }
    return directory;
}

std::string ZipEntryName(const SZipDirectory& directory, const SZipEntry& entry) {
    Orvex::OrvexWString wide;
    Orvex::detail::DecodeZipName(directory.names.data() + entry.nameOffset, entry.nameLength,
                                 (entry.flags & Orvex::detail::kZipFlagUtf8) != 0, wide);
    return WideToUtf8(std::wstring(wide.begin(), wide.end()));
}

std::vector<const SZipEntry*> EntriesInArchiveOrder(const SZipDirectory& directory) {
    std::vector<const SZipEntry*> entries;
    for (const auto& item : directory.index) {
        entries.push_back(&item.second);
    }
    std::sort(entries.begin(), entries.end(), [](const SZipEntry* a, const SZipEntry* b) {
        return a->headerOffset < b->headerOffset;
    });
    return entries;
}

std::vector<std::string> ZipRefusalLines(const Orvex::detail::SZipRefusals& refused) {
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
    if (refused.shadowed != 0) {
        lines.push_back(std::to_string(refused.shadowed) +
                        " record(s) hidden by a later one of the same name (case and '\\' aside)");
    }
    return lines;
}

const char* ZipReadProblem(EZipRead status) {
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

EZipRead ReadZipEntry(ZipFile& file, const SZipDirectory& directory, const SZipEntry& entry,
                      Bytes* bytes) {
    Orvex::detail::CZipEntryStream stream;
    EZipRead status = stream.Open(file, directory, entry);
    if (status != EZipRead::kOk) {
        return status;
    }
    Bytes chunk(65536);
    if (bytes != nullptr) {
        bytes->resize(static_cast<std::size_t>(entry.size));
    }
    for (std::uint64_t at = 0; status == EZipRead::kOk && at <= entry.size; at += chunk.size()) {
        const auto n =
            static_cast<std::size_t>(std::min<std::uint64_t>(chunk.size(), entry.size - at));
        unsigned char* out = bytes != nullptr ? bytes->data() + at : chunk.data();
        status = stream.Read(at, n, out);
        if (n < chunk.size()) {
            break;
        }
    }
    return status;
}

} // namespace OrvexPack
