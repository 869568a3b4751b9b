#pragma once

#include "device/BaseCrate.h"

class SnmpController;

// An MPOD crate reached through an SnmpController (not owned). Identity (firmware release,
// serial number) is read once from the system description at construction. Every operation
// holds the controller's mutex; callable from any thread.
class SnmpCrate : public BaseCrate
{
public:
    explicit SnmpCrate(SnmpController* controller);

    float supply5V() override;
    float supply24V() override;
    float battery24V() override;
    float temperatureBackPlane() override;
    float temperaturePowerSupply() override;
    int fanSpeed() override;
    void setFanSpeed(int speed) override;
    int fanStageBackPlane() override;
    int fanStagePowerSupply() override;
    int status() override;
    bool acLinePower() override;
    bool powerOn() override;
    void setPowerOn(bool on) override;
    int serialNumber() override;
    QString firmwareRelease() override;
    int bitRate() override;
    bool alive() override;
    int alarmFlag() override;
    QString alarmInformation() override;
    float alarmValue() override;

    // Identity in a system description: the release is "MPOD a.b.c.d" (empty when absent), the
    // serial number the digits between "(" and the next "," (0 when absent).
    struct Identity
    {
        QString firmwareRelease;
        int serialNumber = 0;
    };
    static Identity parseSystemDescription(const QString& description);

private:
    SnmpController* m_controller;
    QString m_firmwareRelease;
    int m_serialNumber = 0;
};
