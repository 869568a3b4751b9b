#include "device/OpcModule.h"
#include "device/ControllerLock.h"

#include "controller/OpcController.h"
#include "device/ModuleTypes.h"
#include "device/Resolution.h"
#include "device/StatusWordBits.h"

#include <cmath>
#include <mutex>

namespace {

using Lock = std::lock_guard<std::recursive_mutex>;

// Alarm bits of "AlarmInformation" in the order they are reported (the first set one wins).
struct AlarmText
{
    int bit;
    const char* text;
};
constexpr AlarmText alarmTexts[] = {
    {5, QT_TRANSLATE_NOOP("OpcModule", "Supply")},
    {6, QT_TRANSLATE_NOOP("OpcModule", "Overtemperature")},
    {4, QT_TRANSLATE_NOOP("OpcModule", "Safety Loop")},
    {7, QT_TRANSLATE_NOOP("OpcModule", "Inhibit")},
    {0, QT_TRANSLATE_NOOP("OpcModule", "Current Trip")},
    {2, QT_TRANSLATE_NOOP("OpcModule", "Current Limit")},
    {3, QT_TRANSLATE_NOOP("OpcModule", "Voltage Limit")},
};

// Variable group type of a delayed current trip: bits 15 and 14 mark it, 13..12 hold the
// action, 11..0 the delay.
constexpr quint32 delayedTripMarker = 0xC000;
constexpr quint32 delayMask = 0x0FFF;
constexpr int actionShift = 12;
constexpr int maskedChannels = 32;

// Values as the write journal shows them.
QString onOffText(bool on)
{
    return on ? QStringLiteral("on") : QStringLiteral("off");
}

QString wordText(quint32 word)
{
    return QStringLiteral("0x%1").arg(word, 8, 16, QLatin1Char('0'));
}

} // namespace

OpcModule::OpcModule(OpcController* controller, const QString& name, QObject* parent)
    : BaseModule(parent)
    , m_controller(controller)
    , m_prefix(name.endsWith(QLatin1Char('.')) ? name : name + QLatin1Char('.'))
{
    Lock lock(ControllerLock::of(*m_controller));
    const QString channelPrefix = m_prefix + QStringLiteral("ch");
    for (const QString& channel : m_controller->channelList()) {
        if (channel.startsWith(channelPrefix))
            ++m_channelCount;
    }
    m_serverVoltageInKilovolts =
        m_controller->getString(channelItem(0, QStringLiteral("NominalV#100"))) == QLatin1String("kV");
    m_serverCurrentUnitIndex = currentUnitIndexOf(m_controller->getString(channelItem(0, QStringLiteral("NominalI#100"))));
    m_deviceClass = m_controller->getByte(moduleItem(QStringLiteral("DeviceClass")));
    m_firmwareName = m_controller->getString(moduleItem(QStringLiteral("FirmwareName")));
    setFirmwareName(m_deviceClass);
    bool isNumber = false;
    m_serialNumber = m_controller->getString(moduleItem(QStringLiteral("DeviceID"))).toInt(&isNumber);
    if (!isNumber)
        m_serialNumber = 0;
    m_firmwareRelease = m_controller->getString(moduleItem(QStringLiteral("SoftwareID")));
    m_controlCache.fill(0, m_channelCount);
    loadResolution();
}

void OpcModule::loadResolution()
{
    Resolution resolution;
    resolution.setFirmwareName(m_firmwareName);
    resolution.setSerialNumber(m_serialNumber);
    resolution.load();
    m_useControllerUnits = resolution.useControllerUnits();
    m_voltageInKilovolts = resolution.voltageUnit() == QLatin1String("kV");
    m_voltagePrecision = resolution.voltagePrecision();
    m_currentUnitIndex = currentUnitIndexOf(resolution.currentUnit());
    m_currentPrecision = resolution.currentPrecision();
}

QString OpcModule::moduleItem(const QString& suffix) const
{
    return m_prefix + suffix;
}

QString OpcModule::channelItem(int channel, const QString& suffix) const
{
    return m_prefix + QStringLiteral("ch%1.").arg(channel, 2, 10, QLatin1Char('0')) + suffix;
}

QString OpcModule::busItem(const QString& suffix) const
{
    return m_prefix.left(m_prefix.indexOf(QLatin1Char('.'))) + QLatin1Char('.') + suffix;
}

bool OpcModule::isMeasurementModule() const
{
    return m_deviceClass == ModuleTypes::measurementDeviceClass;
}

// ---- units ----------------------------------------------------------------------------------

float OpcModule::voltageFromServer(float value) const
{
    if (m_useControllerUnits)
        return value;
    double volts = m_serverVoltageInKilovolts ? value * voltsPerKilovolt : value;
    return float(voltageFromVolts(volts));
}

float OpcModule::voltageToServer(float value) const
{
    if (m_useControllerUnits)
        return value;
    const double volts = voltageToVolts(value);
    return float(m_serverVoltageInKilovolts ? volts / voltsPerKilovolt : volts);
}

