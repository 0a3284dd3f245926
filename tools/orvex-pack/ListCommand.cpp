// The list command: the header and one line per index entry.
#include "ToolSupport.h"
#include "ZipCommands.h"

#include "OrvexCommon/file/OrvexFileHead.h"
#include "OrvexCommon/file/detail/FileHeadReader.h"
#include "OrvexCommon/file/detail/Package.h"

#include <algorithm>
#include <iomanip>

namespace OrvexPack {

namespace {

const char kUsage[] =
    "usage: orvex-pack list PKG\n"
    "       orvex-pack list ZIP\n"
    "\n"
    "Shows the package's header (file count, index offset, scrambling, how many\n"
    "files have a resident part) and one line per index entry in index order: its\n"
    "key (8 hexadecimal digits), data offset, size and resident size in bytes, the\n"
    "head the loader reads from its resident part, and its name when the package\n"
    "holds a manifest.\n"
    "\n"
    "The head column: '-' for no resident part (the file loads whole for a\n"
    "listener of any type); the head's type ('tex', ..., 'none' for -1) when the\n"
    "resident part holds a valid head (the file loads only for a listener of that\n"
    "type); 'invalid' when it holds none (every load of the file fails); '?' when\n"
    "the resident part is not inside the package (see 'orvex-pack verify').\n"
    "\n"
    "A ZIP (a path ending in .zip) is listed as the loader reads it: the files it\n"
    "finds, the records it refuses and why, then one line per file in the\n"
    "archive's order: method, size, compressed size, CRC-32 and name.\n";

// The head column of an entry: what the loader makes of its resident part.
std::string ResidentHead(Orvex::detail::SPackage* package, const RawEntry& entry) {
    const std::uint32_t resident = std::min(entry.residentSize, entry.size);
    if (resident == 0) {
        return "-";
    }
    const std::uint64_t end = static_cast<std::uint64_t>(entry.offset) + resident;
    if (package == nullptr || end > Orvex::detail::PackageExtent(*package)) {
        return "?";
    }
    Bytes bytes(resident);
    Orvex::detail::ReadPackageBytes(*package, bytes.data(), entry.offset, resident);
    Orvex::SLoadBuffer buffer{bytes.data(), 0, resident, 0};
    Orvex::CCommonFileHead head;
    return Orvex::detail::ReadFileHead(buffer, head) ? FileTypeText(head.GetType()) : "invalid";
}

// "N of M files, B bytes": the entries with a resident part.
std::string ResidentSummary(const RawPackage& raw) {
    std::size_t count = 0;
    std::uint64_t bytes = 0;
    for (const RawEntry& entry : raw.entries) {
        const std::uint32_t resident = std::min(entry.residentSize, entry.size);
        count += resident > 0 ? 1 : 0;
        bytes += resident;
    }
    return std::to_string(count) + " of " + std::to_string(raw.entries.size()) + " files, " +
           std::to_string(bytes) + " bytes";
}

} // namespace

int ListCommand(const std::vector<std::string>& args, ToolStreams& io) {
    return Guarded(io, [&] {
        const ParsedArgs parsed = ParseArgs("list", args, {});
        if (parsed.help) {
            io.out << kUsage;
            return kExitSuccess;
        }
        RequirePositional("list", parsed, 1, 1);
        const fs::path path = ArgPath(parsed.positional[0]);
        if (IsZipPath(path)) {
            return ListZip(path, io);
        }
        const RawPackage raw = ReadRawPackage(path);
        if (!raw.indexInside) {
            Fail("the index of '" + Display(path) +
                 "' runs beyond the end of the file (see 'orvex-pack verify')");
        }
        Orvex::detail::SPackage* package = OpenLibraryPackage(path);
        const Manifest manifest = package != nullptr ? ReadManifest(*package) : Manifest();

        io.out << "package       " << Display(path) << " (" << raw.fileSize << " bytes)\n"
               << "files         " << raw.count << '\n'
               << "index offset  " << raw.indexOffset << '\n'
               << "scrambled     " << (raw.scrambled ? "yes" : "no") << '\n'
               << "manifest      "
               << (package == nullptr ? "unknown (the library cannot open the package)"
                   : manifest.present ? "yes"
                                      : "no")
               << '\n'
               << "resident      " << ResidentSummary(raw) << '\n'
               << "key           offset        size    resident  head     name\n";
        for (const RawEntry& entry : raw.entries) {
            io.out << KeyText(entry.key) << "  " << std::setw(10) << entry.offset << "  "
                   << std::setw(10) << entry.size << "  " << std::setw(10) << entry.residentSize
                   << "  " << std::left << std::setw(7) << ResidentHead(package, entry)
                   << std::right;
            const std::string name = NameOf(manifest, entry.key);
            if (!name.empty()) {
                io.out << "  " << name;
            }
            io.out << '\n';
        }
        return kExitSuccess;
    });
}

} // namespace OrvexPack
