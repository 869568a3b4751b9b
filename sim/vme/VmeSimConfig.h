#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <vector>

// What the simulated VME crate holds: the bridges that answer and the modules on the bus.
//
// JSON file named by TESMAR_VME_SIM_CONFIG (numbers may also be given as texts such as "0x4000"):
// {
//   "vmUsbSerials": ["VM0417A"],   // attached VM-USBs, in the order they are found; 7 characters
//                                  // each; [] = none attached
//   "v1718": true,                 // whether a CAEN V1718 answers
//   "modules": [{
//     "base": "0x4000",            // A16 base address, a multiple of the module's window size
//                                  // (0x400 for class 20, 0x800 for class 29)
//     "class": 20,                 // 20 (up to 12 channels, 16-bit layout) or 29 (up to 24, 32-bit)
//     "channels": 12,              // fitted channels
//     "serial": 5120001,
//     "voltageNominal": 3000,      // V, per channel
//     "currentNominal": 0.003,     // A, per channel
//     "firmwareRelease": [2, 1, 0, 7], // four bytes, most significant first (shown as 21.07)
//     "decoderRelease": 3,         // class 29 only
//     "temperature": 31.5,         // degrees Celsius
//     "voltageRampSpeed": 5,       // % of nominal per second
//     "currentRampSpeed": 50,
//     "voltageLimit": 100,         // % of nominal
//     "currentLimit": 100,
//     "loadOhm": 1e8,              // load on every channel: current = voltage / load
//     "storedImage": "fw.s19",     // S-record file the module holds as its firmware image
//                                  // (relative to the configuration file); optional
//     "faults": {
//       "refuseBaseAddress": false,  // never accepts a new base address
//       "noSpecialMode": false,      // never enters its special mode
//       "stuckControlChannel": -1,   // this channel's control word never reads back 0
//       "ignoredSaveRequests": 0     // this many requests to store the set values are dropped
//                                    // (the request bit never shows); later ones are taken
//     }
//   }]
// }
// Everything but "base" and "class" is optional.
struct VmeModuleConfig
{
    quint16 base = 0;
    int deviceClass = 20;
    int channels = 12;
    quint32 serial = 0;
    double voltageNominalV = 3000;
    double currentNominalA = 0.003;
    quint8 firmwareRelease[4] = {1, 0, 0, 0};
    quint32 decoderRelease = 0;
    double temperatureC = 30.0;
    double voltageRampSpeedPercent = 5;
    double currentRampSpeedPercent = 50;
    double voltageLimitPercent = 100;
    double currentLimitPercent = 100;
    double loadOhm = 1e8;
    QByteArray storedImage; // S-record text
    bool refuseBaseAddress = false;
    bool noSpecialMode = false;
    int stuckControlChannel = -1;
    int ignoredSaveRequests = 0;

    // Register window the module decodes.
    quint32 windowBytes() const { return deviceClass == 29 ? 0x800 : 0x400; }
    int maxChannels() const { return deviceClass == 29 ? 24 : 12; }
};

struct VmeCrateConfig
{
    QStringList vmUsbSerials;
    bool v1718 = false;
    std::vector<VmeModuleConfig> modules;
};

// The crate used when no file is named: one VM-USB and a V1718, a class 20 module at 0x4000 and
// a class 29 module at 0x5000.
VmeCrateConfig vmeDemoCrateConfig();

// Parses a configuration text; relative image paths are resolved against baseDirectory. On a
// malformed text returns false and tells why in *error.
bool parseVmeCrateConfig(const QByteArray& json, const QString& baseDirectory, VmeCrateConfig* config, QString* error);

// The configuration named by TESMAR_VME_SIM_CONFIG, the demo crate without it. A file that cannot
// be read or parsed is reported on stderr and gives an empty crate (nothing attached).
VmeCrateConfig vmeCrateConfigFromEnvironment();
