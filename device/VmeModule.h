#pragma once

#include "device/BaseModule.h"

#include <QByteArray>

#include <atomic>
#include <mutex>

class VmeController;

// A high-voltage module on a VME bus: a block of registers in the A16 address space from its
// base address, reached through a VmeController (not owned; may be null). Two register layouts
// exist, told apart by the device class the module reports at offset 0x3E: class 20 (up to 12
// channels, mostly 16-bit registers, window 0x400 bytes) and class 29 (up to 24 channels, 32-bit
// registers, window 0x800 bytes). 32-bit values travel high half first; floats are IEEE single
// precision moved as 32-bit values. Registers hold volts and amperes; the interface converts
// them to and from the display units.
//
// The layout is detected on first use: an operation on a module whose class is not yet known
// only detects it and answers 0 (writes send nothing and fail). Channels outside
// 0..channelNumber()-1 read 0 and refuse writes.
//
// Bus errors: each cycle reports its result code. A cycle that fails is one nobody acknowledged
// (no module at the address, a bridge that does not answer): a write whose cycle fails returns
// false with lastError() "no answer"; a value whose read failed is not a reading
// (readChannels()/readModuleValues() leave it incomplete/invalid, connected() is false, the
// checked reads fail with "no answer").
//
// Every operation holds the controller's mutex for its whole duration (the window readings:
// each channel and each group of module values); every write sent is recorded in the write
// journal, one line per value written. Callable from any thread.
class VmeModule : public BaseModule
{
    Q_OBJECT
public:
    // The identification register holds "tsmr", first character most significant.
    static constexpr quint32 identification = 0x74736D72;
    static constexpr quint32 identificationOffset = 0x5C;
    static constexpr int class20 = 20;
    static constexpr int class29 = 29;
    // Bytes of A16 space a module of `deviceClass` decodes (class 20 for unknown classes).
    static quint32 windowBytes(int deviceClass);

    VmeModule(VmeController* controller, quint16 baseAddress, QObject* parent = nullptr);

    bool reports(Quantity quantity) const override;
    QVector<ChannelReading> readChannels() override;
    ModuleReading readModuleValues(bool temperatures, bool supplies) override;

public slots:
    // Detects the layout: reads the class and the channel count at 0x3C, sets the firmware name
    // and the channel count. Returns the class (0 when the read failed).
    int deviceClass();

    bool connected() override;
    QString alarmMessage() override;
    bool currentControl() override;
    int serialNumber() override;
    QString firmwareRelease() override;
    quint32 decoderRelease() override;
    bool doClear() override;
    // "VME BA 0x%1", four lower-case hexadecimal digits.
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
    // Volts in the register, display units across the interface, like every other voltage.
    float channelVoltageHardwareNominal(int channel) override;
    bool setChannelVoltageNominal(int channel, float maxset) override;
    float channelCurrentHardwareNominal(int channel) override;
    bool setChannelCurrentNominal(int channel, float maxset) override;
    bool setSpecialControlCommand(quint32 command) override;
    quint32 specialControlCommand() override;
    quint32 specialControlStatus() override;
    // One firmware file line as ASCII bytes into the channel-0 block (see the class comment of
    // the firmware transfer: class 20 pairs bytes into words and then writes command 2, class 29
    // pads with '0' to whole 32-bit words).
    bool sendHexLine(QByteArray record) override;
    // Writes `address` and its ones' complement to the new-base-address registers.
    bool programBaseAddress(quint16 address) override;
    // The base address the module accepted, or 0xFFFF when it differs from the one written.
    quint16 verifyBaseAddress() override;

public:
    // The checked reads detect the layout first when it is not known yet.
    bool readChannelControl(int channel, quint32* control) override;
    bool readControl(quint32* control) override;
    // The external inhibit has no register here: inhibitAction is IgnoreFailure.
    bool readChannelSettings(int channel, ChannelSettings* settings) override;
    bool readAdcSamplesPerSecond(quint32* samplesPerSecond) override;
    bool readDigitalFilter(quint32* filter) override;

protected:
    JournalWrite journalPlace() override;
    std::unique_lock<std::recursive_mutex> deviceLock() override;

private:
    // The register tests drive the bus cycles directly.
    friend class TestVmeModule;

