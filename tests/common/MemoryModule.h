#pragma once

#include "device/BaseModule.h"

#include <QHash>
#include <QStringList>
#include <QVector>

#include <mutex>

// A module that keeps every quantity in memory, for tests of what the device layer over SNMP
// cannot show: bounds, variable groups, interlock out, nominal values, special control. Values
// cross the interface unconverted (what a test writes it reads back). Tests drive its faults:
// setAnswering(false) makes every read return 0 and every write fail with "no answer";
// setReadsFail(true) makes only the reads fail (getters 0, checked reads false with "no answer")
// while writes are still taken, the case where a value written back from a failed read would do
// harm; refuse("setControl", "wrongValue") makes that operation fail with the reason. Every write that
// reaches the module is recorded in writes() as "name(arg, arg)", refused ones too.
//
// Subclasses add behaviour (a stop bit that is reached later, a save request that is
// acknowledged) by overriding the operations and using the protected state under m_mutex.
class MemoryModule : public BaseModule
{
    Q_OBJECT
public:
    struct Channel
    {
        float voltageSet = 0, currentSet = 0, voltageMeasure = 0, currentMeasure = 0;
        float voltageNominal = 3000, currentNominal = 0.003f;
        float voltageHardwareNominal = 3000, currentHardwareNominal = 0.003f;
        float voltageIlkMax = 0, voltageIlkMin = 0, currentIlkMax = 0, currentIlkMin = 0;
        quint32 status = 0, eventStatus = 0, eventMask = 0, control = 0;
        int delayedTripTime = 0;
        OutputSupervisionAction delayedTripAction = IgnoreFailure;
        OutputSupervisionAction inhibitAction = IgnoreFailure;
    };

    MemoryModule(int channels, int deviceClass = 20, int serialNumber = 4711, QObject* parent = nullptr);

    // ---- Test controls ----
    void setAnswering(bool answering);
    void setReadsFail(bool fail);
    void refuse(const QString& operation, const QString& reason);
    QStringList writes() const;
    void clearWrites();
    Channel channel(int channel) const;
    void setChannel(int channel, const Channel& values);
    void setStatusWord(quint32 status);

public slots:
    bool connected() override;
    QString alarmMessage() override;
    int serialNumber() override;
    QString firmwareRelease() override;
    quint32 decoderRelease() override;
    bool doClear() override;
    QString address() override;
    quint16 baseAddress() override;
    void setBaseAddress(quint16 baseAddress) override;
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
    bool setAllChannelsInhibitAction(BaseModule::OutputSupervisionAction action) override;
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
    BaseModule::OutputSupervisionAction channelInhibitAction(int channel) override;
    bool setChannelInhibitAction(int channel, BaseModule::OutputSupervisionAction action) override;
    float channelCurrentMeasure(int channel) override;
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
    quint32 GetModuleIlkOutStatus() override;
    quint32 GetModuleIlkOutControl() override;
    bool SetModuleIlkOutControl(quint32 control) override;
    quint32 GetModuleIlkOutCount() override;
    quint32 GetModuleIlkOutLastTrigger() override;
    quint32 GetModuleIlkOutChnActualActive() override;
    quint32 GetModuleIlkOutChnEverTriggered() override;
    bool setFlexGroup(int group, quint32 member, quint32 type) override;
    quint32 flexGroupMemberList(int group) override;
    quint32 flexGroupType(int group) override;
    float channelVoltageHardwareNominal(int channel) override;
    bool setChannelVoltageNominal(int channel, float maxset) override;
    float channelCurrentHardwareNominal(int channel) override;
    bool setChannelCurrentNominal(int channel, float maxset) override;
    bool setSpecialControlCommand(quint32 command) override;
    quint32 specialControlCommand() override;
    quint32 specialControlStatus() override;
    bool sendHexLine(QByteArray record) override;
    bool programBaseAddress(quint16 address) override;
    quint16 verifyBaseAddress() override;

public:
    bool readChannelControl(int channel, quint32* control) override;
    bool readControl(quint32* control) override;
    bool readChannelSettings(int channel, ChannelSettings* settings) override;
    bool readAdcSamplesPerSecond(quint32* samplesPerSecond) override;
    bool readDigitalFilter(quint32* filter) override;

    // Module-level state, public for tests that set up a situation directly (take m_mutex when
    // another thread may be reading).
    struct ModuleState
    {
        quint32 status = 0, eventStatus = 0, eventChannelStatus = 0, eventChannelMask = 0;
        quint32 eventGroupStatus = 0, eventGroupMask = 0, eventMask = 0, control = 0;
        quint32 restartTime = 0, adcSamplesPerSecond = 500, digitalFilter = 64;
        float voltageRampSpeed = 5, currentRampSpeed = 50, temperature = 30;
        float supplyP5 = 5, supplyP12 = 12, supplyN12 = -12, voltageLimit = 100, currentLimit = 100;
        bool killEnable = false;
        quint32 ilkOutStatus = 0, ilkOutControl = 0, ilkOutCount = 0, ilkOutLastTrigger = 0;
        quint32 ilkOutActualActive = 0, ilkOutEverTriggered = 0;
        quint32 flexMember[32] = {}, flexType[32] = {};
        quint32 specialControlCommand = 0, specialControlStatus = 0;
        quint16 baseAddress = 0x4000;
        QList<QByteArray> hexLines;
        // A module that acts on its control word as hardware does (off by default: the word is
        // then only stored): isSTOP follows setSTOP, isSPMD is set while setSPMD|setSTOP are, and
        // a store request (doSVSV) is done at once.
        bool followsControl = false;
        // The address programmed into the EEPROM, as verifyBaseAddress() reads it; the module
        // answers at baseAddress until it is reset. A module that does not accept keeps it.
        quint16 programmedBaseAddress = 0x4000;
        bool acceptsBaseAddress = true;
        int verifyReads = 0;
    };
    ModuleState state;
    mutable std::recursive_mutex m_mutex;

protected:
    std::unique_lock<std::recursive_mutex> deviceLock() override;

    // Records the write and returns true when the module answers and `operation` is not refused
    // (then lastError() says why). Takes no lock: callers hold m_mutex.
    bool accept(const QString& operation, const QString& arguments = QString());
    bool validChannel(int channel) const;
    // A read: the value when answering, else 0 (a silent module reads as zeros, as over a bus).
    template <typename T>
    T answer(T value) const
    {
        return readsAnswered() ? value : T();
    }
    bool readsAnswered() const { return m_answering && !m_readsFail; }

    QVector<Channel> m_channels;
    int m_serialNumber;
    bool m_answering = true;
    bool m_readsFail = false;
    QHash<QString, QString> m_refusals;
    QStringList m_writes;
};
