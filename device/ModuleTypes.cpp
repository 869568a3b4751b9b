#include "device/ModuleTypes.h"

#include <iterator>

namespace ModuleTypes {

namespace {

constexpr DeviceClassEntry deviceClasses[] = {
    {"THA0830p", 20},
    {"THB1620n", 21},
    {"THB1620p", 21},
    {"THC3210p", 22},
    {"THD0860r", 23},
    {"THE1640p", 24},
    {"THF0810n", 25},
    {"THG1605p", 26},
    {"THH2420p", 27},
    {"THK0840p", 28},
    {"THL1630n", 29},
    {"THM4805p", 30},
    {"THN0820p", 31},
    {"THP1660p", 32},
    {"THR0425p", 35},
    {"THS3230n", 36},
    {"THT1615p", 37},
    {"THU0860p", 38},
    {"THV2410n", 39},
    {"THW1640r", 40},
    {bipolar, bipolarDeviceClass},
    {"TLV1612p", 60},
    {"TAD0810p", 70},
    {measurement, measurementDeviceClass},
};

} // namespace

const DeviceClassEntry* table()
{
    return deviceClasses;
}

int tableSize()
{
    return int(std::size(deviceClasses));
}

int deviceClassOf(const QString& firmwareName)
{
    for (const DeviceClassEntry& entry : deviceClasses) {
        if (firmwareName == QLatin1String(entry.name))
            return entry.deviceClass;
    }
    return -1;
}

QString nameOf(int deviceClass)
{
    for (const DeviceClassEntry& entry : deviceClasses) {
        if (entry.deviceClass == deviceClass)
            return QString::fromLatin1(entry.name);
    }
    return QString();
}

} // namespace ModuleTypes
