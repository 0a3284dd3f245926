// orvex-flame's entry where the command line arrives as UTF-16 text, so that
// every file name survives whatever the system's narrow code page is.
#include "FlameChart.h"
#include "FlameJson.h"

#include <iostream>

namespace {

// UTF-16 to UTF-8; an unpaired surrogate becomes U+FFFD.
std::string Utf8Of(const wchar_t* wide) {
    std::string out;
    for (; *wide != 0; ++wide) {
        unsigned code = static_cast<unsigned>(*wide) & 0xFFFFu;
        if (code >= 0xD800 && code < 0xDC00 && (wide[1] & 0xFC00) == 0xDC00) {
            code = 0x10000 + ((code - 0xD800) << 10) + ((wide[1] & 0x3FFu));
            ++wide;
        } else if (code >= 0xD800 && code < 0xE000) {
            code = 0xFFFD;
        }
        OrvexFlame::AppendUtf8(out, code);
    }
    return out;
}

} // namespace

int wmain(int argc, wchar_t** argv) {
    std::vector<std::string> args;
    for (int i = 1; i < argc; ++i) {
        args.push_back(Utf8Of(argv[i]));
    }
    return OrvexFlame::RunFlameTool(args, std::cout, std::cerr);
}
