#include "device/ChannelSelection.h"

#include <algorithm>

void ChannelSelection::setModule(const QString& moduleKey)
{
    m_moduleKey = moduleKey;
}

void ChannelSelection::setChannels(const QList<int>& channels, int current)
{
    QList<int> chosen;
    for (int channel : channels) {
        if (channel >= 0)
            chosen.append(channel);
    }
    if (chosen.isEmpty() && current >= 0)
        chosen.append(current);
    std::sort(chosen.begin(), chosen.end());
    chosen.erase(std::unique(chosen.begin(), chosen.end()), chosen.end());
    m_channels = chosen;
    m_current = current >= 0 ? current : (chosen.isEmpty() ? -1 : chosen.first());
}

void ChannelSelection::clearChannels()
{
    m_channels.clear();
    m_current = -1;
}

QList<int> ChannelSelection::channelsOf(const QString& moduleKey, int channelCount) const
{
    QList<int> channels;
    if (moduleKey.isEmpty() || moduleKey != m_moduleKey)
        return channels;
    for (int channel : m_channels) {
        if (channel < channelCount)
            channels.append(channel);
    }
    return channels;
}

int ChannelSelection::currentOf(const QString& moduleKey, int channelCount) const
{
    if (moduleKey.isEmpty() || moduleKey != m_moduleKey || m_current >= channelCount)
        return -1;
    return m_current;
}
