#pragma once

#include <QtGlobal>

#include <vector>

// Set values and status word of every channel of one module over time, kept as changes: a read
// adds an entry for a channel only when its voltage set, current set or status word differs
// from the channel's previous entry. Together with a ChannelHistory it tells what a channel was
// set to and in which state it was at any read of the history. Times on the
// ModuleSnapshot::nowMs() clock, voltages in volts, currents in amperes.
//
// Memory is bounded: at most maxEntriesPerChannel changes per channel (the oldest go first).
//
// Not thread-safe: one thread (the GUI thread) appends and asks.
class ChannelStateLog
{
public:
    static constexpr int maxEntriesPerChannel = 20000;

    struct State
    {
        qint64 atMs = -1; // of the read that brought the change; -1: nothing known
        float voltageSetV = 0;
        float currentSetA = 0;
        quint32 status = 0;
        bool isKnown() const { return atMs >= 0; }
    };

    explicit ChannelStateLog(int channels);

    int channelCount() const { return int(m_channels.size()); }
    // One channel of one complete read at `atMs` (not earlier than the channel's latest).
    void append(qint64 atMs, int channel, float voltageSetV, float currentSetA, quint32 status);
    // The state of `channel` at `atMs`: its latest entry at or before that time; not known
    // before its first entry.
    State at(int channel, qint64 atMs) const;
    // Drops the entries before `ms`, except each channel's latest one before it (still its state
    // at `ms`).
    void dropBefore(qint64 ms);

private:
    std::vector<std::vector<State>> m_channels; // per channel, oldest first
};
