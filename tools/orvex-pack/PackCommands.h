// The commands of orvex-pack, the package tool, callable in-process: each takes
// the arguments that follow its name on the command line, writes its report to
// `out` and its errors (one line each, "orvex-pack: ...") to `err`, and returns
// the process exit status. None of them throws.
#ifndef ORVEX_TOOLS_ORVEXPACK_PACKCOMMANDS_H
#define ORVEX_TOOLS_ORVEXPACK_PACKCOMMANDS_H

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

namespace OrvexPack {

constexpr int kExitSuccess = 0;
constexpr int kExitFailure = 1; // an input, an output or a check failed
constexpr int kExitUsage = 2;   // the command line itself is wrong

// The inner name under which pack stores the list of names.
constexpr char kManifestName[] = ".orvex-manifest";

// Arguments are UTF-8 text.
struct ToolStreams {
    std::ostream& out;
    std::ostream& err;
    bool progress; // pack may draw a progress bar on err
};

// The whole command line after the program name: a command and its arguments,
// or --help.
int RunTool(const std::vector<std::string>& args, ToolStreams& io);

int PackCommand(const std::vector<std::string>& args, ToolStreams& io);
int ListCommand(const std::vector<std::string>& args, ToolStreams& io);
int ExtractCommand(const std::vector<std::string>& args, ToolStreams& io);
int VerifyCommand(const std::vector<std::string>& args, ToolStreams& io);
int PatchCommand(const std::vector<std::string>& args, ToolStreams& io);
int HeadCommand(const std::vector<std::string>& args, ToolStreams& io);
int ShowCommand(const std::vector<std::string>& args, ToolStreams& io);
int FromZipCommand(const std::vector<std::string>& args, ToolStreams& io);
int ToZipCommand(const std::vector<std::string>& args, ToolStreams& io);

// RunTool with the process's standard output and standard error (UTF-8 text,
// shown as wide text on a console) and a progress bar when standard error is
// a terminal.
int RunFromConsole(const std::vector<std::string>& args);

} // namespace OrvexPack

#endif // ORVEX_TOOLS_ORVEXPACK_PACKCOMMANDS_H
