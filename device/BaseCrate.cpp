#include "device/BaseCrate.h"

BaseCrate::~BaseCrate() = default;

bool BaseCrate::lastReadFailed()
{
    return false;
}

CrateReading BaseCrate::read()
{
    CrateReading reading;
    reading.serialNumber = serialNumber();
    reading.firmwareRelease = firmwareRelease();
    reading.supply5V = supply5V();
    reading.supply24V = supply24V();
    reading.battery24V = battery24V();
    reading.temperatureBackPlane = temperatureBackPlane();
    reading.temperaturePowerSupply = temperaturePowerSupply();
    reading.fanSpeed = fanSpeed();
    reading.status = status();
    reading.powerOn = powerOn();
    reading.valid = !lastReadFailed();
    return reading;
}
