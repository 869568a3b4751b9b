#pragma once

#include "device/BaseModule.h"

#include <QVector>

class OpcController;

// A high-voltage module behind an OPC server, reached through its OpcController (not owned).
// Every operation reads or writes named items: module items are the module's item prefix
// (its name as the server lists it, ending with '.') plus a suffix, channel items the prefix
// plus "chNN." (two digits at least) plus a suffix, and "#100" after an item reads its unit.
//
// Units: with controller units (the default) values pass as the server gives them and
// voltageUnit()/currentUnit() name the server's units; otherwise they are converted between the
// server's units and the display units.
//
// Identity (serial number, firmware name and release, device class, channel count) is read once
// at construction. Writes that read a mask first (on, emergency off) write nothing when that
// read is not answered: a mask read as 0 would switch other channels. Every write is confirmed
// by reading the item back (see OpcController): a write whose read-back is not answered fails
// with "no answer"; a value write (set values, ramp speeds) counts only when the item reads back
// the value sent (see writtenValue()), else it fails with "not taken (reads back <value unit>)".
//
// Every operation runs under the controller's mutex; callable from any thread.
class OpcModule : public BaseModule
{
    Q_OBJECT
public:
    // `name`: the module's item name as the server lists it, with or without the final '.'.
    OpcModule(OpcController* controller, const QString& name, QObject* parent = nullptr);

    // Item names of this module.
    QString moduleItem(const QString& suffix) const;
    QString channelItem(int channel, const QString& suffix) const;
    QString busItem(const QString& suffix) const;
    bool isMeasurementModule() const;

public slots:
    // The bus's log level ("<bus>.LogLevel").
    quint32 logLevel();
    bool setLogLevel(int level);

