#pragma once

#include <vector>

// Numeric OIDs of the MPOD crate objects this library reads and writes. Numeric only: the
// library never loads MIB files, so it works on a machine without the crate's MIB installed.
namespace CrateOid {

using Oid = std::vector<unsigned long>;

// Columns of the output (channel) table; the row of channel index i (slot * 100 + channel) is
// i + 1.
enum OutputColumn {
    OutputName = 2,
    OutputGroup = 3,
    OutputStatus = 4,
    OutputMeasurementSenseVoltage = 5,
    OutputMeasurementTerminalVoltage = 6,
    OutputMeasurementCurrent = 7,
    OutputMeasurementTemperature = 8,
    OutputSwitch = 9,
    OutputVoltage = 10,
    OutputCurrent = 12,
    OutputVoltageRiseRate = 13,
    OutputVoltageFallRate = 14,
    OutputSupervisionBehavior = 15,
    OutputSupervisionMinSenseVoltage = 16,
    OutputSupervisionMaxSenseVoltage = 17,
    OutputSupervisionMaxTerminalVoltage = 18,
    OutputSupervisionMaxCurrent = 19,
    OutputConfigMaxSenseVoltage = 21,
    OutputConfigMaxTerminalVoltage = 22,
    OutputConfigMaxCurrent = 23,
    OutputSupervisionMaxPower = 24,
    OutputCurrentRiseRate = 25,
    OutputCurrentFallRate = 26,
    OutputTripTimeMaxCurrent = 27,
};

// Columns of the module table; the row of slot s is s + 1.
enum ModuleColumn {
    ModuleDescription = 2,
    ModuleAuxiliaryMeasurementVoltage = 3, // sub-index 1: 24 V supply, 2: 5 V supply
    ModuleHardwareLimitVoltage = 4,
    ModuleHardwareLimitCurrent = 5,
    ModuleRampSpeedVoltage = 6,
    ModuleRampSpeedCurrent = 7,
    ModuleStatus = 8,
    ModuleEventStatus = 9,
    ModuleDoClear = 11,
    ModuleAuxiliaryMeasurementTemperature = 12, // sub-index k + 1
};

// The groups-switch row that addresses every high-voltage channel of the crate.
constexpr unsigned long HighVoltageGroup = 64;

Oid sysDescr();
Oid sysMainSwitch();
Oid sysStatus();
Oid ipStaticAddress();
Oid psSerialNumber();
Oid psAuxiliaryMeasurementVoltage(int auxIndex);
Oid psAuxiliaryMeasurementCurrent(int auxIndex);
Oid fanNominalSpeed();
Oid outputNumber();
Oid groupsNumber();
Oid groupsSwitch(unsigned long group);
Oid output(OutputColumn column, int channelIndex);
Oid module(ModuleColumn column, int slot);
Oid moduleSub(ModuleColumn column, int subIndex, int slot);

} // namespace CrateOid
