#pragma once

#include <QString>

// The crate's values of one read, for the crate window; `valid` is false when the crate did not
// answer (nothing here is then a reading).
struct CrateReading
{
    bool valid = false;
    int serialNumber = 0;
    QString firmwareRelease;
    float supply5V = 0.0f;
    float supply24V = 0.0f;
    float battery24V = 0.0f;
    float temperatureBackPlane = 0.0f;
    float temperaturePowerSupply = 0.0f;
    int fanSpeed = 0;
    int status = 0;
    bool powerOn = false;
};
