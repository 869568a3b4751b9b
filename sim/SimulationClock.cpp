#include "SimulationClock.h"

SimulationClock::SimulationClock()
{
    m_timer.start();
}

double SimulationClock::takeElapsedSeconds()
{
    const qint64 now = m_timer.nsecsElapsed();
    const double seconds = double(now - m_lastNs) * 1e-9 * m_timescale;
    m_lastNs = now;
    return seconds;
}