    bool connected() override;
    QString alarmMessage() override;
    bool currentControl() override;
    int serialNumber() override;
    QString firmwareRelease() override;
    quint32 decoderRelease() override;
    bool doClear() override;
    bool setAdjustment(bool set) override;
    bool adjustment() override;
    QString address() override;
    float temperature(int index = 0) override;
    float supplyP5() override;
    float supplyP12() override;
    float supplyN12() override;
    quint32 adcSamplesPerSecond() override;
    bool setAdcSamplesPerSecond(quint32 sps) override;
    quint32 digitalFilter() override;
    bool setDigitalFilter(quint32 filter) override;
    float voltageLimit() override;
    float currentLimit() override;
    quint32 status() override;
    quint32 eventStatus() override;
    bool setEventStatus(quint32 status) override;
    bool clearEventStatus() override;
    quint32 eventChannelStatus() override;
    bool clearEventChannelStatus() override;
    quint32 eventChannelMask() override;
    bool setEventChannelMask(quint32 mask) override;
    quint32 eventGroupStatus() override;
    quint32 eventGroupMask() override;
    bool setEventGroupMask(quint32 mask) override;
    bool clearEventGroupStatus() override;
    quint32 eventMask() override;
    bool setEventMask(quint32 mask) override;
    quint32 control() override;
    bool setControl(quint32 control) override;
    float voltageRampSpeed() override;
    bool setVoltageRampSpeed(float vramp) override;
    float currentRampSpeed() override;
    bool setCurrentRampSpeed(float iramp) override;
    bool killEnable() override;
    bool setKillEnable(bool enable) override;
    int channelNumber() override;
    quint32 restartTime() override;
    bool setRestartTime(quint32 restartTime) override;
    bool setSelectedChannelsOn(quint32 mask) override;
    bool setSelectedChannelsOff(quint32 mask) override;
    bool setSelectedChannelsEmergencyOff(quint32 mask) override;
    bool clearSelectedChannelsEmergencyOff(quint32 mask) override;
    bool setAllChannelsVoltageSet(float vset) override;
    bool setAllChannelsCurrentSet(float iset) override;
    bool setAllChannelsDelayedTripAction(BaseModule::OutputSupervisionAction action, int delay) override;
    bool setChannelExternalMeasurementEnabled(int channel, bool enabled) override;
    bool setChannelRippleMeasurementEnabled(int channel, bool enabled) override;
    bool setChannelBothMeasurementsEnabled(int channel, bool enabled) override;
    bool doMultiplex() override;
    bool setResistor(int resistor) override;
    quint32 channelStatus(int channel) override;
    quint32 channelEventStatus(int channel) override;
    bool setChannelEventStatus(int channel, quint32 status) override;
    bool clearChannelEventStatus(int channel) override;
    quint32 channelEventMask(int channel) override;
    bool setChannelEventMask(int channel, quint32 mask) override;
    quint32 channelControl(int channel) override;
    bool setChannelControl(int channel, quint32 control) override;
    bool setChannelEmergencyOff(int channel) override;
    bool clearChannelEmergencyOff(int channel) override;
    float channelVoltageNominal(int channel) override;
    float channelCurrentNominal(int channel) override;
    float channelVoltageSet(int channel) override;
    bool setChannelVoltageSet(int channel, float vset) override;
    float channelVoltageMeasure(int channel) override;
    float channelCurrentSet(int channel) override;
    bool setChannelCurrentSet(int channel, float iset) override;
    bool channelDelayedTripEnabled(int channel) override;
    bool channelDelayedTripRampDown(int channel) override;
    int channelDelayedTripTime(int channel) override;
    bool setChannelDelayedTripAction(int channel, BaseModule::OutputSupervisionAction action, int delay) override;
    float channelCurrentMeasure(int channel) override;
    BaseModule::CurrentMeasurementRange channelCurrentMeasurementRange(int channel) override;
    float channelVoltageInterlockMaxSet(int channel) override;
    bool setChannelVoltageInterlockMaxSet(int channel, float ilkmax) override;
    float channelVoltageInterlockMinSet(int channel) override;
    bool setChannelVoltageInterlockMinSet(int channel, float ilkmin) override;
    float channelCurrentInterlockMaxSet(int channel) override;
    bool setChannelCurrentInterlockMaxSet(int channel, float ilkmax) override;
    float channelCurrentInterlockMinSet(int channel) override;
    bool setChannelCurrentInterlockMinSet(int channel, float ilkmin) override;
    bool setChannelOn(int channel) override;
    bool setChannelOff(int channel) override;
    QString voltageUnit(int channel = 0) override;
    QString currentUnit(int channel = 0) override;
    bool setFlexGroup(int group, quint32 member, quint32 type) override;
    quint32 flexGroupMemberList(int group) override;
    quint32 flexGroupType(int group) override;
    float channelVoltageHardwareNominal(int channel) override;
    float channelCurrentHardwareNominal(int channel) override;

public:
    bool readChannelControl(int channel, quint32* control) override;
    // Kill enable and fine adjustment, the bits control() reads.
    bool readControl(quint32* control) override;
    // The external inhibit has no item here: inhibitAction is IgnoreFailure.
    bool readChannelSettings(int channel, ChannelSettings* settings) override;
    bool readAdcSamplesPerSecond(quint32* samplesPerSecond) override;

protected:
    std::unique_lock<std::recursive_mutex> deviceLock() override;

private:
    // What a written value is, for the tolerance of its read-back and the unit of its text.
    enum class ValueKind { Voltage, Current, RampSpeed };
    bool validChannel(int channel) const { return channel >= 0 && channel < m_channelCount; }
    // Values between the server's units and the interface's (display or controller) units.
    float voltageFromServer(float value) const;
    float voltageToServer(float value) const;
    float currentFromServer(float value) const;
    float currentToServer(float value) const;
    // Journals the write (journaled()) around `send`, which returns whether the server
    // confirmed it; succeed() or noAnswer() by that.
    template <typename Send>
    bool written(int channel, const char* quantity, const QString& value, Send&& send)
    {
        return journaled(channel, quantity, value, [&] { return send() ? succeed() : noAnswer(); });
    }
    // Writes `value` (interface units) to the float `item` and reads it back: true when the item
    // holds it afterwards (see sameValue()), journaled like written().
    bool writtenValue(const QString& item, float value, ValueKind kind, int channel, const char* quantity);
    // The all-channels item `allItem` written with `value`, then every channel's `channelSuffix`
    // item read back; one journal line.
    bool writtenToAllChannels(
        const char* allItem, const char* channelSuffix, float value, ValueKind kind, const char* quantity);
    float toServer(float value, ValueKind kind) const;
    float fromServer(float value, ValueKind kind) const;
    // Whether a value read back in interface units is the one written.
    bool sameValue(float written, float readBack, ValueKind kind);
    QString valueText(float value, ValueKind kind, int channel);
    // The item's value in interface units; false when the server did not answer.
    bool readValue(const QString& item, ValueKind kind, float* value);
    // Read-modify-write of a 32-bit channel mask item: `update` turns the read mask into the one
    // written. Nothing is written when the read is not answered.
    template <typename Update>
    bool changeMask(const QString& suffix, const char* quantity, Update update);
    // Sets or clears `bit` of the cached control word of every channel in `mask`.
    void noteControl(quint32 mask, quint32 bit, bool set);
    void loadResolution();

    OpcController* m_controller;
    QString m_prefix;
    int m_channelCount = 0;
    int m_serialNumber = 0;
    QString m_firmwareRelease;
    bool m_serverVoltageInKilovolts = false;
    int m_serverCurrentUnitIndex = 3;
    QVector<quint16> m_controlCache;
};
