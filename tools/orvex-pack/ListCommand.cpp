// The list command: the header and one line per index entry.
#include "ToolSupport.h"

#include "OrvexCommon/file/detail/Package.h"

#include <iomanip>

namespace OrvexPack {

namespace {

const char kUsage[] =
    "usage: orvex-pack list PKG\n"
    "\n"
    "Shows the package's header (file count, index offset, scrambling) and one\n"
    "line per index entry in index order: its key (8 hexadecimal digits), data\n"
    "offset, size and resident size in bytes, and its name when the package holds\n"
    "a manifest.\n";

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
        const RawPackage raw = ReadRawPackage(path);
        if (!raw.indexInside) {
            Fail("the index of '" + Display(path) +
                 "' runs beyond the end of the file (see 'orvex-pack verify')");
        }
        const Orvex::detail::SPackage* package = OpenLibraryPackage(path);
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
               << "key           offset        size    resident  name\n";
        for (const RawEntry& entry : raw.entries) {
            io.out << KeyText(entry.key) << "  " << std::setw(10) << entry.offset << "  "
                   << std::setw(10) << entry.size << "  " << std::setw(10) << entry.residentSize;
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