float OpcModule::currentFromServer(float value) const
{
    if (m_useControllerUnits)
        return value;
    return float(currentFromAmperes(value * amperesPerCurrentUnit(m_serverCurrentUnitIndex)));
}

float OpcModule::currentToServer(float value) const
{
    if (m_useControllerUnits)
        return value;
    return float(currentToAmperes(value) / amperesPerCurrentUnit(m_serverCurrentUnitIndex));
}

QString OpcModule::voltageUnit(int channel)
{
    if (m_useControllerUnits)
        return m_serverVoltageInKilovolts ? QStringLiteral("kV") : QStringLiteral("V");
    return BaseModule::voltageUnit(channel);
}

QString OpcModule::currentUnit(int channel)
{
    if (!m_useControllerUnits)
        return BaseModule::currentUnit(channel);
    switch (m_serverCurrentUnitIndex) {
    case 0:
        return QStringLiteral("nA");
    case 1:
        return microAmpereUnit();
    case 2:
        return QStringLiteral("mA");
    default:
        return QStringLiteral("A");
    }
}

// ---- helpers --------------------------------------------------------------------------------

float OpcModule::toServer(float value, ValueKind kind) const
{
    switch (kind) {
    case ValueKind::Voltage:
        return voltageToServer(value);
    case ValueKind::Current:
        return currentToServer(value);
    case ValueKind::RampSpeed:
        break;
    }
    return value;
}

float OpcModule::fromServer(float value, ValueKind kind) const
{
    switch (kind) {
    case ValueKind::Voltage:
        return voltageFromServer(value);
    case ValueKind::Current:
        return currentFromServer(value);
    case ValueKind::RampSpeed:
        break;
    }
    return value;
}

QString OpcModule::valueText(float value, ValueKind kind, int channel)
{
    switch (kind) {
    case ValueKind::Voltage:
        return JournalWrite::valueText(value, voltageUnit(channel));
    case ValueKind::Current:
        return JournalWrite::valueText(value, currentUnit(channel));
    case ValueKind::RampSpeed:
        break;
    }
    return JournalWrite::valueText(value, QStringLiteral("%/s"));
}

// The server answers the read of an item whether or not it took the value written (the stand-in,
// like a module, keeps the previous set value for one out of range), so the read-back decides.
// Items report no precision of their own. Equal is: within half a step of the last decimal the
// window shows for the quantity (voltagePrecision(), currentPrecision(), two decimals for ramp
// speeds), or within 1e-5 of the value, whichever is larger. A float item travels as a 32-bit
// float and through a unit conversion, and a server may round to the module's converter, none of
// which the operator could see; a refused or clamped value differs by far more.
bool OpcModule::sameValue(float written, float readBack, ValueKind kind)
{
    int decimals = 2;
    if (kind == ValueKind::Voltage)
        decimals = voltagePrecision();
    else if (kind == ValueKind::Current)
        decimals = currentPrecision();
    const double halfStep = 0.5 * std::pow(10.0, -qBound(0, decimals, 9));
    const double relative = 1e-5 * std::max(std::fabs(double(written)), std::fabs(double(readBack)));
    return std::fabs(double(written) - double(readBack)) <= std::max(halfStep, relative);
}

bool OpcModule::readValue(const QString& item, ValueKind kind, float* value)
{
    bool answered = false;
    const float server = m_controller->getFloat(item, &answered);
    if (answered)
        *value = fromServer(server, kind);
    return answered;
}

bool OpcModule::writtenValue(const QString& item, float value, ValueKind kind, int channel, const char* quantity)
{
    Lock lock(ControllerLock::of(*m_controller));
    return journaled(channel, quantity, valueText(value, kind, channel), [&] {
        float readBack = 0.0f;
        if (!m_controller->setFloat(item, toServer(value, kind), &readBack))
            return noAnswer();
        readBack = fromServer(readBack, kind);
        return sameValue(value, readBack, kind)
            ? succeed()
            : fail(QStringLiteral("not taken (reads back %1)").arg(valueText(readBack, kind, channel)));
    });
}

template <typename Update>
bool OpcModule::changeMask(const QString& suffix, const char* quantity, Update update)
{
    Lock lock(ControllerLock::of(*m_controller));
    bool answered = false;
    const quint32 mask = m_controller->getUnsignedLong(moduleItem(suffix), &answered);
    if (!answered)
        return noAnswer();
    const quint32 changed = update(mask);
    return written(JournalWrite::moduleWide, quantity, wordText(changed),
        [&] { return m_controller->setUnsignedLong(moduleItem(suffix), changed); });
}

void OpcModule::noteControl(quint32 mask, quint32 bit, bool set)
{
    for (int channel = 0; channel < m_channelCount && channel < maskedChannels; ++channel) {
        if (!(mask & (1u << channel)))
            continue;
        if (set)
            m_controlCache[channel] |= quint16(bit);
        else
            m_controlCache[channel] &= quint16(~bit);
    }
}

