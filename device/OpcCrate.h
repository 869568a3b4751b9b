#pragma once

#include "device/BaseCrate.h"

#include <QString>

#include <atomic>

class OpcController;

// The crate behind an OPC server, reached through an OpcController (not owned): each operation
// reads or writes one item named by the crate's item prefix (its name, ending with '.') and a
// fixed suffix. A read the server did not answer returns what the library gave (0, false,
// empty) with lastReadFailed() true. Each item read holds the controller's mutex; callable from
// any thread.
class OpcCrate : public BaseCrate
{
public:
    // `name`: the crate's item name, with or without the final '.'.
    OpcCrate(OpcController* controller, const QString& name);

    QString prefix() const { return m_prefix; }

    float supply5V() override;
    float supply24V() override;
    float battery24V() override;
    float temperatureBackPlane() override;
    float temperaturePowerSupply() override;
    // The crate's fans are not set through the server: 0, and setting is not offered.
    int fanSpeed() override;
    bool setFanSpeed(int speed) override;
    int fanStageBackPlane() override;
    int fanStagePowerSupply() override;
    int status() override;
    bool acLinePower() override;
    bool powerOn() override;
    // Taken when the switch reads back as written; journaled.
    bool setPowerOn(bool on) override;
    bool readPowerOn(bool* on) override;
    // "DeviceID" as a decimal number; 0 when it is not one.
    int serialNumber() override;
    QString firmwareRelease() override;
    int bitRate() override;
    bool alive() override;
    int alarmFlag() override;
    QString alarmInformation() override;
    float alarmValue() override;
    bool lastReadFailed() override;

private:
    QString item(const char* suffix) const;
    // One item read through `getter`, recording whether it was answered.
    template <typename Getter>
    auto readItem(Getter getter, const char* suffix);

    OpcController* m_controller;
    QString m_prefix;
    std::atomic<bool> m_lastReadFailed{false};
};
