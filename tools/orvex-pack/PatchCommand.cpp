// The patch command: the patch file that turns one file into another.
#include "PatchFile.h"

namespace OrvexPack {

namespace {

const char kUsage[] =
    "usage: orvex-pack patch ORIGINAL MODIFIED OUT\n"
    "\n"
    "Compares ORIGINAL and MODIFIED byte by byte and writes to OUT the patch file\n"
    "whose chunks turn ORIGINAL's bytes into MODIFIED's: each run of differing\n"
    "bytes (runs at most 8 equal bytes apart share a chunk), every byte beyond\n"
    "ORIGINAL's end, and MODIFIED's length as size override when the lengths\n"
    "differ. 'orvex-pack extract --patch' applies it to a package; a game\n"
    "registers its chunk block with SetFilePatch.\n";

} // namespace

int PatchCommand(const std::vector<std::string>& args, ToolStreams& io) {
    return Guarded(io, [&] {
        const ParsedArgs parsed = ParseArgs("patch", args, {});
        if (parsed.help) {
            io.out << kUsage;
            return kExitSuccess;
        }
        RequirePositional("patch", parsed, 3, 3);
        const Bytes original = ReadWholeFile(ArgPath(parsed.positional[0]));
        const Bytes modified = ReadWholeFile(ArgPath(parsed.positional[1]));
        const fs::path output = ArgPath(parsed.positional[2]);
        const PatchData patch = DiffFiles(original, modified);
        WriteWholeFile(output, EncodePatchFile(patch));
        io.out << "wrote '" << Display(output) << "': " << patch.count
               << (patch.count == 1 ? " chunk, " : " chunks, ")
               << patch.block.size() - 8 * static_cast<std::size_t>(patch.count)
               << " bytes of data, size override " << patch.sizeOverride << '\n';
        return kExitSuccess;
    });
}

} // namespace OrvexPack
