// The tool's command dispatch and its console streams.
#include "PackCommands.h"
#include "ToolSupport.h"

#include "OrvexCommon/platform/OrvexSys.h"

#include <streambuf>

namespace OrvexPack {

namespace {

const char kUsage[] =
    "usage: orvex-pack COMMAND [ARGUMENTS]\n"
    "\n"
    "Builds, inspects and patches package files, and shows the heads of the\n"
    "resource files and the configuration and table files inside them.\n"
    "\n"
    "commands:\n"
    "  pack DIR OUT.pkg [--resident=N|all] [--scramble] [--no-manifest]\n"
    "                            package every file below DIR\n"
    "  list PKG                  show the header and the index\n"
    "  extract PKG DIR [--patch PATCHFILE]\n"
    "                            write every packaged file below DIR\n"
    "  verify PKG [DIR]          check the package (and its files against DIR)\n"
    "  patch ORIGINAL MODIFIED OUT\n"
    "                            write the patch file turning ORIGINAL into MODIFIED\n"
    "  head FILE | head PKG INNER-NAME\n"
    "                            show the common head of a typed resource file\n"
    "\n"
    "'orvex-pack COMMAND --help' describes a command. Exit status: 0 success,\n"
    "1 a failure or a problem found, 2 a wrong command line.\n";

typedef int (*Command)(const std::vector<std::string>&, ToolStreams&);

struct NamedCommand {
    const char* name;
    Command run;
};

const NamedCommand kCommands[] = {
    {"pack", PackCommand},     {"list", ListCommand},   {"extract", ExtractCommand},
    {"verify", VerifyCommand}, {"patch", PatchCommand}, {"head", HeadCommand},
    {"show", ShowCommand},
};

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
            io.out << kUsage;
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