    struct Register
    {
        quint16 offset;
        int bits; // 16 or 32; 0 when the layout lacks the register
    };
    enum ModuleRegister : int;
    enum ChannelRegister : int;
    using Lock = std::unique_lock<std::recursive_mutex>;

    Lock lock() const;
    // True when the layout is known; otherwise detects it and answers false.
    bool layoutReady();
    bool validChannel(int channel) const { return channel >= 0 && channel < m_channelCount; }
    Register moduleRegister(ModuleRegister which) const;
    Register channelRegister(int channel, ChannelRegister which) const;
    quint16 groupOffset(int group) const;
    quint16 nominalVoltageOffset(int channel) const;
    quint16 nominalCurrentOffset(int channel) const;

    // True when a 16-bit cycle at `offset` stays inside the module's register window; every cycle
    // outside it is refused before it reaches the bus.
    bool insideWindow(quint32 offset) const;
    // Bus cycles. A failed read marks m_readFailed; writes answer the result code of the first
    // cycle that failed (0 when all succeeded).
    quint32 readWord(quint32 offset);
    quint32 readLong(quint32 offset);
    float readFloat(quint32 offset);
    quint32 read(Register reg);
    int writeWord(quint32 offset, quint32 value);
    int writeLong(quint32 offset, quint32 value);
    int writeFloat(quint32 offset, float value);
    int write(Register reg, quint32 value);
    // Journals the write (journaled()) around `send`, which returns a write's result code;
    // succeed()/fail() by it through confirmed().
    template <typename Send>
    bool written(int channel, const char* quantity, const QString& value, Send&& send)
    {
        return journaled(channel, quantity, value, [&] { return confirmed(send()); });
    }
    bool confirmed(int code);
    // The words of one firmware line into the transfer buffer and the command that takes it; the
    // result code of the first write that failed, else 0.
    int sendHexRecord(QByteArray record);
    bool notDetected();
    // For a checked read: true when the layout is known, detecting it now if need be; false with
    // lastError() ("no answer" when the detection was not answered) otherwise.
    bool layoutKnown();
    // fail() for reads that set m_readFailed.
    bool readFailure();
    // One register read for a checked read: `value` only when every cycle was answered.
    bool readChecked(Register reg, quint32* value);
    // The module's (`moduleWord`) or `channel`'s control word read fresh through the checked
    // read, `setBits` set and `clearBits` cleared, and its low 16 bits written, journaled as
    // `quantity` with `value` (null: the word written); nothing is written when the word was not
    // read.
    bool changeControlWord(
        bool moduleWord, int channel, quint32 setBits, quint32 clearBits, const char* quantity, const QString& value);

    quint32 readModule(ModuleRegister which);
    float readModuleFloat(ModuleRegister which);
    bool writeModule(ModuleRegister which, quint32 value, const char* quantity);
    bool writeModuleFloat(ModuleRegister which, float value, const char* quantity, const QString& text);
    quint32 readChannel(int channel, ChannelRegister which);
    float readChannelFloat(int channel, ChannelRegister which);
    bool writeChannel(int channel, ChannelRegister which, quint32 value, const char* quantity);
    bool writeChannelFloat(int channel, ChannelRegister which, float value, const char* quantity, const QString& text);
    // Read-modify-write of a channel's control word: `bit` set or cleared, low 16 bits written.
    bool changeChannelControl(int channel, quint32 bit, bool set, const char* quantity);
    // The per-channel operation for every set bit of `mask` up to the channel count, or one write
    // of `allValue` to the all-channels register `all` for a mask of all ones.
    template <typename PerChannel>
    bool forSelectedChannels(
        quint32 mask, ModuleRegister all, quint32 allValue, const char* quantity, PerChannel perChannel);
    void loadResolution();

    VmeController* m_controller;
    quint16 m_baseAddress;
    int m_channelCount = -1;
    int m_serialNumber = 0;
    // The detected class, for answers given without the lock (reports()).
    std::atomic<int> m_layoutClass{0};
    // Set by a failed read cycle; readers reset it before the reads they judge.
    bool m_readFailed = false;
    // Guards a module without a controller.
    mutable std::recursive_mutex m_ownMutex;
};
