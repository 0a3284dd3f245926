// Frames inside the shared library as a host sees them: named with their
// namespace and class, printed with every digit of their address.
#include "OrvexCommon/diag/OrvexDiag.h"
#include "OrvexCommon/time/OrvexTick.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

namespace {

std::string NameOf(void* address) {
    char name[512] = {};
    Orvex::DebugAddress2Symbol(address, name, sizeof(name) - 1);
    return name;
}

// Captures its own stack while the tick manager runs it.
class CStackTick : public Orvex::CTick {
public:
    void OnTick() override { stored = Orvex::GetStack(frames, 0, kDepth); }

    static constexpr unsigned short kDepth = 16;
    void* frames[kDepth] = {};
    unsigned stored = 0;
};

// Lets a tick manager run `tick` once.
void RunOnce(CStackTick& tick) {
    Orvex::CTickMgr manager;
    manager.AddTick(&tick, 1, 7);
    manager.Update(2);
    manager.DelTick(&tick);
}

TEST(LibraryFrames, TickManagerFramesCarryTheirClass) {
    CStackTick tick;
    RunOnce(tick);
    ASSERT_GT(tick.stored, 2u);
    std::vector<std::string> names;
    for (unsigned i = 0; i < tick.stored; ++i) {
        names.push_back(NameOf(tick.frames[i]));
    }
    EXPECT_EQ("Orvex::GetStack", names[0]);
    bool updateSeen = false;
    for (const std::string& name : names) {
        updateSeen = updateSeen || name == "Orvex::CTickMgr::Update";
    }
    std::ostringstream shown;
    for (const std::string& name : names) {
        shown << name << "\n";
    }
    EXPECT_TRUE(updateSeen) << shown.str();
}

// Each printed address reads back as the whole pointer: nothing is cut to 32
// bits where code lives above 4 GiB.
TEST(LibraryFrames, PrintedAddressesKeepTheirFullWidth) {
    CStackTick tick;
    RunOnce(tick);
    ASSERT_GT(tick.stored, 2u);
    std::ostringstream stream;
    Orvex::PrintStack(tick.frames, tick.stored, 1, stream);
    std::istringstream lines(stream.str());
    std::string line;
    unsigned index = 0;
    while (std::getline(lines, line) && index < tick.stored) {
        const std::size_t open = line.rfind("()[");
        const std::size_t close = line.find(']', open);
        ASSERT_NE(std::string::npos, open) << line;
        ASSERT_NE(std::string::npos, close) << line;
        const std::string digits = line.substr(open + 3, close - open - 3);
        EXPECT_GE(digits.size(), 8u) << line;
        EXPECT_EQ(reinterpret_cast<std::uintptr_t>(tick.frames[index]),
                  static_cast<std::uintptr_t>(std::strtoull(digits.c_str(), nullptr, 16)))
            << line;
        ++index;
    }
    EXPECT_EQ(tick.stored, index);
}

} // namespace
