// GetStack as a host sees it, inside the shared library's tick callback,
// against the runtime's unwinder called by the host at the same point: the
// same frames through the library and the host, for GetStack's edge values
// of skip and depth.
#include "OrvexCommon/diag/OrvexDiag.h"
#include "OrvexCommon/time/OrvexTick.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <unwind.h>
#include <vector>

namespace {

constexpr unsigned kRoom = 512;

struct SHostWalk {
    std::vector<void*> frames;
};

_Unwind_Reason_Code KeepFrame(struct _Unwind_Context* context, void* argument) {
    auto& walk = *static_cast<SHostWalk*>(argument);
    const _Unwind_Ptr resume = _Unwind_GetIP(context);
    if (resume == 0 || walk.frames.size() == kRoom) {
        return _URC_END_OF_STACK;
    }
    walk.frames.push_back(reinterpret_cast<void*>(resume));
    return _URC_NO_REASON;
}

// Frame 0 is this function, frame 1 the return address into its caller.
__attribute__((noinline)) void HostWalk(SHostWalk& walk) {
    walk.frames.reserve(kRoom);
    _Unwind_Backtrace(KeepFrame, &walk);
    __asm__ __volatile__("" ::: "memory");
}

std::string NameOf(void* address) {
    char name[512] = {};
    Orvex::DebugAddress2Symbol(address, name, sizeof(name) - 1);
    return name;
}

struct SWindow {
    unsigned short skip;
    unsigned short depth;
};

const SWindow kWindows[] = {{0, 0}, {1, 1}, {3, 2},  {0, 1},   {0, 2},    {1, 2},
                            {1, 3}, {2, 5}, {0, 40}, {2, 500}, {7, 1000}, {1000, 1003}};

struct SCapture {
    std::vector<void*> frames;
    unsigned stored;
};

// Captures every window and the host's walk from inside a tick.
class CWalkTick : public Orvex::CTick {
public:
    void OnTick() override {
        for (const SWindow& window : kWindows) {
            SCapture capture;
            capture.frames.assign(std::max(1, window.depth - window.skip), nullptr);
            capture.stored = Orvex::GetStack(capture.frames.data(), window.skip, window.depth);
            captures.push_back(capture);
        }
        HostWalk(host);
        __asm__ __volatile__("" ::: "memory"); // not a tail call: OnTick stays frame 1
    }

    std::vector<SCapture> captures;
    SHostWalk host;
};

} // namespace

// GetStack's frame 1 is GetStack, frame 2 the return into OnTick (the host's
// frame 1, from another call), frame k > 2 the host's frame k - 1.
TEST(LibraryWalk, GetStackMatchesTheHostsUnwinderThroughTheLibrary) {
    CWalkTick tick;
    Orvex::CTickMgr manager;
    manager.AddTick(&tick, 1, 7);
    manager.Update(2);
    manager.DelTick(&tick);
    ASSERT_EQ(sizeof(kWindows) / sizeof(kWindows[0]), tick.captures.size());
    const std::vector<void*>& host = tick.host.frames;
    ASSERT_GT(host.size(), 4u);
    ASSERT_LT(host.size(), kRoom);
    // The walk passes through the library's own frames.
    bool updateSeen = false;
    for (void* frame : host) {
        updateSeen = updateSeen || NameOf(frame) == "Orvex::CTickMgr::Update";
    }
    EXPECT_TRUE(updateSeen);
    const unsigned total = static_cast<unsigned>(host.size()) + 1;
    for (std::size_t w = 0; w < tick.captures.size(); ++w) {
        const SWindow& window = kWindows[w];
        const SCapture& capture = tick.captures[w];
        const unsigned first = window.skip + 1u;
        const unsigned end = std::min<unsigned>(window.depth + 1u, total);
        const unsigned expected = end > first ? end - first : 0;
        ASSERT_EQ(expected, capture.stored) << "skip " << window.skip << " depth " << window.depth;
        for (unsigned k = first; k < end; ++k) {
            void* frame = capture.frames[k - first];
            if (k == 1) {
                EXPECT_EQ("Orvex::GetStack", NameOf(frame));
            } else if (k == 2) {
                EXPECT_NE(std::string::npos, NameOf(frame).find("CWalkTick::OnTick"));
            } else {
                EXPECT_EQ(host[k - 1], frame) << "skip " << window.skip << " frame " << k;
            }
        }
    }
}