// ---- identity and module values -------------------------------------------------------------

quint32 OpcModule::logLevel()
{
    return m_controller->getUnsignedShort(busItem(QStringLiteral("LogLevel")));
}

bool OpcModule::setLogLevel(int level)
{
    return written(JournalWrite::crateWide, "log level", QString::number(level),
        [&] { return m_controller->setUnsignedShort(busItem(QStringLiteral("LogLevel")), quint16(level)); });
}

bool OpcModule::connected()
{
    bool answered = false;
    const bool alive = m_controller->getBool(moduleItem(QStringLiteral("Alive")), &answered);
    return answered && alive;
}

QString OpcModule::alarmMessage()
{
    bool answered = false;
    const quint8 alarms = m_controller->getByte(moduleItem(QStringLiteral("AlarmInformation")), &answered);
    if (!answered)
        return QString();
    for (const AlarmText& alarm : alarmTexts) {
        if (alarms & (1u << alarm.bit))
            return tr(alarm.text);
    }
    return QString();
}

bool OpcModule::currentControl()
{
    return ModuleTypes::hasCurrentControl(m_deviceClass);
}

int OpcModule::serialNumber()
{
    return m_serialNumber;
}

QString OpcModule::firmwareRelease()
{
    return m_firmwareRelease;
}

quint32 OpcModule::decoderRelease()
{
    return 0;
}

bool OpcModule::doClear()
{
    if (isMeasurementModule())
        return notOffered();
    return written(JournalWrite::moduleWide, "clear events", QStringLiteral("1"),
        [&] { return m_controller->setBool(moduleItem(QStringLiteral("doClear")), true); });
}

bool OpcModule::setAdjustment(bool set)
{
    if (isMeasurementModule())
        return notOffered();
    return written(JournalWrite::moduleWide, "adjustment", onOffText(set),
        [&] { return m_controller->setBool(moduleItem(QStringLiteral("setAdjust")), set); });
}

bool OpcModule::adjustment()
{
    if (isMeasurementModule())
        return false;
    return m_controller->getBool(moduleItem(QStringLiteral("setAdjust")));
}

QString OpcModule::address()
{
    return m_prefix.left(m_prefix.size() - 1);
}

float OpcModule::temperature(int index)
{
    return index == 0 ? m_controller->getFloat(moduleItem(QStringLiteral("BoardTemp"))) : 0.0f;
}

float OpcModule::supplyP5()
{
    return m_controller->getFloat(moduleItem(QStringLiteral("Supply5V")));
}

float OpcModule::supplyP12()
{
    return m_controller->getFloat(moduleItem(QStringLiteral("Supply24V")));
}

float OpcModule::supplyN12()
{
    return 0.0f;
}

quint32 OpcModule::adcSamplesPerSecond()
{
    return m_controller->getUnsignedShort(moduleItem(QStringLiteral("ADCFilterFrequency")));
}

bool OpcModule::setAdcSamplesPerSecond(quint32 sps)
{
    return written(JournalWrite::moduleWide, "ADC samples per second", QString::number(sps),
        [&] { return m_controller->setUnsignedShort(moduleItem(QStringLiteral("ADCFilterFrequency")), quint16(sps)); });
}

bool OpcModule::readAdcSamplesPerSecond(quint32* samplesPerSecond)
{
    Lock lock(ControllerLock::of(*m_controller));
    bool answered = false;
    const quint16 value = m_controller->getUnsignedShort(moduleItem(QStringLiteral("ADCFilterFrequency")), &answered);
    if (!answered)
        return noAnswer();
    *samplesPerSecond = value;
    return succeed();
}

quint32 OpcModule::digitalFilter()
{
    return 0;
}

bool OpcModule::setDigitalFilter(quint32)
{
    return notOffered();
}

float OpcModule::voltageLimit()
{
    Lock lock(ControllerLock::of(*m_controller));
    return voltageFromServer(m_controller->getFloat(moduleItem(QStringLiteral("HardwareVLimit"))));
}

float OpcModule::currentLimit()
{
    Lock lock(ControllerLock::of(*m_controller));
    return currentFromServer(m_controller->getFloat(moduleItem(QStringLiteral("HardwareILimit"))));
}

quint32 OpcModule::status()
{
    return m_controller->getUnsignedShort(moduleItem(QStringLiteral("Status")));
}

quint32 OpcModule::eventStatus()
{
    return m_controller->getUnsignedShort(moduleItem(QStringLiteral("EventStatus")));
}

bool OpcModule::setEventStatus(quint32 status)
{
    return written(JournalWrite::moduleWide, "event status", wordText(status),
        [&] { return m_controller->setUnsignedShort(moduleItem(QStringLiteral("EventStatus")), quint16(status)); });
}

bool OpcModule::clearEventStatus()
{
    return setEventStatus(0xFFFF);
}

