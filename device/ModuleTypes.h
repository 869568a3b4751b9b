#pragma once

#include <QString>

// The device class table: module type names (firmware names as modules report them) and their
// numeric device classes. Name pattern: family letters, channel count (2 digits), nominal kV x 10
// (2 digits), polarity (p positive, n negative, r reversible, b bipolar, m measurement).
namespace ModuleTypes {

struct DeviceClassEntry
{
    const char* name;
    int deviceClass;
};

// All entries in table order; a class with two names lists the preferred name first.
const DeviceClassEntry* table();
int tableSize();

// Class of the entry whose name equals `firmwareName` exactly (case-sensitive); -1 when none.
int deviceClassOf(const QString& firmwareName);
// First name of `deviceClass` in the table; empty when the class is not in it.
QString nameOf(int deviceClass);

// Measurement module: channels switch between measurement modes instead of on and off.
inline constexpr const char* measurement = "TMM0800m";
inline constexpr int measurementDeviceClass = 90;
// Bipolar module.
inline constexpr const char* bipolar = "THX0830b";
inline constexpr int bipolarDeviceClass = 41;
// Classes whose modules have no current control (no current ramp of their own).
inline bool hasCurrentControl(int deviceClass)
{
    return deviceClass != 21 && deviceClass != 28;
}

} // namespace ModuleTypes
