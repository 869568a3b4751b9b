#pragma once

#include <QList>
#include <QString>

// The operator's choice of module and channels, kept by the window itself rather than read off
// the table widget: blanking the table, a refresh or a reconnection reset the widget's current
// row, but never what the operator chose. Commands take their target from here only.
class ChannelSelection
{
public:
    // The module by a name that survives a rediscovery (controller address and the module's
    // slot or base address), not by its object or serial number.
    void setModule(const QString& moduleKey);
    QString moduleKey() const { return m_moduleKey; }

    // Replaces the chosen channels (sorted, each once; negative ones dropped). `current` is the
    // channel the operator last put the cursor on; it joins `channels` when that is empty.
    void setChannels(const QList<int>& channels, int current);
    void clearChannels();

    // The chosen channels of `moduleKey` that exist on a module of `channelCount` channels;
    // empty when another module is chosen or nothing is.
    QList<int> channelsOf(const QString& moduleKey, int channelCount) const;
    // The cursor channel of `moduleKey`, -1 when there is none (never a stand-in channel 0).
    int currentOf(const QString& moduleKey, int channelCount) const;
    int current() const { return m_current; }
    QList<int> channels() const { return m_channels; }

private:
    QString m_moduleKey;
    QList<int> m_channels;
    int m_current = -1;
};
