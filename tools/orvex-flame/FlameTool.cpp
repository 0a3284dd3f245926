// The orvex-flame command line.
#include "FlameChart.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace OrvexFlame {

namespace {

constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;

const char kUsage[] = "usage: orvex-flame INPUT.json OUTPUT.svg [--width=N]\n"
                      "Draws the complete events of a trace-event file (such as the profiler's\n"
                      "SaveProfileRecord writes) as an SVG flame chart; OUTPUT - writes to\n"
                      "standard output.\n";

std::filesystem::path PathOf(const std::string& utf8) {
    return std::filesystem::u8path(utf8);
}

} // namespace

int RunFlameTool(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    std::vector<std::string> positional;
    double width = kDefaultWidth;
    for (const std::string& arg : args) {
        if (arg == "--help" || arg == "-h") {
            out << kUsage;
            return 0;
        }
        if (arg.compare(0, 8, "--width=") == 0) {
            char* end = nullptr;
            width = std::strtod(arg.c_str() + 8, &end);
            if (*end != 0 || !(width >= 100 && width <= 100000)) {
                err << "orvex-flame: --width takes a number from 100 to 100000\n";
                return kExitUsage;
            }
        } else if (arg.size() > 1 && arg[0] == '-' && arg[1] == '-') {
            err << "orvex-flame: unknown option " << arg << "\n" << kUsage;
            return kExitUsage;
        } else {
            positional.push_back(arg);
        }
    }
    if (positional.size() != 2) {
        err << kUsage;
        return kExitUsage;
    }
    std::ifstream input(PathOf(positional[0]), std::ios::binary);
    std::stringstream text;
    text << input.rdbuf();
    if (!input) {
        err << "orvex-flame: cannot read " << positional[0] << "\n";
        return kExitFailure;
    }
    FlameTrace trace;
    std::string error;
    if (!ReadTrace(text.str(), trace, error)) {
        err << "orvex-flame: " << positional[0] << ": " << error << "\n";
        return kExitFailure;
    }
    const std::string svg = RenderSvg(trace, width);
    if (positional[1] == "-") {
        out << svg;
        return out ? 0 : kExitFailure;
    }
    std::ofstream output(PathOf(positional[1]), std::ios::binary | std::ios::trunc);
    output << svg;
    output.close();
    if (!output) {
        err << "orvex-flame: cannot write " << positional[1] << "\n";
        return kExitFailure;
    }
    return 0;
}

} // namespace OrvexFlame
