#pragma once

#include <QtGlobal>

// One channel's quantities as the window shows them, from one read cycle. Values are in the
// module's display units at the time of the read. `complete` is false when the read did not
// reach this channel for every quantity: the values are then not readings and must not be shown.
struct ChannelReading
{
    float voltageSet = 0.0f;
    float currentSet = 0.0f;
    float voltageMeasure = 0.0f;
    float currentMeasure = 0.0f;
    float voltageNominal = 0.0f;
    float currentNominal = 0.0f;
    quint32 control = 0;
    quint32 status = 0;
    bool complete = false;
};
