// The demo's sections that live in files of their own.
#ifndef ORVEX_EXAMPLES_DEMO_DEMOSECTIONS_H
#define ORVEX_EXAMPLES_DEMO_DEMOSECTIONS_H

#include <OrvexCommon/platform/OrvexPlatform.h>

#include <atomic>

namespace Orvex {
class CProfile;
}

// Mouse picking: a box and a triangle under a mouse position.
void ShowPicking();

// Watching on, a loaded file saved again by another thread, and its reload
// arriving at a frame's Dispatch.
void ShowHotReload();

// A stack captured here and printed with function names.
void ShowStacks();

// The profiles the frame loop measures, created on first use.
struct SFrameProfiles {
    Orvex::CProfile* frame;      // one frame, around the two below
    Orvex::CProfile* tickUpdate; // the tick manager's update, one hit a frame
    Orvex::CProfile* frameWork;  // simulated work in three timed pieces a frame
    Orvex::CProfile* workerJob;  // a job of the worker thread
    Orvex::CProfile* workerStep; // a step inside such a job
};
SFrameProfiles& FrameProfiles();

// A thread that runs profiled jobs beside the frame loop until stopped, so
// that the recorded timeline has a second thread.
class CDemoWorker {
public:
    CDemoWorker();
    ~CDemoWorker();
    void Stop();
    CDemoWorker(const CDemoWorker&) = delete;
    CDemoWorker& operator=(const CDemoWorker&) = delete;

private:
    static unsigned ORVEX_THREAD_CALL Run(void* context);

    void* m_thread;
    std::atomic<bool> m_stop; // read by the worker between jobs
};

// Three pieces of simulated work for frame `frame`, timed as one detail
// block; now and then a piece is long enough to be kept as a detail.
void DoProfiledFrameWork(long long frame);

// Every profile with its counters, in the manager's order; then the recorded
// timeline saved as output/profile.json.
void PrintProfileReport();

#endif // ORVEX_EXAMPLES_DEMO_DEMOSECTIONS_H
