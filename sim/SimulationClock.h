#pragma once

#include <QElapsedTimer>

// Simulated time from the monotonic clock, running `timescale` times faster than the wall.
class SimulationClock
{
public:
    SimulationClock();

    // Simulated seconds that passed since the previous call.
    double takeElapsedSeconds();

    // Changing the factor first accounts the time passed at the old factor (the caller takes it
    // with takeElapsedSeconds() before).
    void setTimescale(double factor) { m_timescale = factor; }
    double timescale() const { return m_timescale; }

private:
    QElapsedTimer m_timer;
    qint64 m_lastNs = 0;
    double m_timescale = 1.0;
};
