// A host built against the installed library: one umbrella header, one target.
#include <OrvexCommon/OrvexCommon.h>

#include <cstdio>
#include <memory>

// A host's own tick: derives from a class of the library, so the library's
// virtual tables and type information must be visible to it.
class CHostTick : public Orvex::CTick {
public:
    void OnTick() override { ++fired; }
    int fired = 0;
};

int main() {
    auto manager = std::make_unique<Orvex::CTickMgr>();
    CHostTick tick;
    manager->AddTick(&tick, 4, 1);
    manager->Update(9);
    std::printf("installed host: tick fired %d times\n", tick.fired);
    std::printf("installed host: hash %08x\n", static_cast<unsigned>(Orvex::OrvexHash("", 0)));
    Orvex::GetLogStream() << "installed host: log stream works\n";
    // What the library throws reaches the host's handler.
    try {
        Orvex::GetVirtualFunIndex(0);
    } catch (const char* text) {
        std::printf("installed host: caught %s\n", text);
    }
    return 0;
}
