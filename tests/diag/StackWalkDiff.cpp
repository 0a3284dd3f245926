#include "StackWalkDiff.h"

#include "OrvexCommon/platform/OrvexSys.h"

#include <sstream>

namespace OrvexTest {

namespace {

typedef unsigned (*Walker)(void** out, unsigned first, unsigned last);

// Frame 1 of either walk is the return address into this function.
__attribute__((noinline)) unsigned WalkFrom(Walker walker, void** out, unsigned first,
                                            unsigned last) {
    const unsigned stored = walker(out, first, last);
    __asm__ __volatile__("" ::: "memory");
    return stored;
}

} // namespace

// One call of WalkFrom in a loop the compiler cannot unroll (its bound is
// hidden from it), so frame 2 is the same for both walks too.
__attribute__((noinline)) void WalkBoth(const SWalkWindow& window, SWalkPair& walks) {
    static const Walker walkers[2] = {&Orvex::sys::CaptureStack,
                                      &Orvex::sys::CaptureStackWithUnwinder};
    const unsigned room = window.last > window.first ? window.last - window.first : 1;
    unsigned count = 2;
    __asm__ __volatile__("" : "+r"(count));
    for (unsigned i = 0; i < count; ++i) {
        walks.frames[i].assign(room, nullptr);
        walks.stored[i] = WalkFrom(walkers[i], walks.frames[i].data(), window.first, window.last);
        __asm__ __volatile__("" ::: "memory");
    }
}

std::string DescribeDifference(const SWalkWindow& window, const SWalkPair& walks) {
    std::ostringstream text;
    if (walks.stored[0] != walks.stored[1]) {
        text << "[" << window.first << "," << window.last << "): stored " << walks.stored[0]
             << " frames, the unwinder " << walks.stored[1] << "\n";
    }
    if (walks.frames[0] != walks.frames[1]) {
        for (std::size_t i = 0; i < walks.frames[0].size(); ++i) {
            if (walks.frames[0][i] != walks.frames[1][i]) {
                text << "[" << window.first << "," << window.last << ") frame " << window.first + i
                     << ": " << walks.frames[0][i] << ", the unwinder " << walks.frames[1][i]
                     << "\n";
            }
        }
    }
    return text.str();
}

} // namespace OrvexTest
