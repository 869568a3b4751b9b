#include "VmeModuleModel.h"

#include <cmath>
#include <cstring>
#include <unordered_map>

namespace {

constexpr quint32 identification = 0x74736D72; // "tsmr"
// Bytes of an S-record line the transfer buffer holds (the longest record has 514 characters).
constexpr quint32 transferBufferBytes = 520;

// Module control bits.
constexpr quint32 setSpecialMode = 0x0001;
constexpr quint32 setStop = 0x0004;
constexpr quint32 doClear = 0x0040;
constexpr quint32 setKillEnable = 0x4000;
constexpr quint32 doSaveSetValues = 0x8000;
// doSVSV reads back set this many times before the module reports the save done.
constexpr int saveSetValuesReads = 3;

// Module event latched by a restart.
constexpr quint32 eventRestart = 0x0002;

// Channel control bits and channel events.
constexpr quint32 channelSetOn = 0x0008;
constexpr quint32 channelSetEmergency = 0x0020;
constexpr quint32 channelStuckBit = 0x0001;
constexpr quint32 eventOnToOff = 0x0008;
constexpr quint32 eventEndOfRamp = 0x0010;
constexpr quint32 eventEmergency = 0x0020;

quint32 floatBits(float value)
{
    quint32 bits = 0;
    std::memcpy(&bits, &value, sizeof bits);
    return bits;
}

float bitsFloat(quint32 bits)
{
    float value = 0;
    std::memcpy(&value, &bits, sizeof value);
    return value;
}

using Reg = VmeModuleModel::Reg;
using Register = VmeModuleModel::Register;
// offset -> (register, offset is its low half)
using RegisterMap = std::unordered_map<quint32, std::pair<Register, bool>>;

struct LayoutEntry
{
    Reg kind;
    int offset20; // -1: not in this layout
    bool wide20;
    int offset29; // class 29 registers are 32-bit except the base-address words
};

const LayoutEntry moduleEntries[] = {
    {Reg::ModuleStatus, 0x00, false, 0x00},
    {Reg::ModuleControl, 0x02, false, 0x0C},
    {Reg::ModuleEventStatus, 0x04, false, 0x04},
    {Reg::ModuleEventMask, 0x06, false, 0x08},
    {Reg::EventChannelStatus, 0x08, false, 0x10},
    {Reg::EventChannelMask, 0x0A, false, 0x14},
    {Reg::EventGroupStatus, 0x0C, true, 0x18},
    {Reg::EventGroupMask, 0x10, true, 0x1C},
    {Reg::VoltageRampSpeed, 0x14, true, 0x20},
    {Reg::CurrentRampSpeed, 0x18, true, 0x24},
    {Reg::VoltageLimit, 0x1C, true, 0x28},
    {Reg::CurrentLimit, 0x20, true, 0x2C},
    {Reg::SupplyP5, 0x24, true, 0x40},
    {Reg::SupplyP12, 0x28, true, 0x44},
    {Reg::SupplyN12, 0x2C, true, 0x48},
    {Reg::Temperature, 0x30, true, 0x4C},
    {Reg::SerialNumber, 0x34, true, 0x30},
    {Reg::FirmwareRelease, 0x38, true, 0x34},
    {Reg::DeviceClass, 0x3C, true, 0x3C},
    {Reg::IlkOutStatus, 0x40, false, -1},
    {Reg::IlkOutControl, 0x42, false, -1},
    {Reg::IlkOutCount, 0x44, false, -1},
    {Reg::IlkOutLastTrigger, 0x46, false, -1},
    {Reg::IlkOutActive, 0x48, false, -1},
    {Reg::IlkOutEverTriggered, 0x4A, false, -1},
    {Reg::RestartTime, 0x50, false, 0x50},
    {Reg::AdcSamples, 0x58, false, 0x54},
    {Reg::DigitalFilter, 0x5A, false, 0x58},
    {Reg::Identification, 0x5C, true, 0x5C},
    {Reg::DecoderRelease, -1, false, 0x7C},
    {Reg::AllVoltageSet, 0x2A0, true, 0xD0},
    {Reg::AllCurrentSet, 0x2A4, true, 0xD4},
    {Reg::AllEmergency, 0x2B0, true, 0xE0},
    {Reg::AllOnOff, 0x2B4, true, 0xE4},
    {Reg::NewBase, 0x3A0, false, 0xA0},
    {Reg::NewBaseComplement, 0x3A2, false, 0xA2},
    {Reg::AcceptedBase, 0x3A6, false, 0xA8},
    {Reg::SpecialStatus, 0x3B0, false, 0xAC},
    {Reg::SpecialCommand, 0x3B2, false, 0xB0},
};

// Offsets within a channel's block.
const LayoutEntry channelEntries[] = {
    {Reg::ChannelStatus, 0x00, false, 0x00},
    {Reg::ChannelControl, 0x02, false, 0x0C},
    {Reg::ChannelEventStatus, 0x04, false, 0x04},
    {Reg::ChannelEventMask, 0x06, false, 0x08},
    {Reg::ChannelVoltageSet, 0x08, true, 0x10},
    {Reg::ChannelCurrentSet, 0x0C, true, 0x14},
    {Reg::ChannelVoltageMeasure, 0x10, true, 0x18},
    {Reg::ChannelCurrentMeasure, 0x14, true, 0x1C},
    {Reg::ChannelVoltageIlkMax, 0x18, true, 0x20},
    {Reg::ChannelCurrentIlkMax, 0x1C, true, 0x28},
    {Reg::ChannelVoltageNominal, 0x20, true, 0x30},
    {Reg::ChannelCurrentNominal, 0x24, true, 0x34},
    {Reg::ChannelVoltageIlkMin, 0x28, true, 0x24},
    {Reg::ChannelCurrentIlkMin, 0x2C, true, 0x2C},
    // Class 29 keeps the hardware nominals in the otherwise unused tail of the channel's block
    // (its variable groups occupy 0x700-0x7FF); class 20 has a table of its own.
    {Reg::ChannelHwVoltageNominal, -1, true, 0x38},
    {Reg::ChannelHwCurrentNominal, -1, true, 0x3C},
};

RegisterMap buildLayout(bool class29)
{
    RegisterMap map;
    auto add = [&map](Reg kind, quint32 offset, bool wide, int index) {
        const Register reg{kind, offset, wide, index};
        map[offset] = {reg, false};
        if (wide)
            map[offset + 2] = {reg, true};
    };
    for (const LayoutEntry& entry : moduleEntries) {
        const int offset = class29 ? entry.offset29 : entry.offset20;
        const bool baseWord =
            entry.kind == Reg::NewBase || entry.kind == Reg::NewBaseComplement || entry.kind == Reg::AcceptedBase;
        if (offset >= 0)
            add(entry.kind, quint32(offset), class29 ? !baseWord : entry.wide20, 0);
    }
    const int channels = class29 ? 24 : 12;
    for (int channel = 0; channel < channels; ++channel) {
        const quint32 block = class29 ? 0x100 + 0x40 * channel : 0x60 + 0x30 * channel;
        for (const LayoutEntry& entry : channelEntries) {
            const int offset = class29 ? entry.offset29 : entry.offset20;
            if (offset >= 0)
                add(entry.kind, block + quint32(offset), class29 || entry.wide20, channel);
        }
        if (!class29) {
            add(Reg::ChannelHwVoltageNominal, 0x340 + 8 * channel, true, channel);
            add(Reg::ChannelHwCurrentNominal, 0x344 + 8 * channel, true, channel);
        }
    }
    for (int group = 0; group < 32; ++group) {
        if (class29) {
            add(Reg::GroupMember, 0x700 + 8 * group, true, group);
            add(Reg::GroupType, 0x704 + 8 * group, true, group);
        } else {
            add(Reg::GroupMember, 0x2C0 + 4 * group, false, group);
            add(Reg::GroupType, 0x2C2 + 4 * group, false, group);
        }
    }
    return map;
}

} // namespace

