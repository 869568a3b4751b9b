#include "MemoryModule.h"

#include "device/StatusWordBits.h"

namespace {
using Lock = std::lock_guard<std::recursive_mutex>;

QString number(double value)
{
    return QString::number(value, 'g', 9);
}
} // namespace

MemoryModule::MemoryModule(int channels, int deviceClass, int serialNumber, QObject* parent)
    : BaseModule(parent)
    , m_channels(channels)
    , m_serialNumber(serialNumber)
{
    m_deviceClass = deviceClass;
    m_firmwareName = QStringLiteral("MEMORY");
}

void MemoryModule::setAnswering(bool answering)
{
    Lock lock(m_mutex);
    m_answering = answering;
}

void MemoryModule::setReadsFail(bool fail)
{
    Lock lock(m_mutex);
    m_readsFail = fail;
}

void MemoryModule::refuse(const QString& operation, const QString& reason)
{
    Lock lock(m_mutex);
    if (reason.isEmpty())
        m_refusals.remove(operation);
    else
        m_refusals.insert(operation, reason);
}

QStringList MemoryModule::writes() const
{
    Lock lock(m_mutex);
    return m_writes;
}

void MemoryModule::clearWrites()
{
    Lock lock(m_mutex);
    m_writes.clear();
}

MemoryModule::Channel MemoryModule::channel(int channel) const
{
    Lock lock(m_mutex);
    return validChannel(channel) ? m_channels[channel] : Channel();
}

void MemoryModule::setChannel(int channel, const Channel& values)
{
    Lock lock(m_mutex);
    if (validChannel(channel))
        m_channels[channel] = values;
}

void MemoryModule::setStatusWord(quint32 status)
{
    Lock lock(m_mutex);
    state.status = status;
}

bool MemoryModule::accept(const QString& operation, const QString& arguments)
{
    m_writes.append(operation + '(' + arguments + ')');
    if (!m_answering)
        return fail(QStringLiteral("no answer"));
    const auto refusal = m_refusals.constFind(operation);
    if (refusal != m_refusals.constEnd())
        return fail(*refusal);
    return succeed();
}

bool MemoryModule::validChannel(int channel) const
{
    return channel >= 0 && channel < m_channels.size();
}

// Channel operations: a read of a channel outside the module is 0, a write to one fails.
#define MEMORY_CHANNEL_READ(type, name, field)                                                                              \
    type MemoryModule::name(int channel)                                                                                    \
    {                                                                                                                       \
        Lock lock(m_mutex);                                                                                                 \
        return validChannel(channel) ? answer<type>(m_channels[channel].field) : type();                                    \
    }
