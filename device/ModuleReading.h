#pragma once

#include <QtGlobal>

// Module-level values of one read. Each group carries whether it was read (a failed read leaves
// its group invalid; 0 is a reading, a failure is not).
struct ModuleReading
{
    // Ramp speeds in % of nominal per second; current ramp speed only with current control.
    bool rampSpeedsValid = false;
    float voltageRampSpeed = 0.0f;
    float currentRampSpeed = 0.0f;
    bool currentControl = false;

    bool statusValid = false;
    quint32 status = 0;
    quint32 eventStatus = 0;

    bool temperaturesValid = false;
    float temperature[4] = {0.0f, 0.0f, 0.0f, 0.0f};

    // Supplies in V, hardware limits in % of nominal.
    bool suppliesValid = false;
    float supplyP5 = 0.0f;
    float supplyP12 = 0.0f;
    float supplyN12 = 0.0f;
    float voltageLimit = 0.0f;
    float currentLimit = 0.0f;
};