VmeModuleModel::VmeModuleModel(const VmeModuleConfig& config, double nowSeconds)
    : m_config(config)
    , m_base(config.base)
    , m_lastSeconds(nowSeconds)
    , m_channels(size_t(config.maxChannels()))
    , m_newBase(config.base)
    , m_acceptedBase(config.base)
{
    storeFloat(Reg::VoltageRampSpeed, 0, float(config.voltageRampSpeedPercent));
    storeFloat(Reg::CurrentRampSpeed, 0, float(config.currentRampSpeedPercent));
    store(Reg::RestartTime, 0, 0);
    store(Reg::AdcSamples, 0, 500);
    store(Reg::DigitalFilter, 0, 16);
    for (int channel = 0; channel < config.maxChannels(); ++channel) {
        storeFloat(Reg::ChannelVoltageNominal, channel, float(config.voltageNominalV));
        storeFloat(Reg::ChannelCurrentNominal, channel, float(config.currentNominalA));
        storeFloat(Reg::ChannelCurrentSet, channel, float(config.currentNominalA));
        storeFloat(Reg::ChannelVoltageIlkMax, channel, float(config.voltageNominalV));
        storeFloat(Reg::ChannelCurrentIlkMax, channel, float(config.currentNominalA));
    }
    m_storedImage.load(config.storedImage);
}

