// Listing and verifying zip archives.
#include "ZipCommands.h"
#include "ZipArchiveFile.h"

#include <algorithm>
#include <iomanip>

namespace OrvexPack {

namespace {

// A name as it is shown: control characters escaped.
std::string Shown(const std::string& utf8) {
    std::wstring wide;
    Utf8ToWide(utf8, wide);
    return PrintableText(wide);
}

} // namespace

bool IsZipPath(const fs::path& path) {
    std::string extension = path.extension().string();
    std::transform(extension.begin(), extension.end(), extension.begin(),
                   [](char c) { return static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c); });
    return extension == ".zip";
}

int ListZip(const fs::path& path, ToolStreams& io) {
    ZipFile file(path);
    const Orvex::detail::SZipDirectory directory = OpenZipDirectory(path, file);
    io.out << "zip           " << Display(path) << " (" << file.Size() << " bytes)\n"
           << "files         " << directory.index.size() << '\n';
    for (const std::string& line : ZipRefusalLines(directory.refused)) {
        io.out << "refused       " << line << '\n';
    }
    io.out << "method        size  compressed  crc32     name\n";
    for (const Orvex::detail::SZipEntry* entry : EntriesInArchiveOrder(directory)) {
        io.out << std::left << std::setw(7)
               << (entry->method == Orvex::detail::kZipStored ? "stored" : "deflate") << std::right
               << std::setw(11) << entry->size << "  " << std::setw(10) << entry->compressedSize
               << "  " << KeyText(entry->crc) << "  " << Shown(ZipEntryName(directory, *entry))
               << '\n';
    }
    return kExitSuccess;
}

int VerifyZip(const fs::path& path, ToolStreams& io) {
    ZipFile file(path);
    const Orvex::detail::SZipDirectory directory = OpenZipDirectory(path, file);
    std::size_t problems = 0;
    for (const std::string& line : ZipRefusalLines(directory.refused)) {
        io.out << "directory: " << line << '\n';
        ++problems;
    }
    for (const Orvex::detail::SZipEntry* entry : EntriesInArchiveOrder(directory)) {
        const Orvex::detail::EZipRead status = ReadZipEntry(file, directory, *entry, nullptr);
        if (status != Orvex::detail::EZipRead::kOk) {
            io.out << "entry " << Shown(ZipEntryName(directory, *entry)) << ": "
                   << ZipReadProblem(status) << '\n';
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
