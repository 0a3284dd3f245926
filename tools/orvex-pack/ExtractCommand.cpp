// The extract command: every packaged file back into a directory.
#include "PatchFile.h"

#include "OrvexCommon/file/detail/Package.h"

namespace OrvexPack {

namespace {

const char kUsage[] =
    "usage: orvex-pack extract PKG DIR [--patch PATCHFILE]\n"
    "\n"
    "Writes every file of the package below DIR (created when missing) under its\n"
    "name from the manifest, or under its key (8 hexadecimal digits) followed by\n"
    "\".bin\" when the manifest does not name it. The manifest itself is not\n"
    "written. Names that would leave DIR (absolute, with a drive, with a \"..\"\n"
    "part) are refused before anything is written.\n"
    "\n"
    "  --patch PATCHFILE  lay a patch file made by 'orvex-pack patch' over the\n"
    "                     package's bytes before reading them\n";

struct Planned {
    std::string name;
    std::uint32_t key;
    const Orvex::detail::SPackageEntry* entry;
};

} // namespace

int ExtractCommand(const std::vector<std::string>& args, ToolStreams& io) {
    return Guarded(io, [&] {
        const ParsedArgs parsed = ParseArgs("extract", args, {{"patch", true}});
        if (parsed.help) {
            io.out << kUsage;
            return kExitSuccess;
        }
        RequirePositional("extract", parsed, 2, 2);
        const fs::path path = ArgPath(parsed.positional[0]);
        const fs::path directory = ArgPath(parsed.positional[1]);
        const auto patchOption = parsed.options.find("patch");
        const bool patched = patchOption != parsed.options.end();
        if (patched) {
            const fs::path patchPath = ArgPath(patchOption->second);
            RegisterPatch(path, DecodePatchFile(ReadWholeFile(patchPath), Display(patchPath)));
        } else {
            // The file as it stands must be a package: the precise complaint
            // when it is not.
            const RawPackage raw = ReadRawPackage(path);
            if (!raw.indexInside) {
                Fail("the index of '" + Display(path) +
                     "' runs beyond the end of the file (see 'orvex-pack verify')");
            }
        }
        const Orvex::detail::SPackage* package = OpenLibraryPackage(path);
        if (package == nullptr) {
            Fail("'" + Display(path) + "' is not a package the library can open" +
                 (patched ? " with that patch" : ""));
        }
        const Manifest manifest = ReadManifest(*package);
        const std::uint32_t manifestKey = InnerNameKey(kManifestName);

        std::vector<Planned> plan;
        for (const auto& item : package->index) {
            if (manifest.present && item.first == manifestKey) {
                continue;
            }
            std::string name = NameOf(manifest, item.first);
            if (name.empty()) {
                name = KeyText(item.first) + ".bin";
            }
            if (!IsContainedName(name)) {
                Fail("refusing to extract '" + name + "': it would leave '" + Display(directory) +
                     "'");
            }
            plan.push_back({name, item.first, &item.second});
        }

        fs::create_directories(directory);
        std::size_t written = 0;
        int status = kExitSuccess;
        for (const Planned& file : plan) {
            if (!EntryInsidePackage(*package, *file.entry)) {
                io.err << "orvex-pack: entry " << KeyText(file.key) << " (" << file.name
                       << ") runs beyond the end of the package; not extracted\n";
                status = kExitFailure;
                continue;
            }
            const fs::path target = directory / ArgPath(file.name);
            fs::create_directories(target.parent_path());
            WriteWholeFile(target, ReadEntry(*package, *file.entry));
            ++written;
        }
        io.out << "extracted " << written << (written == 1 ? " file" : " files") << " into '"
               << Display(directory) << "'" << (patched ? " (patched)" : "") << '\n';
        io.err.flush();
        return status;
    });
}

} // namespace OrvexPack