const VmeModuleModel::Register* VmeModuleModel::find(quint32 offset, bool* lowHalf) const
{
    static const RegisterMap layout20 = buildLayout(false);
    static const RegisterMap layout29 = buildLayout(true);
    const RegisterMap& layout = is29() ? layout29 : layout20;
    const auto found = layout.find(offset);
    if (found == layout.end())
        return nullptr;
    *lowHalf = found->second.second;
    return &found->second.first;
}

quint32 VmeModuleModel::stored(Reg kind, int index) const
{
    const auto found = m_stored.find({kind, index});
    return found == m_stored.end() ? 0 : found->second;
}

void VmeModuleModel::store(Reg kind, int index, quint32 value)
{
    m_stored[{kind, index}] = value;
}

float VmeModuleModel::storedFloat(Reg kind, int index) const
{
    return bitsFloat(stored(kind, index));
}

void VmeModuleModel::storeFloat(Reg kind, int index, float value)
{
    store(kind, index, floatBits(value));
}

void VmeModuleModel::advanceTo(double nowSeconds)
{
    const double elapsed = nowSeconds - m_lastSeconds;
    m_lastSeconds = nowSeconds;
    if (elapsed <= 0)
        return;
    const double speedPerSecond = storedFloat(Reg::VoltageRampSpeed) / 100.0;
    for (int index = 0; index < int(m_channels.size()); ++index) {
        Channel& channel = m_channels[size_t(index)];
        const double target = channelTargetV(index);
        if (channel.voltageV == target)
            continue;
        const double step = speedPerSecond * std::fabs(storedFloat(Reg::ChannelVoltageNominal, index)) * elapsed;
        if (step <= 0 || std::fabs(target - channel.voltageV) <= step)
            channel.voltageV = target;
        else
            channel.voltageV += target > channel.voltageV ? step : -step;
        if (channel.voltageV == target)
            channel.eventStatus |= eventEndOfRamp;
    }
}

double VmeModuleModel::channelTargetV(int channel) const
{
    return channelOn(m_channels[size_t(channel)]) ? double(storedFloat(Reg::ChannelVoltageSet, channel)) : 0.0;
}

quint32 VmeModuleModel::channelStatus(int index) const
{
    const Channel& channel = m_channels[size_t(index)];
    const bool ramping = channel.voltageV != channelTargetV(index);
    quint32 status = 0x0001; // positive polarity
    if (channelOn(channel))
        status |= 0x0008 | (ramping ? 0 : 0x0080); // isON; isCV once the set value is reached
    if (ramping)
        status |= 0x0010;
    if (channel.control & channelSetEmergency)
        status |= 0x0020;
    return status;
}

