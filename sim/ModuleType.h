#pragma once

#include <QString>

#include <vector>

// One kind of high-voltage (or measurement) module a crate slot can hold. The firmware name
// encodes the family, the channel count, the nominal voltage in units of 100 V and the polarity
// ("THE1640p": 16 channels, 4.0 kV, positive); the rest are the values a module of that kind
// reports by default.
struct ModuleType
{
    const char* name;
    int deviceClass;
    int channels;
    double nominalVoltage; // V
    double nominalCurrent; // A
    char polarity;         // 'p', 'n', 'r', 'b' (bipolar) or 'm' (measurement)
    bool currentControl;   // false: the set current is fixed at the nominal current

    bool isMeasurement() const { return polarity == 'm'; }
    bool isBipolar() const { return polarity == 'b'; }

    // nullptr for an unknown name.
    static const ModuleType* find(const QString& name);
    static const std::vector<ModuleType>& all();
};
