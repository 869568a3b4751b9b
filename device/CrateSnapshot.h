#pragma once

#include "controller/BusStatus.h"
#include "device/CrateReading.h"

#include <QString>

// What the poller last read of the crate and the connection, once a second.
struct CrateSnapshot
{
    // The controller's connectionInfo() text (for SNMP "Connected to %1.") and its bus status,
    // both empty when the crate did not answer at all.
    QString connectionInfo;
    BusStatus busStatus;
    bool answered = false;
    bool liveInsertion = false;
    qint64 readAtMs = -1; // ModuleSnapshot::nowMs() clock
    // Only while something needs the crate values (the crate window); kept from an older read
    // while nothing needs them or the latest read was not answered, with the time of that read.
    CrateReading crate;
    qint64 crateReadAtMs = -1;
};