quint32 VmeModuleModel::eventChannelStatus() const
{
    quint32 bits = 0;
    for (int index = 0; index < int(m_channels.size()); ++index) {
        const Channel& channel = m_channels[size_t(index)];
        if (channel.eventStatus & stored(Reg::ChannelEventMask, index))
            bits |= 1u << index;
    }
    return bits;
}

quint32 VmeModuleModel::moduleStatus() const
{
    bool ramping = false;
    bool emergency = false;
    for (int index = 0; index < int(m_channels.size()); ++index) {
        ramping = ramping || m_channels[size_t(index)].voltageV != channelTargetV(index);
        emergency = emergency || (m_channels[size_t(index)].control & channelSetEmergency);
    }
    const bool eventActive = (m_moduleEvents & stored(Reg::ModuleEventMask))
        || (eventChannelStatus() & stored(Reg::EventChannelMask))
        || (stored(Reg::EventGroupStatus) & stored(Reg::EventGroupMask));
    quint32 status = 0x0080 | 0x0400 | 0x1000 | 0x2000 | 0x4000; // command complete, safety loop,
                                                                 // module, supplies, temperature good
    if (m_control & setStop)
        status |= 0x0004;
    if (m_specialMode)
        status |= 0x0040;
    if (!emergency)
        status |= 0x0100;
    if (!ramping)
        status |= 0x0200;
    if (eventActive)
        status |= 0x0800;
    if (m_control & setKillEnable)
        status |= 0x8000;
    return status;
}

void VmeModuleModel::setChannelControl(int index, quint32 control)
{
    Channel& channel = m_channels[size_t(index)];
    const bool wasOn = channelOn(channel);
    const bool wasEmergency = channel.control & channelSetEmergency;
    channel.control = control;
    if (!wasEmergency && (control & channelSetEmergency)) {
        channel.voltageV = 0; // emergency off drops the output at once
        channel.eventStatus |= eventEmergency;
    }
    if (wasOn && !channelOn(channel))
        channel.eventStatus |= eventOnToOff;
}

void VmeModuleModel::clearEvents()
{
    m_moduleEvents = 0;
    store(Reg::EventGroupStatus, 0, 0);
    for (Channel& channel : m_channels)
        channel.eventStatus = 0;
}

void VmeModuleModel::setModuleControl(quint32 value)
{
    if (value & doClear) {
        clearEvents();
        value &= ~doClear;
    }
    if ((value & doSaveSetValues) && m_saveRequestsIgnored < m_config.ignoredSaveRequests) {
        // Dropped, as a module busy elsewhere may drop it: the request never shows.
        ++m_saveRequestsIgnored;
        value &= ~doSaveSetValues;
    }
    if (value & doSaveSetValues)
        m_saveReadsLeft = saveSetValuesReads;
    m_control = value;
    if ((value & setSpecialMode) && !m_specialMode && !m_config.noSpecialMode)
        enterSpecialMode();
    else if (!(value & setSpecialMode) && m_specialMode)
        leaveSpecialMode();
}

void VmeModuleModel::enterSpecialMode()
{
    m_specialMode = true;
    m_specialStatus = ReadyForLine;
    m_specialCommand = 0;
    m_transferMode = TransferMode::None;
    m_lineBuffer.clear();
    m_lineTaken = true;
}

void VmeModuleModel::leaveSpecialMode()
{
    m_specialMode = false;
    m_control &= ~setSpecialMode;
    m_specialStatus = 0;
    m_transferMode = TransferMode::None;
    m_lineBuffer.clear();
}

