// Time and scheduling: the clocks, the stopwatch and frame-rate counter, and
// the tick manager.
#ifndef ORVEX_TIME_ORVEXTIME_H
#define ORVEX_TIME_ORVEXTIME_H

#include "OrvexCommon/time/OrvexClock.h"
#include "OrvexCommon/time/OrvexTick.h"
#include "OrvexCommon/time/OrvexTimer.h"

#endif // ORVEX_TIME_ORVEXTIME_H
