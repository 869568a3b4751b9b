#pragma once

#include <QString>
#include <QVector>

// An operator's upper current limit for one channel: the alarm fires when the measured current
// stays above `limitA` for longer than `holdMs`. A limit of 0 or less means none.
struct CurrentLimit
{
    double limitA = 0;
    qint64 holdMs = 0;
    bool isSet() const { return limitA > 0; }
    bool operator==(const CurrentLimit& other) const { return limitA == other.limitA && holdMs == other.holdMs; }
};

// The current limits of a module's channels, stored per user in the INI settings
// "Tesmar"/"alarms", group = the module's serial number in decimal, keys
// "channel<N>/currentLimitAmperes" and "channel<N>/holdTimeMs" (as the display resolution is kept
// per serial number). A value that is not a number, negative or not finite counts as no limit
// (with a warning).
namespace CurrentLimitSettings {
QVector<CurrentLimit> load(int serialNumber, int channels);
// Writes one channel's limit (or removes it when not set); false when the file cannot be written.
bool save(int serialNumber, int channel, const CurrentLimit& limit);
} // namespace CurrentLimitSettings

// The display alarm of each channel of one module: fed with every read of the module's
// measured currents in read order. A channel above its limit in every read for longer than its
// hold time is in alarm from that read on, and stays in alarm whatever the current does next,
// until acknowledged. After an acknowledgement the channel can alarm again only once its
// current was at or below the limit in a read. A read that did not reach the channel, or a
// stretch without reads longer than gapAfterMs (module not answering), restarts the hold time:
// only what was read counts. It switches nothing.
//
// Not thread-safe: used from one thread.
class CurrentAlarms
{
public:
    static constexpr qint64 gapAfterMs = 2000;

    struct Channel
    {
        CurrentLimit limit;
        bool alarm = false;
        qint64 firedAtMs = -1;
        float firedAtA = 0; // the read that made it fire
        float highestA = 0; // highest read while in alarm
        qint64 aboveSinceMs = -1;
        bool armed = true;
    };

    explicit CurrentAlarms(int channels = 0);

    int channelCount() const { return m_channels.size(); }
    // A changed limit starts watching that channel anew (its alarm cleared).
    void setLimits(const QVector<CurrentLimit>& limits);
    void setLimit(int channel, const CurrentLimit& limit);
    CurrentLimit limit(int channel) const;

    // One read at `atMs` (not earlier than the previous one): `currentsA` holds channelCount()
    // currents in amperes, NaN where the read did not reach the channel. Returns true when an
    // alarm fired.
    bool update(qint64 atMs, const float* currentsA);

    bool alarm(int channel) const { return channel >= 0 && channel < m_channels.size() && m_channels.at(channel).alarm; }
    const Channel& channel(int channel) const { return m_channels.at(channel); }
    bool anyAlarm() const;
    // Clears the channel's alarm; true when there was one.
    bool acknowledge(int channel);

private:
    QVector<Channel> m_channels;
    qint64 m_lastReadMs = -1;
};
