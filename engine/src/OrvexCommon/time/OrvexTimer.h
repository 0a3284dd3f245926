// A stopwatch on game time and a frames-per-second counter on process time.
#ifndef ORVEX_TIME_ORVEXTIMER_H
#define ORVEX_TIME_ORVEXTIMER_H

#include "OrvexCommon/base/OrvexExport.h"

namespace Orvex {

// Measures game time: it stops while the game clock is paused.
class ORVEX_API CTimer {
public:
    CTimer();
    // Starts again from the current game time.
    void Restart();
    // Game time since the start; wraps if the game time was set back below it.
    unsigned long long GetElapse() const;
    unsigned long long GetStartTime() const;

private:
    long long m_startTime;
};

// Call GetFPS once per frame: the figure is refreshed once at least a second
// of process time has passed, as the average over that period.
class ORVEX_API CFPS {
public:
    CFPS();
    float GetFPS();

private:
    float m_frameRate;
    long long m_sampleTime;
    unsigned int m_frameCount;
};

} // namespace Orvex

#endif // ORVEX_TIME_ORVEXTIMER_H
