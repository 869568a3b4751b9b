#include "device/NominalRange.h"

#include "device/BaseModule.h"
#include "device/ModuleSnapshot.h"

#include <cmath>

void NominalRange::add(const ChannelReading& reading, bool voltage)
{
    const float value = std::fabs(voltage ? reading.voltageNominal : reading.currentNominal);
    smallest = found ? qMin(smallest, value) : value;
    largest = found ? qMax(largest, value) : value;
    found = true;
}

void NominalRange::merge(const NominalRange& other)
{
    smallest = found ? qMin(smallest, other.smallest) : other.smallest;
    largest = found ? qMax(largest, other.largest) : other.largest;
    found = true;
}

NominalRange NominalRange::of(const ModuleSnapshot& snapshot, const QList<int>& channels, bool voltage)
{
    NominalRange range;
    for (int channel : channels) {
        if (channel < 0 || channel >= snapshot.channels.size() || !snapshot.channels.at(channel).complete)
            return NominalRange();
        range.add(snapshot.channels.at(channel), voltage);
    }
    return range;
}

NominalRange NominalRange::ofReached(const ModuleSnapshot& snapshot, bool voltage)
{
    NominalRange range;
    for (const ChannelReading& reading : snapshot.channels) {
        if (reading.complete)
            range.add(reading, voltage);
    }
    return range;
}

NominalRange NominalRange::readFrom(BaseModule& module, bool voltage)
{
    NominalRange range;
    for (int channel = 0; channel < module.channelNumber(); ++channel) {
        ChannelReading nominal;
        nominal.voltageNominal = module.channelVoltageNominal(channel);
        nominal.currentNominal = module.channelCurrentNominal(channel);
        if ((voltage ? nominal.voltageNominal : nominal.currentNominal) != 0.0f)
            range.add(nominal, voltage);
    }
    return range;
}
