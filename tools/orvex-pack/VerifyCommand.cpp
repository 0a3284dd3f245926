// The verify command: the package's structure, and its files against a
// directory.
#include "ToolSupport.h"
#include "ZipCommands.h"

#include "OrvexCommon/file/detail/Package.h"

#include <set>

namespace OrvexPack {

namespace {

const char kUsage[] =
    "usage: orvex-pack verify PKG [DIR]\n"
    "       orvex-pack verify ZIP\n"
    "\n"
    "Checks the package's header, that its index lies inside the file, and every\n"
    "entry: its data must lie inside the file, its resident size must not exceed\n"
    "its size and its key must appear once; every name of the manifest must have\n"
    "an entry. With DIR, also compares every file below DIR (named as pack names\n"
    "it) with the packaged bytes as the library reads them, and reports files the\n"
    "package lacks (missing), files whose bytes differ (different) and packaged\n"
    "files DIR lacks (extra). Exit status 1 when anything is wrong.\n"
    "\n"
    "A ZIP (a path ending in .zip) is read whole as the loader reads it: every\n"
    "record the loader refuses is a problem, and so is every file whose local\n"
    "header disagrees with the directory, whose data do not inflate to its size,\n"
    "or whose CRC-32 differs.\n";

class Report {
public:
    explicit Report(std::ostream& out) : m_out(out) {}
    void Problem(const std::string& text) {
        m_out << text << '\n';
        ++m_count;
    }
    std::size_t Count() const { return m_count; }

private:
    std::ostream& m_out;
    std::size_t m_count = 0;
};

std::string EntryLabel(const Manifest& manifest, std::uint32_t key) {
    const std::string name = NameOf(manifest, key);
    return "entry " + KeyText(key) + (name.empty() ? "" : " (" + name + ")");
}

void CheckStructure(const RawPackage& raw, const Manifest& manifest, Report& report) {
    std::set<std::uint32_t> seen;
    for (const RawEntry& entry : raw.entries) {
        const std::uint64_t end = static_cast<std::uint64_t>(entry.offset) + entry.size;
        if (end > raw.fileSize) {
            report.Problem(EntryLabel(manifest, entry.key) + ": data [" +
                           std::to_string(entry.offset) + ", " + std::to_string(end) +
                           ") runs beyond the end of the file (" + std::to_string(raw.fileSize) +
                           " bytes)");
        }
        if (entry.residentSize > entry.size) {
            report.Problem(EntryLabel(manifest, entry.key) + ": resident size " +
                           std::to_string(entry.residentSize) + " exceeds its size " +
                           std::to_string(entry.size));
        }
        if (!seen.insert(entry.key).second) {
            report.Problem(EntryLabel(manifest, entry.key) + ": the key appears more than once");
        }
    }
    for (const std::string& name : manifest.names) {
        if (seen.count(InnerNameKey(name)) == 0) {
            report.Problem("manifest: '" + name + "' has no entry");
        }
    }
}

void CompareWithDirectory(const Orvex::detail::SPackage& package, const Manifest& manifest,
                          const fs::path& directory, const fs::path& packagePath, Report& report) {
    std::set<std::uint32_t> matched;
    if (manifest.present) {
        matched.insert(InnerNameKey(kManifestName));
    }
    for (const SourceFile& file : CollectFiles(directory, packagePath)) {
        const std::uint32_t key = InnerNameKey(file.name);
        const auto* found = package.index.Find(key);
        if (found == nullptr) {
            report.Problem("missing: " + file.name);
            continue;
        }
        matched.insert(key);
        if (!EntryInsidePackage(package, *found) ||
            ReadEntry(package, *found) != ReadWholeFile(file.path)) {
            report.Problem("different: " + file.name);
        }
    }
    for (const auto& item : package.index) {
        if (matched.count(item.first) == 0) {
            const std::string name = NameOf(manifest, item.first);
            report.Problem("extra: " + (name.empty() ? KeyText(item.first) : name));
        }
    }
}

} // namespace

int VerifyCommand(const std::vector<std::string>& args, ToolStreams& io) {
    return Guarded(io, [&] {
        const ParsedArgs parsed = ParseArgs("verify", args, {});
        if (parsed.help) {
            io.out << kUsage;
            return kExitSuccess;
        }
        RequirePositional("verify", parsed, 1, 2);
        const fs::path path = ArgPath(parsed.positional[0]);
        if (IsZipPath(path) && parsed.positional.size() == 1) {
            return VerifyZip(path, io);
        }
        const RawPackage raw = ReadRawPackage(path);
        Report report(io.out);
        if (!raw.indexInside) {
            const std::uint64_t end = raw.indexOffset + static_cast<std::uint64_t>(raw.count) *
                                                            Orvex::detail::kPackageEntrySize;
            report.Problem("index: " + std::to_string(raw.count) + " entries at [" +
                           std::to_string(raw.indexOffset) + ", " + std::to_string(end) +
                           ") run beyond the end of the file (" + std::to_string(raw.fileSize) +
                           " bytes)");
        } else {
            const Orvex::detail::SPackage* package = OpenLibraryPackage(path);
            const Manifest manifest = package != nullptr ? ReadManifest(*package) : Manifest();
            CheckStructure(raw, manifest, report);
            if (package == nullptr) {
                report.Problem("the library cannot open the package");
            } else if (parsed.positional.size() == 2) {
                CompareWithDirectory(*package, manifest, ArgPath(parsed.positional[1]), path,
                                     report);
            }
        }
        if (report.Count() != 0) {
            Fail("'" + Display(path) + "': " + std::to_string(report.Count()) +
                 (report.Count() == 1 ? " problem" : " problems"));
        }
        io.out << "ok: '" << Display(path) << "', " << raw.count
               << (raw.count == 1 ? " entry" : " entries") << '\n';
        return kExitSuccess;
    });
}

} // namespace OrvexPack
