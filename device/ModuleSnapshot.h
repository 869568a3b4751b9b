#pragma once

#include "device/ChannelReading.h"
#include "device/ModuleReading.h"
#include "device/ToolWindowReading.h"

#include <QString>
#include <QVector>

#include <chrono>

// What the poller last read of one module, with the time of each read. Published as an
// immutable value (std::shared_ptr<const ModuleSnapshot>): the GUI thread renders it while the
// poller fills the next one.
struct ModuleSnapshot
{
    // Monotonic milliseconds, the clock of every "...AtMs" field; -1 means never.
    static qint64 nowMs()
    {
        using namespace std::chrono;
        return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
    }
    // A module from which nothing was read for this long is "Not connected"; a value older than
    // this is never shown as live.
    static constexpr qint64 freshForMs = 2000;

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
    qint64 valuesReadAtMs = -1;

    // What only the tool windows show, read with the module values while such a window needs it.
    ToolWindowReading windowValues;
    qint64 windowValuesReadAtMs = -1;

    // The latest moment anything of this module was answered.
    qint64 lastAnswerAtMs = -1;

    bool connected(qint64 now) const { return lastAnswerAtMs >= 0 && now - lastAnswerAtMs <= freshForMs; }
    bool channelsFresh(qint64 now) const { return channelsReadAtMs >= 0 && now - channelsReadAtMs <= freshForMs; }
};
