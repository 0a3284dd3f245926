// orvex-pack's entry where the command line arrives as UTF-16 text (linked
// with the runtime's wide entry point), so every name survives whatever the
// system's narrow code page is.
#include "PackCommands.h"
#include "ToolSupport.h"

int wmain(int argc, wchar_t** argv) {
    std::vector<std::string> args;
    for (int i = 1; i < argc; ++i) {
        args.push_back(OrvexPack::WideToUtf8(argv[i]));
    }
    return OrvexPack::RunFromConsole(args);
}
