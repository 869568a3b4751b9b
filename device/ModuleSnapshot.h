#pragma once

#include "device/ChannelReading.h"
#include "device/Freshness.h"
#include "device/ModuleReading.h"
#include "device/SteadyClock.h"
#include "device/ToolWindowReading.h"

#include <QString>
#include <QVector>

// What the poller last read of one module, with the time of each read. Published as an
// immutable value (std::shared_ptr<const ModuleSnapshot>): the GUI thread renders it while the
// poller fills the next one.
struct ModuleSnapshot
{
    // Monotonic milliseconds (SteadyClock), the clock of every "...AtMs" field; -1 means never.
    static qint64 nowMs() { return SteadyClock::nowMs(); }
    // A module from which nothing was read for this long is "Not connected"; a value older than
    // this is never shown as live (FreshnessRules).
    static constexpr qint64 freshForMs = FreshnessRules::staleAfterMs;

    int moduleIndex = -1; // position in the session's module list
    int serialNumber = 0;

    // The latest channel read in which at least one channel was complete; every row of it comes
    // from that one read cycle.
    QVector<ChannelReading> channels;
    qint64 channelsReadAtMs = -1;
    // Display units the channel values are in.
    QString voltageUnit;
    QString currentUnit;

    ModuleReading values;
    qint64 valuesReadAtMs = -1; // the latest read that answered any group of `values`
    // When each group of `values` was last answered: a group that a read did not reach keeps its
    // older reading, with its older time.
    qint64 rampSpeedsReadAtMs = -1;
    qint64 statusReadAtMs = -1;
    qint64 temperaturesReadAtMs = -1;
    qint64 suppliesReadAtMs = -1;

    // What only the tool windows show, read with the module values while such a window needs it.
    ToolWindowReading windowValues;
    qint64 windowValuesReadAtMs = -1;

    // The latest moment anything of this module was answered.
    qint64 lastAnswerAtMs = -1;

    bool connected(qint64 now) const { return lastAnswerAtMs >= 0 && now - lastAnswerAtMs <= freshForMs; }
    bool channelsFresh(qint64 now) const { return channelsReadAtMs >= 0 && now - channelsReadAtMs <= freshForMs; }
    // One channel of the latest channel read: Stale when that read did not reach it whole.
    Freshness channelFreshness(int channel, qint64 now) const
    {
        if (channel < 0 || channel >= channels.size() || !channels.at(channel).complete)
            return Freshness::Stale;
        return FreshnessRules::of(channelsReadAtMs, now);
    }
    // A group of the tool-window values (read whole, so the group's flag says whether this read
    // reached it).
    Freshness windowValuesFreshness(bool groupValid, qint64 now) const
    {
        return groupValid ? FreshnessRules::of(windowValuesReadAtMs, now) : Freshness::Stale;
    }
};
