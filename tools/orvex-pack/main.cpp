// orvex-pack's entry where the command line arrives as UTF-8 bytes.
#include "PackCommands.h"

int main(int argc, char** argv) {
    return OrvexPack::RunFromConsole(std::vector<std::string>(argv + 1, argv + argc));
}
