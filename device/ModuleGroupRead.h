#pragma once

#include "device/ChannelReading.h"

#include <QVector>

#include <functional>

class BaseModule;

// Reads of several modules at once where their access path allows it.
class ModuleGroupRead
{
public:
    // Every module's readChannels(); `ready` gets each module's reading (by its index in
    // `modules`) as soon as it is there. SNMP modules of one crate are read together (all
    // requests in flight at once, about one round trip for the crate); other modules one after
    // another.
    using ReadingReady = std::function<void(int index, const QVector<ChannelReading>& reading)>;
    static void readChannels(const QVector<BaseModule*>& modules, const ReadingReady& ready);
};
