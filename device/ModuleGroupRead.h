#pragma once

#include "device/ChannelReading.h"

#include <QVector>

class BaseModule;

// Reads of several modules at once where their access path allows it.
class ModuleGroupRead
{
public:
    // Every module's readChannels(), one reading per module in order. SNMP modules of one crate
    // are read together (all requests in flight at once, about one round trip for the crate);
    // other modules one after another.
    static QVector<QVector<ChannelReading>> readChannels(const QVector<BaseModule*>& modules);
};
