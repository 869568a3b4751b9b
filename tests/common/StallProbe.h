#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

#include <algorithm>

// The longest gap between two turns of a 1 ms timer of this thread while it runs: how long the
// thread's event loop stood still. For benchmarks.
class StallProbe
{
public:
    StallProbe()
    {
        m_timer.setTimerType(Qt::PreciseTimer);
        m_timer.setInterval(1);
        QObject::connect(&m_timer, &QTimer::timeout, [this] {
            m_longestMs = std::max(m_longestMs, double(m_gap.nsecsElapsed()) / 1e6);
            m_gap.restart();
        });
    }
    void start()
    {
        m_longestMs = 0.0;
        m_gap.start();
        m_timer.start();
    }
    // Stops, and gives the longest gap, the one running now included.
    double stop()
    {
        m_timer.stop();
        m_longestMs = std::max(m_longestMs, double(m_gap.nsecsElapsed()) / 1e6);
        return m_longestMs;
    }
    double longestMs() const { return m_longestMs; }

private:
    QTimer m_timer;
    QElapsedTimer m_gap;
    double m_longestMs = 0.0;
};