void VmeModuleModel::specialCommand(quint32 command)
{
    m_specialCommand = command;
    if (!m_specialMode)
        return;
    switch (command) {
    case 1: // handshake: class 29 then waits for the line, class 20 for command 2
        m_specialStatus = is29() ? WaitingForLine : ReadyForLine;
        m_lineBuffer.clear();
        m_lineTaken = is29() ? true : false;
        break;
    case 2:
        if (!is29()) {
            const QByteArray line = m_lineBuffer;
            m_lineBuffer.clear();
            takeLine(line);
        }
        break;
    case 3:
        m_transferMode = TransferMode::Program;
        m_pendingImage.clear();
        startPass();
        break;
    case 4:
        m_transferMode = TransferMode::Compare;
        startPass();
        break;
    case 5:
        m_transferMode = TransferMode::Verify;
        startPass();
        break;
    case 6:
        m_storedImage = m_pendingImage;
        m_transferMode = TransferMode::None;
        m_specialStatus = ReadyForLine;
        break;
    case 7:
        leaveSpecialMode();
        break;
    case 9:
        restartAtAcceptedBase();
        break;
    default: // sync, live insertion, FPGA update, settle: acknowledged only
        m_specialStatus = ReadyForLine;
        break;
    }
}

void VmeModuleModel::startPass()
{
    // Class 20 reports ready and takes each line on command 2; class 29 waits for the first line
    // at once and takes it when its last character arrives.
    m_lineBuffer.clear();
    m_lineTaken = true;
    m_specialStatus = is29() ? WaitingForLine : ReadyForLine;
}

void VmeModuleModel::bufferWrite(quint32 bufferOffset, quint16 value)
{
    if (is29() && bufferOffset == 0) {
        // The first word of a line starts it afresh.
        m_lineBuffer.clear();
        m_lineTaken = false;
    }
    if (quint32(m_lineBuffer.size()) < bufferOffset + 2)
        m_lineBuffer.append(QByteArray(int(bufferOffset + 2) - m_lineBuffer.size(), '\0'));
    m_lineBuffer[int(bufferOffset)] = char(value >> 8);
    m_lineBuffer[int(bufferOffset) + 1] = char(value & 0xFF);
    if (!is29() || bufferOffset % 4 != 2 || m_lineTaken)
        return;
    // Class 29 takes the line when the word holding its last character is complete.
    const int length = SRecord::expectedLength(m_lineBuffer);
    if (length == 0 || quint32(length - 1) / 4 <= bufferOffset / 4)
        takeLine(m_lineBuffer);
}

void VmeModuleModel::takeLine(const QByteArray& text)
{
    m_lineTaken = true;
    SRecord record;
    if (!SRecord::parse(text, &record)) {
        m_specialStatus = ChecksumError;
        return;
    }
    bool same = true;
    switch (m_transferMode) {
    case TransferMode::Program:
        m_pendingImage.add(record);
        break;
    case TransferMode::Verify:
        same = m_pendingImage.matches(record);
        break;
    case TransferMode::Compare:
        same = m_storedImage.matches(record);
        break;
    case TransferMode::None:
        break;
    }
    m_specialStatus = same ? ReadyForLine : CompareError;
}

void VmeModuleModel::restartAtAcceptedBase()
{
    const quint16 accepted = m_acceptedBase;
    reset();
    m_base = accepted;
    m_newBase = accepted;
    m_acceptedBase = accepted;
}

void VmeModuleModel::reset()
{
    for (Channel& channel : m_channels)
        channel = Channel();
    m_control = 0;
    m_saveReadsLeft = 0;
    m_moduleEvents = eventRestart;
    store(Reg::EventGroupStatus, 0, 0);
    m_newBase = m_base;
    m_acceptedBase = m_base;
    m_writtenHighs.clear();
    m_latchedLows.clear();
    m_specialMode = false;
    m_specialStatus = 0;
    m_specialCommand = 0;
    m_transferMode = TransferMode::None;
    m_lineBuffer.clear();
    m_lineTaken = true;
    m_pendingImage.clear();
}