#define MEMORY_CHANNEL_WRITE(type, name, field)                                                                             \
    bool MemoryModule::name(int channel, type value)                                                                        \
    {                                                                                                                       \
        Lock lock(m_mutex);                                                                                                 \
        if (!validChannel(channel))                                                                                         \
            return noSuchChannel(channel);                                                                                  \
        if (!accept(QStringLiteral(#name), QString::number(channel) + ", " + number(value)))                                \
            return false;                                                                                                   \
        m_channels[channel].field = value;                                                                                  \
        return true;                                                                                                        \
    }
#define MEMORY_MODULE_READ(type, name, field)                                                                               \
    type MemoryModule::name()                                                                                               \
    {                                                                                                                       \
        Lock lock(m_mutex);                                                                                                 \
        return answer<type>(state.field);                                                                                   \
    }
#define MEMORY_MODULE_WRITE(type, name, field)                                                                              \
    bool MemoryModule::name(type value)                                                                                     \
    {                                                                                                                       \
        Lock lock(m_mutex);                                                                                                 \
        if (!accept(QStringLiteral(#name), number(value)))                                                                  \
            return false;                                                                                                   \
        state.field = value;                                                                                                \
        return true;                                                                                                        \
    }

MEMORY_CHANNEL_READ(quint32, channelStatus, status)
MEMORY_CHANNEL_READ(quint32, channelEventStatus, eventStatus)
MEMORY_CHANNEL_WRITE(quint32, setChannelEventStatus, eventStatus)
MEMORY_CHANNEL_READ(quint32, channelEventMask, eventMask)
MEMORY_CHANNEL_WRITE(quint32, setChannelEventMask, eventMask)
MEMORY_CHANNEL_READ(quint32, channelControl, control)
MEMORY_CHANNEL_WRITE(quint32, setChannelControl, control)
MEMORY_CHANNEL_READ(float, channelVoltageNominal, voltageNominal)
MEMORY_CHANNEL_READ(float, channelCurrentNominal, currentNominal)
MEMORY_CHANNEL_READ(float, channelVoltageSet, voltageSet)
MEMORY_CHANNEL_WRITE(float, setChannelVoltageSet, voltageSet)
MEMORY_CHANNEL_READ(float, channelVoltageMeasure, voltageMeasure)
MEMORY_CHANNEL_READ(float, channelCurrentSet, currentSet)
MEMORY_CHANNEL_WRITE(float, setChannelCurrentSet, currentSet)
MEMORY_CHANNEL_READ(int, channelDelayedTripTime, delayedTripTime)
MEMORY_CHANNEL_READ(float, channelCurrentMeasure, currentMeasure)
MEMORY_CHANNEL_READ(float, channelVoltageInterlockMaxSet, voltageIlkMax)
MEMORY_CHANNEL_WRITE(float, setChannelVoltageInterlockMaxSet, voltageIlkMax)
MEMORY_CHANNEL_READ(float, channelVoltageInterlockMinSet, voltageIlkMin)
MEMORY_CHANNEL_WRITE(float, setChannelVoltageInterlockMinSet, voltageIlkMin)
MEMORY_CHANNEL_READ(float, channelCurrentInterlockMaxSet, currentIlkMax)
MEMORY_CHANNEL_WRITE(float, setChannelCurrentInterlockMaxSet, currentIlkMax)
MEMORY_CHANNEL_READ(float, channelCurrentInterlockMinSet, currentIlkMin)
MEMORY_CHANNEL_WRITE(float, setChannelCurrentInterlockMinSet, currentIlkMin)
MEMORY_CHANNEL_READ(float, channelVoltageHardwareNominal, voltageHardwareNominal)
MEMORY_CHANNEL_WRITE(float, setChannelVoltageNominal, voltageNominal)
MEMORY_CHANNEL_READ(float, channelCurrentHardwareNominal, currentHardwareNominal)
MEMORY_CHANNEL_WRITE(float, setChannelCurrentNominal, currentNominal)

MEMORY_MODULE_READ(quint16, baseAddress, baseAddress)
MEMORY_MODULE_READ(quint32, adcSamplesPerSecond, adcSamplesPerSecond)
MEMORY_MODULE_WRITE(quint32, setAdcSamplesPerSecond, adcSamplesPerSecond)
MEMORY_MODULE_READ(quint32, digitalFilter, digitalFilter)
MEMORY_MODULE_WRITE(quint32, setDigitalFilter, digitalFilter)
MEMORY_MODULE_READ(float, voltageLimit, voltageLimit)
MEMORY_MODULE_READ(float, currentLimit, currentLimit)
MEMORY_MODULE_READ(float, supplyP5, supplyP5)
MEMORY_MODULE_READ(float, supplyP12, supplyP12)
MEMORY_MODULE_READ(float, supplyN12, supplyN12)
MEMORY_MODULE_READ(quint32, status, status)
MEMORY_MODULE_READ(quint32, eventStatus, eventStatus)
MEMORY_MODULE_WRITE(quint32, setEventStatus, eventStatus)
MEMORY_MODULE_READ(quint32, eventChannelStatus, eventChannelStatus)
MEMORY_MODULE_READ(quint32, eventChannelMask, eventChannelMask)
MEMORY_MODULE_WRITE(quint32, setEventChannelMask, eventChannelMask)
MEMORY_MODULE_READ(quint32, eventGroupStatus, eventGroupStatus)
MEMORY_MODULE_READ(quint32, eventGroupMask, eventGroupMask)
MEMORY_MODULE_WRITE(quint32, setEventGroupMask, eventGroupMask)
MEMORY_MODULE_READ(quint32, eventMask, eventMask)
MEMORY_MODULE_WRITE(quint32, setEventMask, eventMask)
MEMORY_MODULE_READ(quint32, control, control)
MEMORY_MODULE_READ(float, voltageRampSpeed, voltageRampSpeed)
MEMORY_MODULE_WRITE(float, setVoltageRampSpeed, voltageRampSpeed)
MEMORY_MODULE_READ(float, currentRampSpeed, currentRampSpeed)
MEMORY_MODULE_WRITE(float, setCurrentRampSpeed, currentRampSpeed)
MEMORY_MODULE_READ(bool, killEnable, killEnable)
MEMORY_MODULE_WRITE(bool, setKillEnable, killEnable)
MEMORY_MODULE_READ(quint32, restartTime, restartTime)
MEMORY_MODULE_WRITE(quint32, setRestartTime, restartTime)
MEMORY_MODULE_READ(quint32, GetModuleIlkOutStatus, ilkOutStatus)
MEMORY_MODULE_READ(quint32, GetModuleIlkOutControl, ilkOutControl)
MEMORY_MODULE_WRITE(quint32, SetModuleIlkOutControl, ilkOutControl)
MEMORY_MODULE_READ(quint32, GetModuleIlkOutCount, ilkOutCount)
MEMORY_MODULE_READ(quint32, GetModuleIlkOutLastTrigger, ilkOutLastTrigger)
MEMORY_MODULE_READ(quint32, GetModuleIlkOutChnActualActive, ilkOutActualActive)
MEMORY_MODULE_READ(quint32, GetModuleIlkOutChnEverTriggered, ilkOutEverTriggered)
MEMORY_MODULE_WRITE(quint32, setSpecialControlCommand, specialControlCommand)
MEMORY_MODULE_READ(quint32, specialControlCommand, specialControlCommand)
MEMORY_MODULE_READ(quint32, specialControlStatus, specialControlStatus)

bool MemoryModule::connected()
{
    Lock lock(m_mutex);
    return readsAnswered();
}

QString MemoryModule::alarmMessage()
{
    return QString();
}

int MemoryModule::serialNumber()
{
    return m_serialNumber;
}

QString MemoryModule::firmwareRelease()
{
    return QStringLiteral("1.00");
}

quint32 MemoryModule::decoderRelease()
{
    return 0;
}

bool MemoryModule::doClear()
{
    Lock lock(m_mutex);
    if (!accept(QStringLiteral("doClear")))
        return false;
    state.eventStatus = state.eventChannelStatus = state.eventGroupStatus = 0;
    for (Channel& c : m_channels)
        c.eventStatus = 0;
    return true;
}

QString MemoryModule::address()
{
    return QStringLiteral("memory");
}

void MemoryModule::setBaseAddress(quint16 baseAddress)
{
    Lock lock(m_mutex);
    state.baseAddress = baseAddress;
}

float MemoryModule::temperature(int)
{
    Lock lock(m_mutex);
    return answer(state.temperature);
}

bool MemoryModule::clearEventStatus()
{
    return setEventStatus(0);
}

bool MemoryModule::clearEventChannelStatus()
{
    Lock lock(m_mutex);
    if (!accept(QStringLiteral("clearEventChannelStatus")))
        return false;
    state.eventChannelStatus = 0;
    return true;
}

bool MemoryModule::clearEventGroupStatus()
{
    Lock lock(m_mutex);
    if (!accept(QStringLiteral("clearEventGroupStatus")))
        return false;
    state.eventGroupStatus = 0;
    return true;
}

int MemoryModule::channelNumber()
{
    return m_channels.size();
}

// Mask operations set or clear one control bit on the channels of the mask that exist.
#define MEMORY_MASK_WRITE(name, bit, on)                                                                                    \
    bool MemoryModule::name(quint32 mask)                                                                                   \
    {                                                                                                                       \
        Lock lock(m_mutex);                                                                                                 \
        if (!accept(QStringLiteral(#name), QStringLiteral("0x") + QString::number(mask, 16)))                               \
            return false;                                                                                                   \
        for (int c = 0; c < m_channels.size() && c < 32; ++c)                                                               \
            if (mask & (1u << c))                                                                                           \
                m_channels[c].control = on ? (m_channels[c].control | bit) : (m_channels[c].control & ~bit);                \
        return true;                                                                                                        \
    }

MEMORY_MASK_WRITE(setSelectedChannelsOn, ChannelControlBit::on, true)
MEMORY_MASK_WRITE(setSelectedChannelsOff, ChannelControlBit::on, false)
MEMORY_MASK_WRITE(setSelectedChannelsEmergencyOff, ChannelControlBit::emergencyOff, true)
MEMORY_MASK_WRITE(clearSelectedChannelsEmergencyOff, ChannelControlBit::emergencyOff, false)

bool MemoryModule::setChannelOn(int channel)
{
    Lock lock(m_mutex);
    if (!validChannel(channel))
        return noSuchChannel(channel);
    if (!accept(QStringLiteral("setChannelOn"), QString::number(channel)))
        return false;
    m_channels[channel].control |= ChannelControlBit::on;
    return true;
}

bool MemoryModule::setChannelOff(int channel)
{
    Lock lock(m_mutex);
    if (!validChannel(channel))
        return noSuchChannel(channel);
    if (!accept(QStringLiteral("setChannelOff"), QString::number(channel)))
        return false;
    m_channels[channel].control &= ~ChannelControlBit::on;
    return true;
}

bool MemoryModule::setChannelEmergencyOff(int channel)
{
    Lock lock(m_mutex);
    if (!validChannel(channel))
        return noSuchChannel(channel);
    if (!accept(QStringLiteral("setChannelEmergencyOff"), QString::number(channel)))
        return false;
    m_channels[channel].control |= ChannelControlBit::emergencyOff;
    return true;
}

bool MemoryModule::clearChannelEmergencyOff(int channel)
{
    Lock lock(m_mutex);
    if (!validChannel(channel))
        return noSuchChannel(channel);
    if (!accept(QStringLiteral("clearChannelEmergencyOff"), QString::number(channel)))
        return false;
    m_channels[channel].control &= ~ChannelControlBit::emergencyOff;
    return true;
}

bool MemoryModule::clearChannelEventStatus(int channel)
{
    return setChannelEventStatus(channel, 0);
}

bool MemoryModule::setAllChannelsVoltageSet(float vset)
{
    Lock lock(m_mutex);
    if (!accept(QStringLiteral("setAllChannelsVoltageSet"), number(vset)))
        return false;
    for (Channel& c : m_channels)
        c.voltageSet = vset;
    return true;
}

bool MemoryModule::setAllChannelsCurrentSet(float iset)
{
    Lock lock(m_mutex);
    if (!accept(QStringLiteral("setAllChannelsCurrentSet"), number(iset)))
        return false;
    for (Channel& c : m_channels)
        c.currentSet = iset;
    return true;
}

bool MemoryModule::setAllChannelsDelayedTripAction(OutputSupervisionAction action, int delay)
{
    Lock lock(m_mutex);
    if (!accept(QStringLiteral("setAllChannelsDelayedTripAction"), QString::number(action) + ", " + QString::number(delay)))
        return false;
    for (Channel& c : m_channels) {
        c.delayedTripAction = action;
        c.delayedTripTime = delay;
    }
    return true;
}

bool MemoryModule::setAllChannelsInhibitAction(OutputSupervisionAction action)
{
    Lock lock(m_mutex);
    if (!accept(QStringLiteral("setAllChannelsInhibitAction"), QString::number(action)))
        return false;
    for (Channel& c : m_channels)
        c.inhibitAction = action;
    return true;
}

bool MemoryModule::channelDelayedTripEnabled(int channel)
{
    Lock lock(m_mutex);
    return validChannel(channel) && answer(m_channels[channel].delayedTripAction != IgnoreFailure);
}

bool MemoryModule::channelDelayedTripRampDown(int channel)
{
    Lock lock(m_mutex);
    return validChannel(channel) && answer(m_channels[channel].delayedTripAction == RampDownChannel);
}

bool MemoryModule::setChannelDelayedTripAction(int channel, OutputSupervisionAction action, int delay)
{
    Lock lock(m_mutex);
    if (!validChannel(channel))
        return noSuchChannel(channel);
    if (!accept(QStringLiteral("setChannelDelayedTripAction"),
            QString::number(channel) + ", " + QString::number(action) + ", " + QString::number(delay)))
        return false;
    m_channels[channel].delayedTripAction = action;
    m_channels[channel].delayedTripTime = delay;
    return true;
}

BaseModule::OutputSupervisionAction MemoryModule::channelInhibitAction(int channel)
{
    Lock lock(m_mutex);
    return validChannel(channel) ? answer(m_channels[channel].inhibitAction) : IgnoreFailure;
}

bool MemoryModule::setChannelInhibitAction(int channel, OutputSupervisionAction action)
{
    Lock lock(m_mutex);
    if (!validChannel(channel))
        return noSuchChannel(channel);
    if (!accept(QStringLiteral("setChannelInhibitAction"), QString::number(channel) + ", " + QString::number(action)))
        return false;
    m_channels[channel].inhibitAction = action;
    return true;
}

bool MemoryModule::setFlexGroup(int group, quint32 member, quint32 type)
{
    Lock lock(m_mutex);
    if (group < 0 || group >= 32)
        return fail(QStringLiteral("no such group"));
    if (!accept(QStringLiteral("setFlexGroup"),
            QString::number(group) + ", 0x" + QString::number(member, 16) + ", 0x" + QString::number(type, 16)))
        return false;
    state.flexMember[group] = member;
    state.flexType[group] = type;
    return true;
}

quint32 MemoryModule::flexGroupMemberList(int group)
{
    Lock lock(m_mutex);
    return group >= 0 && group < 32 ? answer(state.flexMember[group]) : 0;
}

quint32 MemoryModule::flexGroupType(int group)
{
    Lock lock(m_mutex);
    return group >= 0 && group < 32 ? answer(state.flexType[group]) : 0;
}

bool MemoryModule::sendHexLine(QByteArray record)
{
    Lock lock(m_mutex);
    if (!accept(QStringLiteral("sendHexLine"), QString::fromLatin1(record)))
        return false;
    state.hexLines.append(record);
    return true;
}

bool MemoryModule::programBaseAddress(quint16 address)
{
    Lock lock(m_mutex);
    if (!accept(QStringLiteral("programBaseAddress"), QStringLiteral("0x") + QString::number(address, 16)))
        return false;
    if (state.acceptsBaseAddress)
        state.programmedBaseAddress = address;
    return true;
}

quint16 MemoryModule::verifyBaseAddress()
{
    Lock lock(m_mutex);
    ++state.verifyReads;
    return answer(state.programmedBaseAddress);
}

bool MemoryModule::setControl(quint32 control)
{
    Lock lock(m_mutex);
    if (!accept(QStringLiteral("setControl"), QString::number(control)))
        return false;
    constexpr quint32 setStop = 0x0004, specialMode = 0x0005, isSpecialMode = 0x0040, saveSetValues = 0x8000;
    state.control = control;
    if (state.followsControl) {
        state.control &= ~saveSetValues;
        state.status = (state.status & ~(setStop | isSpecialMode)) | (control & setStop)
            | ((control & specialMode) == specialMode ? isSpecialMode : 0);
    }
    return true;
}

std::unique_lock<std::recursive_mutex> MemoryModule::deviceLock()
{
    return std::unique_lock<std::recursive_mutex>(m_mutex);
}

bool MemoryModule::readChannelControl(int channel, quint32* control)
{
    Lock lock(m_mutex);
    if (!validChannel(channel))
        return noSuchChannel(channel);
    if (!readsAnswered())
        return noAnswer();
    *control = m_channels[channel].control;
    return succeed();
}

bool MemoryModule::readControl(quint32* control)
{
    Lock lock(m_mutex);
    if (!readsAnswered())
        return noAnswer();
    *control = state.control;
    return succeed();
}

bool MemoryModule::readAdcSamplesPerSecond(quint32* samplesPerSecond)
{
    Lock lock(m_mutex);
    if (!readsAnswered())
        return noAnswer();
    *samplesPerSecond = state.adcSamplesPerSecond;
    return succeed();
}

bool MemoryModule::readDigitalFilter(quint32* filter)
{
    Lock lock(m_mutex);
    if (!readsAnswered())
        return noAnswer();
    *filter = state.digitalFilter;
    return succeed();
}

bool MemoryModule::readChannelSettings(int channel, ChannelSettings* settings)
{
    Lock lock(m_mutex);
    if (!validChannel(channel))
        return noSuchChannel(channel);
    if (!readsAnswered())
        return noAnswer();
    const Channel& c = m_channels[channel];
    ChannelSettings fresh;
    fresh.currentSet = c.currentSet;
    fresh.currentNominal = c.currentNominal;
    fresh.voltageNominal = c.voltageNominal;
    fresh.voltageHardwareNominal = c.voltageHardwareNominal;
    fresh.currentHardwareNominal = c.currentHardwareNominal;
    fresh.delayedTripEnabled = c.delayedTripAction != IgnoreFailure;
    fresh.delayedTripRampDown = c.delayedTripAction == RampDownChannel;
    fresh.delayedTripTimeMs = c.delayedTripTime;
    fresh.inhibitAction = c.inhibitAction;
    fresh.control = c.control;
    return channelSettingsRead(channel, fresh, settings);
}
