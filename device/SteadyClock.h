#pragma once

#include <QtGlobal>

// The monotonic clock of every reading time (ModuleSnapshot::nowMs()): steady milliseconds plus
// an offset that only tests move. A test lets the age rules and the connection time-outs run
// their course by moving the clock forward instead of sleeping through real seconds; the timers
// that drive reading (the poller's tick) and the network library's own hold-off stay on real
// time. Thread-safe.
class SteadyClock
{
public:
    static qint64 nowMs();
    // Every later reading of the clock is `ms` later than it would have been.
    static void advanceMs(qint64 ms);
};