quint32 OpcModule::eventChannelStatus()
{
    if (isMeasurementModule())
        return 0;
    return m_controller->getUnsignedShort(moduleItem(QStringLiteral("EventChannelStatus")));
}

bool OpcModule::clearEventChannelStatus()
{
    if (isMeasurementModule())
        return notOffered();
    return written(JournalWrite::moduleWide, "event channel status", wordText(0xFFFF),
        [&] { return m_controller->setUnsignedShort(moduleItem(QStringLiteral("EventChannelStatus")), 0xFFFF); });
}

quint32 OpcModule::eventChannelMask()
{
    if (isMeasurementModule())
        return 0;
    return m_controller->getUnsignedShort(moduleItem(QStringLiteral("EventChannelMask")));
}

bool OpcModule::setEventChannelMask(quint32 mask)
{
    if (isMeasurementModule())
        return notOffered();
    return written(JournalWrite::moduleWide, "event channel mask", wordText(mask),
        [&] { return m_controller->setUnsignedShort(moduleItem(QStringLiteral("EventChannelMask")), quint16(mask)); });
}

quint32 OpcModule::eventGroupStatus()
{
    return 0;
}

quint32 OpcModule::eventGroupMask()
{
    return 0;
}

bool OpcModule::setEventGroupMask(quint32)
{
    return notOffered();
}

bool OpcModule::clearEventGroupStatus()
{
    return notOffered();
}

quint32 OpcModule::eventMask()
{
    return m_controller->getUnsignedShort(moduleItem(QStringLiteral("EventMask")));
}

bool OpcModule::setEventMask(quint32 mask)
{
    return written(JournalWrite::moduleWide, "event mask", wordText(mask),
        [&] { return m_controller->setUnsignedShort(moduleItem(QStringLiteral("EventMask")), quint16(mask)); });
}

quint32 OpcModule::control()
{
    Lock lock(ControllerLock::of(*m_controller));
    quint32 word = 0;
    if (killEnable())
        word |= ModuleControlBit::killEnable;
    if (adjustment())
        word |= ModuleControlBit::fineAdjustment;
    return word;
}

bool OpcModule::setControl(quint32 control)
{
    Lock lock(ControllerLock::of(*m_controller));
    bool ok = true;
    QString firstFailure;
    const auto note = [&](bool result) {
        if (!result && ok) {
            ok = false;
            firstFailure = lastError();
        }
    };
    if (control & ModuleControlBit::clearEvents)
        note(doClear());
    // A measurement module has no adjustment: only asking for it is refused.
    const bool adjust = control & ModuleControlBit::fineAdjustment;
    if (!isMeasurementModule() || adjust)
        note(setAdjustment(adjust));
    note(setKillEnable(control & ModuleControlBit::killEnable));
    return ok ? succeed() : fail(firstFailure);
}

float OpcModule::voltageRampSpeed()
{
    return m_controller->getFloat(moduleItem(QStringLiteral("RampSpeed")));
}

bool OpcModule::setVoltageRampSpeed(float vramp)
{
    return writtenValue(moduleItem(QStringLiteral("RampSpeed")), vramp, ValueKind::RampSpeed, JournalWrite::moduleWide,
        "voltage ramp speed");
}

float OpcModule::currentRampSpeed()
{
    return m_controller->getFloat(moduleItem(QStringLiteral("IRampSpeed")));
}

bool OpcModule::setCurrentRampSpeed(float iramp)
{
    return writtenValue(moduleItem(QStringLiteral("IRampSpeed")), iramp, ValueKind::RampSpeed, JournalWrite::moduleWide,
        "current ramp speed");
}

bool OpcModule::killEnable()
{
    return m_controller->getBool(moduleItem(QStringLiteral("setKillEnable")));
}

bool OpcModule::setKillEnable(bool enable)
{
    return written(JournalWrite::moduleWide, "kill enable", onOffText(enable),
        [&] { return m_controller->setBool(moduleItem(QStringLiteral("setKillEnable")), enable); });
}

int OpcModule::channelNumber()
{
    return m_channelCount;
}

quint32 OpcModule::restartTime()
{
    return 0;
}

bool OpcModule::setRestartTime(quint32)
{
    return notOffered();
}

// ---- several channels -----------------------------------------------------------------------

// A measurement module switches its channels like any other: whatever can be switched on can be
// switched off and emergency-off again.
bool OpcModule::setSelectedChannelsOn(quint32 mask)
{
    Lock lock(ControllerLock::of(*m_controller));
    const bool ok = changeMask(QStringLiteral("On"), "switch of channels", [mask](quint32 read) { return read | mask; });
    if (ok)
        noteControl(mask, ChannelControlBit::on, true);
    return ok;
}

bool OpcModule::setSelectedChannelsOff(quint32 mask)
{
    Lock lock(ControllerLock::of(*m_controller));
    const bool ok = changeMask(QStringLiteral("On"), "switch of channels", [mask](quint32 read) { return read & ~mask; });
    if (ok)
        noteControl(mask, ChannelControlBit::on, false);
    return ok;
}

