#pragma once

#include <QString>
#include <QtGlobal>

// What the current-trip, external-inhibit and nominal-value dialogs start from for one channel,
// read fresh by BaseModule::readChannelSettings() in one go: either every field was answered by
// the device or the read failed as a whole. Voltages and currents in the module's display units
// (voltageUnit, currentUnit), as the getters give them.
struct ChannelSettings
{
    float currentSet = 0;
    float currentNominal = 0;
    float voltageNominal = 0;
    float voltageHardwareNominal = 0;
    float currentHardwareNominal = 0;
    bool delayedTripEnabled = false;
    bool delayedTripRampDown = false;
    int delayedTripTimeMs = 0;
    // A BaseModule::OutputSupervisionAction.
    int inhibitAction = 0;
    quint32 control = 0;
    bool currentControl = false;
    QString voltageUnit;
    QString currentUnit;
};
