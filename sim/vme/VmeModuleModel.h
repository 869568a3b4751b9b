#pragma once

#include "SRecordImage.h"
#include "VmeSimConfig.h"

#include <QByteArray>

#include <map>
#include <utility>
#include <vector>

// The registers of one VME high-voltage module as it answers 16-bit A16 cycles, in either layout
// (class 20: 12 channels, mostly 16-bit registers; class 29: 24 channels, 32-bit registers).
//
// 32-bit and float registers are two words, the high half at offset o and the low half at o + 2:
// a written value takes effect when its low half arrives (with the high half written just before),
// and reading the high half latches the value so that the low half read next belongs to it.
//
// Time-dependent behaviour (ramping) is brought up to date by advanceTo() before every access;
// the class is not thread-safe on its own (VmeCrateModel serialises access).
class VmeModuleModel
{
public:
    explicit VmeModuleModel(const VmeModuleConfig& config, double nowSeconds = 0);

    quint16 base() const { return m_base; }
    quint32 windowBytes() const { return m_config.windowBytes(); }
    bool decodes(quint32 address) const { return address >= m_base && address < m_base + windowBytes(); }

    void advanceTo(double nowSeconds);
    quint16 read16(quint32 offset);
    void write16(quint32 offset, quint16 value);

    // Restart: channels off, special mode left, events cleared but the restart event; the base
    // address stays.
    void reset();

    // In special mode the channel-0 block and the blocks after it hold the line being sent.
    quint32 transferBufferOffset() const { return is29() ? 0x100 : 0x60; }

    enum SpecialStatus : quint32 {
        WaitingForLine = 0x81,
        ReadyForLine = 0x84,
        ChecksumError = 0x92,
        CompareError = 0x96,
    };

    // What a register offset means (the names follow the register map).
    enum class Reg {
        Unknown,
        ModuleStatus,
        ModuleControl,
        ModuleEventStatus,
        ModuleEventMask,
        EventChannelStatus,
        EventChannelMask,
        EventGroupStatus,
        EventGroupMask,
        VoltageRampSpeed,
        CurrentRampSpeed,
        VoltageLimit,
        CurrentLimit,
        SupplyP5,
        SupplyP12,
        SupplyN12,
        Temperature,
        SerialNumber,
        FirmwareRelease,
        DeviceClass,
        IlkOutStatus,
        IlkOutControl,
        IlkOutCount,
        IlkOutLastTrigger,
        IlkOutActive,
        IlkOutEverTriggered,
        RestartTime,
        AdcSamples,
        DigitalFilter,
        Identification,
        DecoderRelease,
        AllVoltageSet,
        AllCurrentSet,
        AllEmergency,
        AllOnOff,
        NewBase,
        NewBaseComplement,
        AcceptedBase,
        SpecialStatus,
        SpecialCommand,
        ChannelStatus,
        ChannelControl,
        ChannelEventStatus,
        ChannelEventMask,
        ChannelVoltageSet,
        ChannelCurrentSet,
        ChannelVoltageMeasure,
        ChannelCurrentMeasure,
        ChannelVoltageIlkMax,
        ChannelCurrentIlkMax,
        ChannelVoltageNominal,
        ChannelCurrentNominal,
        ChannelVoltageIlkMin,
        ChannelCurrentIlkMin,
        ChannelHwVoltageNominal,
        ChannelHwCurrentNominal,
        GroupMember,
        GroupType,
    };

    struct Register
    {
        Reg kind = Reg::Unknown;
        quint32 offset = 0; // of the high half for 32-bit registers
        bool wide = false;  // 32-bit or float
        int index = 0;      // channel or group
    };

private:
    struct Channel
    {
        quint32 control = 0;
        quint32 eventStatus = 0;
        double voltageV = 0;
    };
    enum class TransferMode { None, Program, Compare, Verify };

    bool is29() const { return m_config.deviceClass == 29; }
    // The register holding offset, and whether offset is its low half.
    const Register* find(quint32 offset, bool* lowHalf) const;
    bool inTransferBuffer(quint32 offset) const;

    quint32 value(const Register& reg);
    void setValue(const Register& reg, quint32 value);
    quint32 stored(Reg kind, int index = 0) const;
    void store(Reg kind, int index, quint32 value);
    float storedFloat(Reg kind, int index = 0) const;
    void storeFloat(Reg kind, int index, float value);

    bool channelOn(const Channel& channel) const { return (channel.control & 0x8) && !(channel.control & 0x20); }
    double channelTargetV(int channel) const;
    quint32 channelStatus(int channel) const;
    quint32 moduleStatus() const;
    quint32 eventChannelStatus() const;
    void setChannelControl(int channel, quint32 control);
    void clearEvents();

    void setModuleControl(quint32 value);
    void enterSpecialMode();
    void leaveSpecialMode();
    void specialCommand(quint32 command);
    // Programming, comparing or verifying begins (commands 3, 4, 5).
    void startPass();
    void bufferWrite(quint32 bufferOffset, quint16 value);
    void takeLine(const QByteArray& text);
    void restartAtAcceptedBase();

    VmeModuleConfig m_config;
    quint16 m_base;
    double m_lastSeconds;
    std::vector<Channel> m_channels;
    std::map<std::pair<Reg, int>, quint32> m_stored;
    std::map<quint32, quint16> m_unknownWords;
    // 32-bit halves in flight, by the offset of the register's high half: the high half written
    // last, and the low half of the value whose high half was read last.
    std::map<quint32, quint16> m_writtenHighs;
    std::map<quint32, quint16> m_latchedLows;

    quint32 m_control = 0;
    int m_saveReadsLeft = 0;
    int m_saveRequestsIgnored = 0; // of m_config.ignoredSaveRequests
    quint32 m_moduleEvents = 0;
    quint16 m_newBase = 0;
    quint16 m_acceptedBase;

    bool m_specialMode = false;
    quint32 m_specialStatus = 0;
    quint32 m_specialCommand = 0;
    TransferMode m_transferMode = TransferMode::None;
    QByteArray m_lineBuffer;
    bool m_lineTaken = false;
    SRecordImage m_pendingImage;
    SRecordImage m_storedImage;
};