bool OpcModule::setSelectedChannelsEmergencyOff(quint32 mask)
{
    Lock lock(ControllerLock::of(*m_controller));
    const bool ok =
        changeMask(QStringLiteral("Emcy"), "emergency off of channels", [mask](quint32 read) { return read | mask; });
    if (ok)
        noteControl(mask, ChannelControlBit::emergencyOff, true);
    return ok;
}

bool OpcModule::clearSelectedChannelsEmergencyOff(quint32 mask)
{
    Lock lock(ControllerLock::of(*m_controller));
    const bool ok =
        changeMask(QStringLiteral("Emcy"), "emergency off of channels", [mask](quint32 read) { return read & ~mask; });
    if (ok)
        noteControl(mask, ChannelControlBit::emergencyOff, false);
    return ok;
}

// The all-channels item keeps what was written to it whatever the channels took: each channel's
// own set value is read back instead.
bool OpcModule::writtenToAllChannels(
    const char* allItem, const char* channelSuffix, float value, ValueKind kind, const char* quantity)
{
    Lock lock(ControllerLock::of(*m_controller));
    const JournalWrite entry = journalSent(JournalWrite::moduleWide, quantity, valueText(value, kind, 0));
    bool ok = m_controller->setFloat(moduleItem(QLatin1String(allItem)), toServer(value, kind)) || noAnswer();
    for (int channel = 0; ok && channel < m_channelCount; ++channel) {
        float readBack = 0.0f;
        if (!readValue(channelItem(channel, QLatin1String(channelSuffix)), kind, &readBack))
            ok = noAnswer();
        else if (!sameValue(value, readBack, kind))
            ok = fail(
                QStringLiteral("not taken (channel %1 reads back %2)").arg(channel).arg(valueText(readBack, kind, channel)));
    }
    if (ok)
        succeed();
    return journalResult(entry, ok);
}

bool OpcModule::setAllChannelsVoltageSet(float vset)
{
    if (isMeasurementModule())
        return notOffered();
    return writtenToAllChannels("VSetAllChannels", "VSet", vset, ValueKind::Voltage, "voltage set of all channels");
}

bool OpcModule::setAllChannelsCurrentSet(float iset)
{
    return writtenToAllChannels("ISetAllChannels", "ISet", iset, ValueKind::Current, "current set of all channels");
}

bool OpcModule::setAllChannelsDelayedTripAction(OutputSupervisionAction action, int delay)
{
    Lock lock(ControllerLock::of(*m_controller));
    if (m_channelCount <= 0)
        return notOffered();
    for (int channel = 0; channel < m_channelCount; ++channel) {
        if (!setChannelDelayedTripAction(channel, action, delay))
            return false;
    }
    return succeed();
}

bool OpcModule::setChannelExternalMeasurementEnabled(int channel, bool enabled)
{
    Lock lock(ControllerLock::of(*m_controller));
    if (!isMeasurementModule())
        return notOffered();
    if (!validChannel(channel))
        return noSuchChannel(channel);
    if (!written(channel, "external measurement", onOffText(enabled),
            [&] { return m_controller->setBool(channelItem(channel, QStringLiteral("setExternalMeas")), enabled); }))
        return false;
    noteControl(channel < maskedChannels ? 1u << channel : 0, ChannelControlBit::externalMeasurement, enabled);
    return true;
}

bool OpcModule::setChannelRippleMeasurementEnabled(int channel, bool enabled)
{
    Lock lock(ControllerLock::of(*m_controller));
    if (!isMeasurementModule())
        return notOffered();
    if (!validChannel(channel))
        return noSuchChannel(channel);
    if (!written(channel, "ripple measurement", onOffText(enabled),
            [&] { return m_controller->setBool(channelItem(channel, QStringLiteral("setRipple")), enabled); }))
        return false;
    noteControl(channel < maskedChannels ? 1u << channel : 0, ChannelControlBit::rippleMeasurement, enabled);
    return true;
}

bool OpcModule::setChannelBothMeasurementsEnabled(int channel, bool enabled)
{
    Lock lock(ControllerLock::of(*m_controller));
    return setChannelExternalMeasurementEnabled(channel, enabled) && setChannelRippleMeasurementEnabled(channel, enabled);
}

bool OpcModule::doMultiplex()
{
    return written(JournalWrite::moduleWide, "multiplex", QStringLiteral("1"),
        [&] { return m_controller->setBool(moduleItem(QStringLiteral("doMultiplex")), true); });
}

