// The stopwatch and the frame-rate counter.
#include "OrvexCommon/time/OrvexTimer.h"
#include "OrvexCommon/time/OrvexClock.h"

namespace Orvex {

CTimer::CTimer() : m_startTime(GetOrvexTime()) {}

void CTimer::Restart() {
    m_startTime = GetOrvexTime();
}

unsigned long long CTimer::GetElapse() const {
    return static_cast<unsigned long long>(GetOrvexTime() - m_startTime);
}

unsigned long long CTimer::GetStartTime() const {
    return static_cast<unsigned long long>(m_startTime);
}

CFPS::CFPS() : m_frameRate(0.0f), m_sampleTime(0), m_frameCount(0) {}

float CFPS::GetFPS() {
    ++m_frameCount;
    const long long now = GetProcessTime();
    const unsigned long long period = static_cast<unsigned long long>(now - m_sampleTime);
    if (period >= 1000) {
        m_frameRate = static_cast<float>(m_frameCount * 1000.0 / static_cast<double>(period));
        m_sampleTime = now;
        m_frameCount = 0;
    }
    return m_frameRate;
}

} // namespace Orvex
