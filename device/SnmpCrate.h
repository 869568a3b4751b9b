#pragma once

#include "device/BaseCrate.h"

#include <atomic>

class SnmpController;

// An MPOD crate reached through an SnmpController (not owned). Identity (firmware release,
// serial number) is read once from the system description at construction. Every operation
// holds the controller's mutex; callable from any thread. A read the crate did not answer
// returns 0 (powerOn() false) with lastReadFailed() true; a library that cannot report failed
// calls (no snmpLastError) leaves lastReadFailed() false. Writes fail with the library's reason
// ("no answer" for a time-out, "noAccess", "wrongValue", ...).
class SnmpCrate : public BaseCrate
{
public:
    explicit SnmpCrate(SnmpController* controller);

    // Invalid unless every read was answered. Judged from the library's reason of this thread's
    // own calls, so another thread's reads in between cannot make it look answered.
    CrateReading read() override;
    // The +24 V supply, the fan speed and the power state; the other quantities answer 0.
    bool reports(Quantity quantity) const override;

    float supply5V() override;
    float supply24V() override;
    float battery24V() override;
    float temperatureBackPlane() override;
    float temperaturePowerSupply() override;
    int fanSpeed() override;
    bool setFanSpeed(int speed) override;
    int fanStageBackPlane() override;
    int fanStagePowerSupply() override;
    int status() override;
    bool acLinePower() override;
    bool powerOn() override;
    bool setPowerOn(bool on) override;
    bool readPowerOn(bool* on) override;
    int serialNumber() override;
    QString firmwareRelease() override;
    int bitRate() override;
    bool alive() override;
    int alarmFlag() override;
    QString alarmInformation() override;
    float alarmValue() override;
    bool lastReadFailed() override;

    // Identity in a system description: the release is "MPOD a.b.c.d" (empty when absent), the
    // serial number the digits between "(" and the next "," (0 when absent).
    struct Identity
    {
        QString firmwareRelease;
        int serialNumber = 0;
    };
    static Identity parseSystemDescription(const QString& description);

private:
    // Calls the library entry under the controller's lock and records whether it failed.
    template <typename Entry, typename... Args>
    auto read(Entry entry, Args... arguments);
    // Empty for a set the crate took, else the library's reason (under the caller's lock).
    QString refusal(int libraryResult);
    // The crate as the write journal names it (JournalWrite::snmpCrateAddress()).
    QString crateAddress();

    SnmpController* m_controller;
    std::atomic<bool> m_lastReadFailed{false};
    QString m_firmwareRelease;
    int m_serialNumber = 0;
};