bool OpcModule::setResistor(int resistor)
{
    Lock lock(ControllerLock::of(*m_controller));
    const bool valid = resistor >= 1 && resistor <= 3;
    return written(JournalWrite::moduleWide, "resistor R1", onOffText(valid && (resistor & 1)), [&] {
        return m_controller->setBool(moduleItem(QStringLiteral("setR1")), valid && (resistor & 1));
    }) && written(JournalWrite::moduleWide, "resistor R2", onOffText(valid && (resistor & 2)), [&] {
        return m_controller->setBool(moduleItem(QStringLiteral("setR2")), valid && (resistor & 2));
    });
}

// ---- channel words --------------------------------------------------------------------------

quint32 OpcModule::channelStatus(int channel)
{
    if (!validChannel(channel))
        return 0;
    return m_controller->getUnsignedShort(channelItem(channel, QStringLiteral("Status")));
}

quint32 OpcModule::channelEventStatus(int channel)
{
    if (!validChannel(channel))
        return 0;
    return m_controller->getUnsignedShort(channelItem(channel, QStringLiteral("EventStatus")));
}

bool OpcModule::setChannelEventStatus(int channel, quint32 status)
{
    if (!validChannel(channel))
        return noSuchChannel(channel);
    return written(channel, "event status", wordText(status), [&] {
        return m_controller->setUnsignedShort(channelItem(channel, QStringLiteral("EventStatus")), quint16(status));
    });
}

bool OpcModule::clearChannelEventStatus(int channel)
{
    return setChannelEventStatus(channel, 0xFFFF);
}

quint32 OpcModule::channelEventMask(int channel)
{
    if (!validChannel(channel))
        return 0;
    return m_controller->getUnsignedShort(channelItem(channel, QStringLiteral("EventMask")));
}

bool OpcModule::setChannelEventMask(int channel, quint32 mask)
{
    if (!validChannel(channel))
        return noSuchChannel(channel);
    return written(channel, "event mask", wordText(mask),
        [&] { return m_controller->setUnsignedShort(channelItem(channel, QStringLiteral("EventMask")), quint16(mask)); });
}

quint32 OpcModule::channelControl(int channel)
{
    Lock lock(ControllerLock::of(*m_controller));
    if (!validChannel(channel))
        return 0;
    quint16& word = m_controlCache[channel];
    const auto take = [&](const char* suffix, quint32 bit) {
        if (m_controller->getBool(channelItem(channel, QLatin1String(suffix))))
            word |= quint16(bit);
        else
            word &= quint16(~bit);
    };
    if (isMeasurementModule()) {
        take("setExternalMeas", ChannelControlBit::externalMeasurement);
        take("setRipple", ChannelControlBit::rippleMeasurement);
    } else {
        take("On", ChannelControlBit::on);
        take("Emergency", ChannelControlBit::emergencyOff);
    }
    return word;
}

bool OpcModule::setChannelControl(int, quint32)
{
    return notOffered();
}

// Channels beyond the 32 bits of the masks are switched through their own items.
bool OpcModule::setChannelOn(int channel)
{
    Lock lock(ControllerLock::of(*m_controller));
    if (!validChannel(channel))
        return noSuchChannel(channel);
    if (channel >= maskedChannels)
        return written(channel, "switch", onOffText(true),
            [&] { return m_controller->setBool(channelItem(channel, QStringLiteral("On")), true); });
    return setSelectedChannelsOn(1u << channel);
}

bool OpcModule::setChannelOff(int channel)
{
    Lock lock(ControllerLock::of(*m_controller));
    if (!validChannel(channel))
        return noSuchChannel(channel);
    if (channel >= maskedChannels)
        return written(channel, "switch", onOffText(false),
            [&] { return m_controller->setBool(channelItem(channel, QStringLiteral("On")), false); });
    return setSelectedChannelsOff(1u << channel);
}

// Adds the channel to the emergency-off mask the module already has: writing the channel's bit
// alone would release every other channel from its emergency off.
bool OpcModule::setChannelEmergencyOff(int channel)
{
    Lock lock(ControllerLock::of(*m_controller));
    if (!validChannel(channel))
        return noSuchChannel(channel);
    if (channel >= maskedChannels)
        return written(channel, "emergency off", onOffText(true),
            [&] { return m_controller->setBool(channelItem(channel, QStringLiteral("Emergency")), true); });
    return setSelectedChannelsEmergencyOff(1u << channel);
}

bool OpcModule::clearChannelEmergencyOff(int channel)
{
    Lock lock(ControllerLock::of(*m_controller));
    if (!validChannel(channel))
        return noSuchChannel(channel);
    if (channel >= maskedChannels)
        return written(channel, "emergency off", onOffText(false),
            [&] { return m_controller->setBool(channelItem(channel, QStringLiteral("Emergency")), false); });
    return clearSelectedChannelsEmergencyOff(1u << channel);
}

// ---- channel values -------------------------------------------------------------------------

float OpcModule::channelVoltageNominal(int channel)
{
    Lock lock(ControllerLock::of(*m_controller));
    if (!validChannel(channel))
        return 0.0f;
    return voltageFromServer(m_controller->getFloat(channelItem(channel, QStringLiteral("NominalV"))));
}

