// The tool's command dispatch and its console streams.
#include "PackCommands.h"
#include "ToolSupport.h"

#include "OrvexCommon/platform/OrvexSys.h"

#include <cstddef>
#include <streambuf>
#include <string>

namespace OrvexPack {

namespace {

typedef int (*Command)(const std::vector<std::string>&, ToolStreams&);

// The general help is made from this table, so a command cannot be left out
// of it.
struct NamedCommand {
    const char* name;
    Command run;
    const char* synopsis; // the arguments, as in the command's own help
    const char* summary;
};

const NamedCommand kCommands[] = {
    {"pack", PackCommand, "pack DIR OUT.pkg [--resident=N|all] [--scramble] [--no-manifest]",
     "package every file below DIR"},
    {"list", ListCommand, "list PKG | list ZIP", "show the header and the index"},
    {"extract", ExtractCommand, "extract PKG DIR [--patch PATCHFILE]",
     "write every packaged file below DIR"},
    {"verify", VerifyCommand, "verify PKG [DIR] | verify ZIP",
     "check the package (and its files against DIR)"},
    {"patch", PatchCommand, "patch ORIGINAL MODIFIED OUT",
     "write the patch file turning ORIGINAL into MODIFIED"},
    {"head", HeadCommand, "head FILE | head PKG INNER-NAME",
     "show the common head of a typed resource file"},
    {"show", ShowCommand, "show FILE | show PKG INNER-NAME [--as=config|table]",
     "print a .ini or .tab file as the library reads it"},
    {"from-zip", FromZipCommand, "from-zip IN.zip OUT.pkg",
     "write the files of a zip archive into a package"},
    {"to-zip", ToZipCommand, "to-zip IN.pkg OUT.zip",
     "write the named files of a package into a zip archive"},
};

// Synopses up to this width share a line with their summary.
constexpr std::size_t kSynopsisColumn = 26;

void WriteUsage(std::ostream& out) {
    out << "usage: orvex-pack COMMAND [ARGUMENTS]\n"
           "\n"
           "Builds, inspects and patches package files, and shows the heads of the\n"
           "resource files and the configuration and table files inside them.\n"
           "\n"
           "commands:\n";
    const std::string indent(2 + kSynopsisColumn, ' ');
    for (const NamedCommand& command : kCommands) {
        const std::string synopsis = command.synopsis;
        out << "  " << synopsis;
        if (synopsis.size() < kSynopsisColumn) {
            out << std::string(kSynopsisColumn - synopsis.size(), ' ');
        } else {
            out << "\n" << indent;
        }
        out << command.summary << "\n";
    }
    out << "\n"
           "'orvex-pack COMMAND --help' describes a command. Exit status: 0 success,\n"
           "1 a failure or a problem found, 2 a wrong command line.\n";
}

Command FindCommand(const std::string& name) {
    for (const NamedCommand& command : kCommands) {
        if (name == command.name) {
            return command.run;
        }
    }
    return nullptr;
}

// Holds text until a line ends or the stream is flushed, then hands it to the
// platform's console output.
class ConsoleBuffer : public std::streambuf {
public:
    explicit ConsoleBuffer(Orvex::sys::ConsoleStream stream) : m_stream(stream) {}
    ~ConsoleBuffer() override { sync(); }

protected:
    int_type overflow(int_type c) override {
        if (traits_type::eq_int_type(c, traits_type::eof())) {
            return traits_type::not_eof(c);
        }
        m_pending.push_back(traits_type::to_char_type(c));
        if (c == '\n') {
            sync();
        }
        return c;
    }

    int sync() override {
        if (!m_pending.empty()) {
            Orvex::sys::WriteConsoleText(m_stream, m_pending.data(), m_pending.size());
            m_pending.clear();
        }
        return 0;
    }

private:
    Orvex::sys::ConsoleStream m_stream;
    std::string m_pending;
};

} // namespace

int RunTool(const std::vector<std::string>& args, ToolStreams& io) {
    return Guarded(io, [&] {
        if (args.empty()) {
            UsageError("no command given (see 'orvex-pack --help')");
        }
        const std::string& first = args[0];
        if (first == "--help" || first == "-h" || first == "help") {
            if (first == "help" && args.size() > 1 && FindCommand(args[1]) != nullptr) {
                return FindCommand(args[1])({"--help"}, io);
            }
            WriteUsage(io.out);
            return kExitSuccess;
        }
        if (!first.empty() && first[0] == '-') {
            UsageError("unknown option '" + first + "' (see 'orvex-pack --help')");
        }
        const Command command = FindCommand(first);
        if (command == nullptr) {
            UsageError("unknown command '" + first + "' (see 'orvex-pack --help')");
        }
        return command(std::vector<std::string>(args.begin() + 1, args.end()), io);
    });
}

int RunFromConsole(const std::vector<std::string>& args) {
    ConsoleBuffer outBuffer(Orvex::sys::ConsoleStream::Output);
    ConsoleBuffer errBuffer(Orvex::sys::ConsoleStream::Error);
    std::ostream out(&outBuffer);
    std::ostream err(&errBuffer);
    ToolStreams io{out, err, Orvex::sys::IsTerminal(Orvex::sys::ConsoleStream::Error)};
    const int status = RunTool(args, io);
    out.flush();
    err.flush();
    return status;
}

} // namespace OrvexPack
