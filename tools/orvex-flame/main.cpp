// orvex-flame's entry where the command line arrives as UTF-8 bytes.
#include "FlameChart.h"

#include <iostream>

int main(int argc, char** argv) {
    return OrvexFlame::RunFlameTool(std::vector<std::string>(argv + 1, argv + argc), std::cout,
                                    std::cerr);
}