quint32 VmeModuleModel::value(const Register& reg)
{
    const int i = reg.index;
    switch (reg.kind) {
    case Reg::ModuleStatus:
        return moduleStatus();
    case Reg::ModuleControl: {
        const quint32 control = m_control;
        if ((m_control & doSaveSetValues) && --m_saveReadsLeft <= 0)
            m_control &= ~doSaveSetValues;
        return control;
    }
    case Reg::ModuleEventStatus:
        return m_moduleEvents;
    case Reg::EventChannelStatus:
        return eventChannelStatus();
    case Reg::VoltageLimit:
        return floatBits(float(m_config.voltageLimitPercent));
    case Reg::CurrentLimit:
        return floatBits(float(m_config.currentLimitPercent));
    case Reg::SupplyP5:
        return floatBits(5.02f);
    case Reg::SupplyP12:
        return floatBits(12.05f);
    case Reg::SupplyN12:
        return floatBits(-11.97f);
    case Reg::Temperature:
        return floatBits(float(m_config.temperatureC));
    case Reg::SerialNumber:
        return m_config.serial;
    case Reg::FirmwareRelease:
        return quint32(m_config.firmwareRelease[0]) << 24 | quint32(m_config.firmwareRelease[1]) << 16
            | quint32(m_config.firmwareRelease[2]) << 8 | m_config.firmwareRelease[3];
    case Reg::DeviceClass: {
        // Class 20: one bit per fitted channel; class 29: the channel count.
        const quint32 high = is29() ? quint32(m_config.channels) : (1u << m_config.channels) - 1;
        return high << 16 | quint32(m_config.deviceClass);
    }
    case Reg::Identification:
        return identification;
    case Reg::DecoderRelease:
        return m_config.decoderRelease;
    case Reg::AllVoltageSet:
    case Reg::AllCurrentSet:
    case Reg::AllEmergency:
    case Reg::AllOnOff:
    case Reg::NewBaseComplement:
        return 0; // write-only
    case Reg::NewBase:
        return m_newBase;
    case Reg::AcceptedBase:
        return m_acceptedBase;
    case Reg::SpecialStatus:
        // Class 29 takes a line when the word with its last character arrives; a program that
        // asks for the answer before that has sent a line shorter than its byte count.
        if (m_specialMode && is29() && !m_lineTaken && !m_lineBuffer.isEmpty())
            takeLine(m_lineBuffer);
        return m_specialMode ? m_specialStatus : 0;
    case Reg::SpecialCommand:
        return m_specialCommand;
    case Reg::ChannelStatus:
        return channelStatus(i);
    case Reg::ChannelControl:
        return m_channels[size_t(i)].control | (i == m_config.stuckControlChannel ? channelStuckBit : 0);
    case Reg::ChannelEventStatus:
        return m_channels[size_t(i)].eventStatus;
    case Reg::ChannelVoltageMeasure:
        return floatBits(float(m_channels[size_t(i)].voltageV));
    case Reg::ChannelCurrentMeasure:
        return floatBits(m_config.loadOhm > 0 ? float(m_channels[size_t(i)].voltageV / m_config.loadOhm) : 0.0f);
    case Reg::ChannelHwVoltageNominal:
        return floatBits(float(m_config.voltageNominalV));
    case Reg::ChannelHwCurrentNominal:
        return floatBits(float(m_config.currentNominalA));
    default:
        return stored(reg.kind, i);
    }
}