float OpcModule::channelCurrentNominal(int channel)
{
    Lock lock(ControllerLock::of(*m_controller));
    if (!validChannel(channel))
        return 0.0f;
    return currentFromServer(m_controller->getFloat(channelItem(channel, QStringLiteral("NominalI"))));
}

float OpcModule::channelVoltageSet(int channel)
{
    Lock lock(ControllerLock::of(*m_controller));
    if (isMeasurementModule() || !validChannel(channel))
        return 0.0f;
    return voltageFromServer(m_controller->getFloat(channelItem(channel, QStringLiteral("VSet"))));
}

bool OpcModule::setChannelVoltageSet(int channel, float vset)
{
    Lock lock(ControllerLock::of(*m_controller));
    if (isMeasurementModule())
        return notOffered();
    if (!validChannel(channel))
        return noSuchChannel(channel);
    return writtenValue(channelItem(channel, QStringLiteral("VSet")), vset, ValueKind::Voltage, channel, "voltage set");
}

float OpcModule::channelVoltageMeasure(int channel)
{
    Lock lock(ControllerLock::of(*m_controller));
    if (!validChannel(channel))
        return 0.0f;
    return voltageFromServer(m_controller->getFloat(channelItem(channel, QStringLiteral("VMeas"))));
}

float OpcModule::channelCurrentSet(int channel)
{
    Lock lock(ControllerLock::of(*m_controller));
    if (isMeasurementModule() || !validChannel(channel))
        return 0.0f;
    return currentFromServer(m_controller->getFloat(channelItem(channel, QStringLiteral("ISet"))));
}

bool OpcModule::setChannelCurrentSet(int channel, float iset)
{
    Lock lock(ControllerLock::of(*m_controller));
    if (isMeasurementModule())
        return notOffered();
    if (!validChannel(channel))
        return noSuchChannel(channel);
    return writtenValue(channelItem(channel, QStringLiteral("ISet")), iset, ValueKind::Current, channel, "current set");
}

float OpcModule::channelCurrentMeasure(int channel)
{
    Lock lock(ControllerLock::of(*m_controller));
    if (!validChannel(channel))
        return 0.0f;
    return currentFromServer(m_controller->getFloat(channelItem(channel, QStringLiteral("IMeas"))));
}

BaseModule::CurrentMeasurementRange OpcModule::channelCurrentMeasurementRange(int channel)
{
    if (!validChannel(channel))
        return CurrentMeasurementRangeHigh;
    return CurrentMeasurementRange(m_controller->getByte(channelItem(channel, QStringLiteral("IMeasRange"))));
}

float OpcModule::channelVoltageHardwareNominal(int channel)
{
    return channelVoltageNominal(channel);
}

float OpcModule::channelCurrentHardwareNominal(int channel)
{
    return channelCurrentNominal(channel);
}

// ---- delayed trip on variable groups ---------------------------------------------------------

// The delayed trip of a channel lives in the variable group with the channel's own number.
bool OpcModule::setChannelDelayedTripAction(int channel, OutputSupervisionAction action, int delay)
{
    Lock lock(ControllerLock::of(*m_controller));
    if (!validChannel(channel))
        return noSuchChannel(channel);
    const quint32 member = channel < maskedChannels ? 1u << channel : 0;
    const int value = int(action);
    if (value == IgnoreFailure)
        return setFlexGroup(channel, 0, 0);
    quint32 type = delayedTripMarker | (quint32(delay) & delayMask);
    if (value >= RampDownChannel && value <= ShutDownModule)
        type |= quint32(value) << actionShift;
    return setFlexGroup(channel, member, type);
}

bool OpcModule::channelDelayedTripEnabled(int channel)
{
    return (flexGroupType(channel) & delayedTripMarker) == delayedTripMarker;
}

bool OpcModule::channelDelayedTripRampDown(int channel)
{
    return ((flexGroupType(channel) >> actionShift) & 3u) == RampDownChannel;
}

int OpcModule::channelDelayedTripTime(int channel)
{
    const quint32 type = flexGroupType(channel);
    return (type & delayedTripMarker) == delayedTripMarker ? int(type & delayMask) : -1;
}

bool OpcModule::setFlexGroup(int group, quint32 member, quint32 type)
{
    Lock lock(ControllerLock::of(*m_controller));
    if (!written(JournalWrite::moduleWide, "group number", QString::number(group),
            [&] { return m_controller->setByte(moduleItem(QStringLiteral("GroupNumber")), quint8(group)); }))
        return false;
    const quint32 variable = (member << 16) | (type & 0xFFFF);
    return written(JournalWrite::moduleWide, "variable group", wordText(variable),
        [&] { return m_controller->setUnsignedLong(moduleItem(QStringLiteral("GroupVariable")), variable); });
}

quint32 OpcModule::flexGroupMemberList(int group)
{
    Lock lock(ControllerLock::of(*m_controller));
    m_controller->setByte(moduleItem(QStringLiteral("GroupNumber")), quint8(group));
    return m_controller->getUnsignedLong(moduleItem(QStringLiteral("GroupVariable"))) >> 16;
}

