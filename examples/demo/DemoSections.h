// The demo's sections that live in files of their own.
#ifndef ORVEX_EXAMPLES_DEMO_DEMOSECTIONS_H
#define ORVEX_EXAMPLES_DEMO_DEMOSECTIONS_H

namespace Orvex {
class CProfile;
}

// Mouse picking: a box and a triangle under a mouse position.
void ShowPicking();

// A stack captured here and printed with function names.
void ShowStacks();

// The profiles the frame loop measures, created on first use.
struct SFrameProfiles {
    Orvex::CProfile* tickUpdate; // the tick manager's update, one hit a frame
    Orvex::CProfile* frameWork;  // simulated work in three timed pieces a frame
};
SFrameProfiles& FrameProfiles();

// Three pieces of simulated work for frame `frame`, timed as one detail
// block; now and then a piece is long enough to be kept as a detail.
void DoProfiledFrameWork(long long frame);

// Every profile with its counters, in the manager's order.
void PrintProfileReport();

#endif // ORVEX_EXAMPLES_DEMO_DEMOSECTIONS_H