void VmeModuleModel::setValue(const Register& reg, quint32 value)
{
    const int i = reg.index;
    switch (reg.kind) {
    case Reg::ModuleControl:
        setModuleControl(value);
        break;
    case Reg::ModuleEventStatus:
        m_moduleEvents &= ~value;
        break;
    case Reg::EventChannelStatus:
        for (int channel = 0; channel < int(m_channels.size()); ++channel) {
            if (value & (1u << channel))
                m_channels[size_t(channel)].eventStatus = 0;
        }
        break;
    case Reg::EventGroupStatus:
        store(reg.kind, 0, stored(reg.kind) & ~value);
        break;
    case Reg::AllVoltageSet:
    case Reg::AllCurrentSet: {
        const Reg target = reg.kind == Reg::AllVoltageSet ? Reg::ChannelVoltageSet : Reg::ChannelCurrentSet;
        for (int channel = 0; channel < int(m_channels.size()); ++channel)
            store(target, channel, value);
        break;
    }
    case Reg::AllEmergency:
    case Reg::AllOnOff: {
        const quint32 bit = reg.kind == Reg::AllEmergency ? channelSetEmergency : channelSetOn;
        for (int channel = 0; channel < int(m_channels.size()); ++channel) {
            const quint32 control = m_channels[size_t(channel)].control;
            setChannelControl(channel, value == 1 ? control | bit : control & ~bit);
        }
        break;
    }
    case Reg::NewBase:
        m_newBase = quint16(value);
        break;
    case Reg::NewBaseComplement:
        // The module accepts an address that is confirmed by its complement and fits the bus.
        if (quint16(value) == quint16(~m_newBase) && !m_config.refuseBaseAddress && m_newBase % windowBytes() == 0)
            m_acceptedBase = m_newBase;
        break;
    case Reg::SpecialCommand:
        specialCommand(value);
        break;
    case Reg::ChannelControl:
        setChannelControl(i, value);
        break;
    case Reg::ChannelEventStatus:
        m_channels[size_t(i)].eventStatus &= ~value;
        break;
    case Reg::ModuleEventMask:
    case Reg::EventChannelMask:
    case Reg::EventGroupMask:
    case Reg::VoltageRampSpeed:
    case Reg::CurrentRampSpeed:
    case Reg::IlkOutControl:
    case Reg::RestartTime:
    case Reg::AdcSamples:
    case Reg::DigitalFilter:
    case Reg::ChannelEventMask:
    case Reg::ChannelVoltageSet:
    case Reg::ChannelCurrentSet:
    case Reg::ChannelVoltageIlkMax:
    case Reg::ChannelCurrentIlkMax:
    case Reg::ChannelVoltageNominal:
    case Reg::ChannelCurrentNominal:
    case Reg::ChannelVoltageIlkMin:
    case Reg::ChannelCurrentIlkMin:
    case Reg::GroupMember:
    case Reg::GroupType:
        store(reg.kind, i, value);
        break;
    default: // read-only
        break;
    }
}

bool VmeModuleModel::inTransferBuffer(quint32 offset) const
{
    return m_specialMode && offset >= transferBufferOffset() && offset < transferBufferOffset() + transferBufferBytes;
}

quint16 VmeModuleModel::read16(quint32 offset)
{
    offset &= ~1u;
    if (inTransferBuffer(offset)) {
        const int at = int(offset - transferBufferOffset());
        const auto byte = [this](int index) { return index < m_lineBuffer.size() ? quint8(m_lineBuffer.at(index)) : 0; };
        return quint16(byte(at) << 8 | byte(at + 1));
    }
    bool lowHalf = false;
    const Register* reg = find(offset, &lowHalf);
    if (!reg) {
        const auto found = m_unknownWords.find(offset);
        return found == m_unknownWords.end() ? 0 : found->second;
    }
    if (!reg->wide)
        return quint16(value(*reg));
    if (!lowHalf) {
        const quint32 whole = value(*reg);
        m_latchedLows[reg->offset] = quint16(whole);
        return quint16(whole >> 16);
    }
    const auto latched = m_latchedLows.find(reg->offset);
    if (latched != m_latchedLows.end()) {
        const quint16 low = latched->second;
        m_latchedLows.erase(latched);
        return low;
    }
    return quint16(value(*reg));
}

void VmeModuleModel::write16(quint32 offset, quint16 data)
{
    offset &= ~1u;
    if (inTransferBuffer(offset)) {
        bufferWrite(offset - transferBufferOffset(), data);
        return;
    }
    bool lowHalf = false;
    const Register* reg = find(offset, &lowHalf);
    if (!reg) {
        m_unknownWords[offset] = data;
        return;
    }
    if (!reg->wide) {
        setValue(*reg, data);
        return;
    }
    if (!lowHalf) {
        m_writtenHighs[reg->offset] = data;
        return;
    }
    // The low half completes the value; without a high half written first it counts as 0.
    quint16 high = 0;
    const auto written = m_writtenHighs.find(reg->offset);
    if (written != m_writtenHighs.end()) {
        high = written->second;
        m_writtenHighs.erase(written);
    }
    setValue(*reg, quint32(high) << 16 | data);
}
