// Both stack walks of the platform from one call instruction, so that their
// frames agree from frame 1 on, and what differs between them, described.
#ifndef ORVEX_TESTS_DIAG_STACKWALKDIFF_H
#define ORVEX_TESTS_DIAG_STACKWALKDIFF_H

#include <string>
#include <vector>

namespace OrvexTest {

// The frames [first, last) a walk is asked for.
struct SWalkWindow {
    unsigned first;
    unsigned last;
};

// [0]: sys::CaptureStack, [1]: sys::CaptureStackWithUnwinder.
struct SWalkPair {
    std::vector<void*> frames[2];
    unsigned stored[2];
};

// Walks both ways through one call instruction.
void WalkBoth(const SWalkWindow& window, SWalkPair& walks);

// Empty when both walks stored the same frames; otherwise one line per
// difference.
std::string DescribeDifference(const SWalkWindow& window, const SWalkPair& walks);

} // namespace OrvexTest

#endif // ORVEX_TESTS_DIAG_STACKWALKDIFF_H
