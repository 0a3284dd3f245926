// A host built against the installed library: one umbrella header, one target.
#include <OrvexCommon/OrvexCommon.h>

#include <cstdio>

int main() {
    std::printf("installed host: hash %08x\n", static_cast<unsigned>(Orvex::OrvexHash("", 0)));
    Orvex::GetLogStream() << "installed host: log stream works\n";
    return 0;
}
