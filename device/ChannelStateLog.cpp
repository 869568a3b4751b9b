#include "device/ChannelStateLog.h"

#include <algorithm>

ChannelStateLog::ChannelStateLog(int channels)
    : m_channels(size_t(std::max(0, channels)))
{
}

void ChannelStateLog::append(qint64 atMs, int channel, float voltageSetV, float currentSetA, quint32 status)
{
    if (channel < 0 || channel >= channelCount())
        return;
    std::vector<State>& states = m_channels[size_t(channel)];
    if (!states.empty()) {
        const State& last = states.back();
        if (atMs < last.atMs
            || (last.voltageSetV == voltageSetV && last.currentSetA == currentSetA && last.status == status))
            return;
    }
    if (int(states.size()) >= maxEntriesPerChannel)
        states.erase(states.begin(), states.begin() + maxEntriesPerChannel / 10);
    states.push_back(State{atMs, voltageSetV, currentSetA, status});
}

ChannelStateLog::State ChannelStateLog::at(int channel, qint64 atMs) const
{
    if (channel < 0 || channel >= channelCount())
        return State();
    const std::vector<State>& states = m_channels[size_t(channel)];
    // The first entry after atMs; the one before it is the state then.
    const auto after =
        std::upper_bound(states.begin(), states.end(), atMs, [](qint64 ms, const State& state) { return ms < state.atMs; });
    return after == states.begin() ? State() : *(after - 1);
}

void ChannelStateLog::dropBefore(qint64 ms)
{
    for (std::vector<State>& states : m_channels) {
        const auto after = std::upper_bound(
            states.begin(), states.end(), ms, [](qint64 limit, const State& state) { return limit < state.atMs; });
        if (after - states.begin() > 1)
            states.erase(states.begin(), after - 1);
    }
}