quint32 OpcModule::flexGroupType(int group)
{
    Lock lock(ControllerLock::of(*m_controller));
    m_controller->setByte(moduleItem(QStringLiteral("GroupNumber")), quint8(group));
    return m_controller->getUnsignedLong(moduleItem(QStringLiteral("GroupVariable"))) & 0xFFFF;
}

// ---- not offered behind an OPC server ---------------------------------------------------------

float OpcModule::channelVoltageInterlockMaxSet(int)
{
    return 0.0f;
}

bool OpcModule::setChannelVoltageInterlockMaxSet(int, float)
{
    return notOffered();
}

float OpcModule::channelVoltageInterlockMinSet(int)
{
    return 0.0f;
}

bool OpcModule::setChannelVoltageInterlockMinSet(int, float)
{
    return notOffered();
}

float OpcModule::channelCurrentInterlockMaxSet(int)
{
    return currentFromServer(0.0f);
}

bool OpcModule::setChannelCurrentInterlockMaxSet(int, float)
{
    return notOffered();
}

float OpcModule::channelCurrentInterlockMinSet(int)
{
    return currentFromServer(0.0f);
}

bool OpcModule::setChannelCurrentInterlockMinSet(int, float)
{
    return notOffered();
}

// ---- checked reads ----------------------------------------------------------------------------

std::unique_lock<std::recursive_mutex> OpcModule::deviceLock()
{
    return std::unique_lock<std::recursive_mutex>(ControllerLock::of(*m_controller));
}

bool OpcModule::readChannelControl(int channel, quint32* control)
{
    Lock lock(ControllerLock::of(*m_controller));
    if (!validChannel(channel))
        return noSuchChannel(channel);
    quint32 word = 0;
    bool answered = true;
    const auto take = [&](const char* suffix, quint32 bit) {
        bool ok = false;
        if (m_controller->getBool(channelItem(channel, QLatin1String(suffix)), &ok))
            word |= bit;
        answered = answered && ok;
    };
    if (isMeasurementModule()) {
        take("setExternalMeas", ChannelControlBit::externalMeasurement);
        take("setRipple", ChannelControlBit::rippleMeasurement);
    } else {
        take("On", ChannelControlBit::on);
        take("Emergency", ChannelControlBit::emergencyOff);
    }
    if (!answered)
        return noAnswer();
    m_controlCache[channel] = quint16(word);
    *control = word;
    return succeed();
}

bool OpcModule::readControl(quint32* control)
{
    Lock lock(ControllerLock::of(*m_controller));
    bool answered = false;
    quint32 word = 0;
    if (m_controller->getBool(moduleItem(QStringLiteral("setKillEnable")), &answered))
        word |= ModuleControlBit::killEnable;
    if (!answered)
        return noAnswer();
    if (!isMeasurementModule()) {
        if (m_controller->getBool(moduleItem(QStringLiteral("setAdjust")), &answered))
            word |= ModuleControlBit::fineAdjustment;
        if (!answered)
            return noAnswer();
    }
    *control = word;
    return succeed();
}

bool OpcModule::readChannelSettings(int channel, ChannelSettings* settings)
{
    Lock lock(ControllerLock::of(*m_controller));
    if (!validChannel(channel))
        return noSuchChannel(channel);
    ChannelSettings fresh;
    if (!readChannelControl(channel, &fresh.control))
        return false;
    if (!readValue(channelItem(channel, QStringLiteral("NominalV")), ValueKind::Voltage, &fresh.voltageNominal)
        || !readValue(channelItem(channel, QStringLiteral("NominalI")), ValueKind::Current, &fresh.currentNominal))
        return noAnswer();
    if (!isMeasurementModule()
        && !readValue(channelItem(channel, QStringLiteral("ISet")), ValueKind::Current, &fresh.currentSet))
        return noAnswer();
    // The delayed trip is the channel's own variable group, selected by its number.
    bool answered = m_controller->setByte(moduleItem(QStringLiteral("GroupNumber")), quint8(channel));
    const quint32 type =
        answered ? m_controller->getUnsignedLong(moduleItem(QStringLiteral("GroupVariable")), &answered) & 0xFFFF : 0;
    if (!answered)
        return noAnswer();
    fresh.delayedTripEnabled = (type & delayedTripMarker) == delayedTripMarker;
    fresh.delayedTripRampDown = ((type >> actionShift) & 3u) == RampDownChannel;
    fresh.delayedTripTimeMs = fresh.delayedTripEnabled ? int(type & delayMask) : -1;
    fresh.inhibitAction = IgnoreFailure;
    fresh.voltageHardwareNominal = fresh.voltageNominal;
    fresh.currentHardwareNominal = fresh.currentNominal;
    return channelSettingsRead(channel, fresh, settings);
}
