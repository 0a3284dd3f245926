// The pack command: every file below a directory into one package file.
#include "PackPlan.h"
#include "PackageOutput.h"

namespace OrvexPack {

namespace {

const char kUsage[] =
    "usage: orvex-pack pack DIR OUT.pkg [--resident=N|all] [--scramble] [--no-manifest]\n"
    "\n"
    "Packages every regular file below DIR under its path relative to DIR, with\n"
    "'/' between directories, in the byte order of those names.\n"
    "\n"
    "  --resident=N    the first N bytes of every file form its resident part, kept\n"
    "                  in memory while the package is open in private mode\n"
    "  --resident=all  every file is resident as a whole\n"
    "  --scramble      scramble the file data\n"
    "  --no-manifest   do not store the list of names (list and extract then show\n"
    "                  keys only)\n"
    "\n"
    "Without --resident, a file that begins with a valid common head keeps its head\n"
    "and extra data resident, and every other file has no resident part. The\n"
    "loader reads a head from any resident part, whatever the listener's type: a\n"
    "file with one loads only for a listener of its head's type, a file without\n"
    "one loads whole for any listener (type -1 included).\n"
    "\n"
    "Two names with the same key (names that differ only in case, for one) are\n"
    "refused, and so is the name .orvex-manifest, which holds the list of names;\n"
    "every such name is reported (up to 20, then a count), and nothing is written.\n";

// A bar on the error stream, redrawn in place when the whole percent changes.
class ProgressBar {
public:
    ProgressBar(std::ostream& stream, bool enabled, std::size_t total)
        : m_stream(stream), m_enabled(enabled && total > 0), m_total(total) {}

    void Show(std::size_t done) {
        if (!m_enabled || done * 100 / m_total == m_percent) {
            return;
        }
        const std::size_t percent = done * 100 / m_total;
        m_percent = percent;
        const std::size_t filled = percent * kWidth / 100;
        m_stream << "\rpacking [" << std::string(filled, '#') << std::string(kWidth - filled, '.')
                 << "] " << percent << "% " << done << '/' << m_total;
        m_stream.flush();
    }

    // Ends the bar's line, also when an error ends the command midway, so
    // that the error line starts on a line of its own.
    ~ProgressBar() { Finish(); }
    ProgressBar(const ProgressBar&) = delete;
    ProgressBar& operator=(const ProgressBar&) = delete;

    void Finish() {
        if (m_enabled && m_percent != kNone) {
            m_stream << '\n';
            m_stream.flush();
        }
        m_enabled = false;
    }

private:
    static constexpr std::size_t kWidth = 40;
    static constexpr std::size_t kNone = ~std::size_t(0);
    std::ostream& m_stream;
    bool m_enabled;
    std::size_t m_total;
    std::size_t m_percent = kNone;
};

std::uint32_t ParseResident(const std::string& text) {
    if (text == "all") {
        return 0xFFFFFFFFu;
    }
    std::uint64_t value = 0;
    for (char c : text) {
        if (c < '0' || c > '9' ||
            (value = value * 10 + static_cast<unsigned>(c - '0')) > 0xFFFFFFFFu) {
            UsageError("--resident takes a byte count up to 4294967295 or 'all', not '" + text +
                       "'");
        }
    }
    if (text.empty()) {
        UsageError("--resident takes a byte count or 'all'");
    }
    return static_cast<std::uint32_t>(value);
}

} // namespace

int PackCommand(const std::vector<std::string>& args, ToolStreams& io) {
    return Guarded(io, [&] {
        const ParsedArgs parsed = ParseArgs(
            "pack", args, {{"resident", true}, {"scramble", false}, {"no-manifest", false}});
        if (parsed.help) {
            io.out << kUsage;
            return kExitSuccess;
        }
        RequirePositional("pack", parsed, 2, 2);
        const auto resident = parsed.options.find("resident");
        const bool residentForced = resident != parsed.options.end();
        const std::uint32_t forcedSize = residentForced ? ParseResident(resident->second) : 0;
        const bool scramble = parsed.options.count("scramble") != 0;
        const bool manifest = parsed.options.count("no-manifest") == 0;
        const fs::path directory = ArgPath(parsed.positional[0]);
        const fs::path output = ArgPath(parsed.positional[1]);

        const std::vector<SourceFile> files = CollectFiles(directory, output);
        CheckKeys(files, io.err);

        PackageOutput package(output, scramble);
        ProgressBar progress(io.err, io.progress, files.size());
        std::uint64_t dataBytes = 0;
        for (std::size_t i = 0; i < files.size(); ++i) {
            std::error_code error;
            const std::uintmax_t size = fs::file_size(files[i].path, error);
            if (!error && size > 0xFFFFFFFFu) {
                Fail("'" + Display(files[i].path) + "' is larger than a package can hold");
            }
            const Bytes bytes = ReadWholeFile(files[i].path);
            package.Add(files[i].name, bytes,
                        residentForced ? forcedSize : HeadResidentSize(bytes));
            dataBytes += bytes.size();
            progress.Show(i + 1);
        }
        progress.Finish();
        package.Finish(manifest);
        io.out << "packed " << files.size() << (files.size() == 1 ? " file (" : " files (")
               << dataBytes << " bytes" << (scramble ? ", scrambled" : "")
               << (manifest ? "" : ", no manifest") << ") into '" << Display(output) << "'\n";
        return kExitSuccess;
    });
}

} // namespace OrvexPack
