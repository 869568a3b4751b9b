#pragma once

#include <QByteArray>
#include <QString>

#include <vector>

struct ModuleType;

// What one occupied slot holds. Values left at their defaults come from the module type.
struct ModuleConfig
{
    int slot = 0;
    const ModuleType* type = nullptr;
    int channels = 0;
    QString vendor = QStringLiteral("Tesmar");
    int serialNumber = 0;
    QString firmwareRelease = QStringLiteral("01.23");
    double nominalVoltage = 0; // V
    double nominalCurrent = 0; // A
    // Channels rated below the module: one value per channel; empty means every channel has
    // the module's nominal value.
    std::vector<double> channelNominalVoltages; // V
    std::vector<double> channelNominalCurrents; // A
    char polarity = 'p';
    double rampSpeedPercent = 5;            // % of nominal voltage per second
    std::vector<double> loadOhms;           // one per channel; 0 is a short circuit, infinity an open output
    std::vector<double> signalVolts;        // measurement modules: the external signal per channel
    std::vector<int> supervisionBehaviours; // outputSupervisionBehavior word per channel at start

    // A channel's nominal voltage and current (the module's unless configured per channel).
    double channelNominalVoltage(int channel) const;
    double channelNominalCurrent(int channel) const;

    // "Vendor, FirmwareName, ChannelNumber, SerialNumber, FirmwareRelease"
    QString description() const;
};

// The crate the simulator plays: identity, boot behaviour and the modules in their slots.
struct CrateConfig
{
    QString serialNumber = QStringLiteral("4711042");
    QString firmware = QStringLiteral("MPOD 2.1.9.0");
    int bootDelayMs = 3000;
    QString readCommunity = QStringLiteral("public");
    QString writeCommunity = QStringLiteral("guru");
    quint32 seed = 1;
    std::vector<ModuleConfig> modules; // ascending slot order, at most one per slot

    // Four modules in non-adjacent slots: a positive, a bipolar, a 32-channel and a
    // measurement module.
    static CrateConfig defaultCrate();

    // Parses the JSON configuration; on failure returns false and a message naming the problem.
    static bool fromJson(const QByteArray& json, CrateConfig* config, QString* error);
    static bool fromFile(const QString& path, CrateConfig* config, QString* error);

    // A module with the defaults of its type in the given slot.
    static ModuleConfig moduleOfType(const ModuleType& type, int slot, int serialNumber);
};
