#include "device/BaseModule.h"

#include "device/ModuleTypes.h"

#include <utility>

BaseModule::BaseModule(QObject* parent)
    : QObject(parent)
{
}

BaseModule::~BaseModule() = default;

QVector<ChannelReading> BaseModule::readChannels()
{
    const int channels = qMax(0, channelNumber());
    QVector<ChannelReading> readings(channels);
    for (int channel = 0; channel < channels; ++channel) {
        ChannelReading& reading = readings[channel];
        reading.voltageSet = channelVoltageSet(channel);
        reading.currentSet = channelCurrentSet(channel);
        reading.voltageMeasure = channelVoltageMeasure(channel);
        reading.currentMeasure = channelCurrentMeasure(channel);
        reading.voltageNominal = channelVoltageNominal(channel);
        reading.currentNominal = channelCurrentNominal(channel);
        reading.control = channelControl(channel);
        reading.status = channelStatus(channel);
    }
    // The getters answer 0 for a read that failed: only a module that still counts as connected
    // after the reads gave readings.
    const bool answering = connected();
    for (int channel = 0; channel < channels; ++channel)
        readings[channel].complete = answering && channelReadComplete(channel);
    return readings;
}

ModuleReading BaseModule::readModuleValues(bool temperatures, bool supplies)
{
    ModuleReading reading;
    reading.currentControl = currentControl();
    reading.voltageRampSpeed = voltageRampSpeed();
    reading.currentRampSpeed = reading.currentControl ? currentRampSpeed() : 0.0f;
    reading.status = status();
    reading.eventStatus = eventStatus();
    if (temperatures) {
        for (int index = 0; index < 4; ++index)
            reading.temperature[index] = temperature(index);
    }
    if (supplies) {
        reading.supplyP5 = supplyP5();
        reading.supplyP12 = supplyP12();
        reading.supplyN12 = supplyN12();
        reading.voltageLimit = voltageLimit();
        reading.currentLimit = currentLimit();
    }
    // The getters cannot tell a failed read from a 0; a module that no longer counts as
    // connected after them gave no readings.
    const bool answering = connected();
    reading.rampSpeedsValid = answering;
    reading.statusValid = answering;
    reading.temperaturesValid = temperatures && answering;
    reading.suppliesValid = supplies && answering;
    return reading;
}

namespace {

QString noAnswerReason()
{
    return QStringLiteral("no answer");
}

} // namespace

bool BaseModule::isNoAnswer(const QString& reason)
{
    return reason == noAnswerReason();
}

bool BaseModule::isWriteNotAnswered(const QString& reason)
{
    return reason == QLatin1String("write not answered");
}

std::unique_lock<std::recursive_mutex> BaseModule::deviceLock()
{
    return {};
}

bool BaseModule::readChannelControl(int, quint32*)
{
    return notOffered();
}

bool BaseModule::readControl(quint32*)
{
    return notOffered();
}

bool BaseModule::readChannelSettings(int, ChannelSettings*)
{
    return notOffered();
}

int BaseModule::readHardwareNominals(int first, int count, QVector<float>* voltages, QVector<float>* currents)
{
    voltages->clear();
    currents->clear();
    for (int channel = first; channel < first + count; ++channel) {
        ChannelSettings settings;
        if (!readChannelSettings(channel, &settings))
            break;
        voltages->append(settings.voltageHardwareNominal);
        currents->append(settings.currentHardwareNominal);
    }
    return int(voltages->size());
}

int BaseModule::hardwareNominalsReadTogether() const
{
    return 1;
}

bool BaseModule::readAdcSamplesPerSecond(quint32*)
{
    return notOffered();
}

bool BaseModule::readDigitalFilter(quint32*)
{
    return notOffered();
}

bool BaseModule::channelSettingsRead(int channel, ChannelSettings fresh, ChannelSettings* settings)
{
    fresh.currentControl = currentControl();
    fresh.voltageUnit = voltageUnit(channel);
    fresh.currentUnit = currentUnit(channel);
    *settings = std::move(fresh);
    return succeed();
}

bool BaseModule::updateChannelControl(int channel, quint32 clearBits, quint32 setBits, quint32* written)
{
    const auto held = deviceLock();
    quint32 word = 0;
    if (!readChannelControl(channel, &word))
        return fail(QStringLiteral("control word not read (%1)").arg(lastError()));
    const quint32 changed = (word & ~clearBits) | setBits;
    if (written)
        *written = changed;
    // Nothing to change is nothing to send: a word written back unchanged would repeat commands
    // (switch on) the operator did not give now.
    if (changed == word)
        return succeed();
    return setChannelControl(channel, changed);
}

bool BaseModule::updateControl(quint32 clearBits, quint32 setBits, quint32* written)
{
    const auto held = deviceLock();
    quint32 word = 0;
    if (!readControl(&word))
        return fail(QStringLiteral("control word not read (%1)").arg(lastError()));
    const quint32 changed = (word & ~clearBits) | setBits;
    if (written)
        *written = changed;
    if (changed == word)
        return succeed();
    return setControl(changed);
}

bool BaseModule::reports(Quantity) const
{
    return true;
}

QString BaseModule::lastError()
{
    return m_lastErrors.reason();
}

bool BaseModule::channelReadComplete(int)
{
    return true;
}

bool BaseModule::succeed()
{
    return m_lastErrors.succeed();
}

bool BaseModule::fail(const QString& reason)
{
    return m_lastErrors.fail(reason);
}

bool BaseModule::notOffered()
{
    return fail(QStringLiteral("not offered by this module"));
}

bool BaseModule::noAnswer()
{
    return fail(noAnswerReason());
}

bool BaseModule::noSuchChannel(int channel)
{
    return fail(QStringLiteral("no channel %1 in this module").arg(channel));
}

QStringList BaseModule::eachChannel(const QList<int>& channels, const std::function<bool(int)>& write)
{
    const std::unique_lock<std::recursive_mutex> lock = deviceLock();
    QStringList reasons;
    QString firstFailure;
    for (int channel : channels) {
        const bool ok = write(channel);
        // A failure always has a reason, so that an empty entry means taken.
        reasons.append(ok ? QString() : lastError().isEmpty() ? QStringLiteral("failed") : lastError());
        if (!ok && firstFailure.isEmpty())
            firstFailure = reasons.last();
    }
    if (firstFailure.isEmpty())
        succeed();
    else
        fail(firstFailure);
    return reasons;
}

QStringList BaseModule::switchChannels(const QList<int>& channels, SwitchAction action)
{
    return eachChannel(channels, [this, action](int channel) {
        switch (action) {
        case SwitchAction::On:
            return setChannelOn(channel);
        case SwitchAction::Off:
            return setChannelOff(channel);
        case SwitchAction::EmergencyOff:
            return setChannelEmergencyOff(channel);
        case SwitchAction::ClearEmergencyOff:
            return clearChannelEmergencyOff(channel);
        case SwitchAction::ClearEvents:
            return clearChannelEventStatus(channel);
        }
        return false;
    });
}

QStringList BaseModule::setChannelsValue(const QList<int>& channels, SetQuantity quantity, float value)
{
    return eachChannel(channels, [this, quantity, value](int channel) {
        return quantity == SetQuantity::Voltage ? setChannelVoltageSet(channel, value)
                                                : setChannelCurrentSet(channel, value);
    });
}

JournalWrite BaseModule::journalPlace()
{
    JournalWrite place;
    place.slot = address();
    place.serialNumber = serialNumber();
    return place;
}

void BaseModule::journalRefusal(int channel, const QString& quantity, const QString& value, const QString& reason)
{
    JournalWrite write = journalPlace();
    write.channel = JournalWrite::channelText(channel);
    write.quantity = quantity;
    write.value = value;
    write.result = QStringLiteral("refused: ") + reason;
    WriteJournal::instance().append(write);
}

JournalWrite BaseModule::journalSent(int channel, const char* quantity, const QString& value)
{
    JournalWrite write = journalPlace();
    write.channel = JournalWrite::channelText(channel);
    write.quantity = QString::fromUtf8(quantity);
    write.value = value;
    WriteJournal::instance().sent(&write);
    return write;
}

bool BaseModule::journalResult(JournalWrite entry, bool ok)
{
    entry.result = ok ? QStringLiteral("ok") : lastError();
    WriteJournal::instance().finished(entry);
    return ok;
}

double BaseModule::amperesPerCurrentUnit(int currentUnitIndex)
{
    switch (currentUnitIndex) {
    case 0:
        return 1.0e-9;
    case 1:
        return 1.0e-6;
    case 2:
        return 0.001;
    default:
        return 1.0;
    }
}

int BaseModule::currentUnitIndexOf(const QString& unit)
{
    if (unit == QLatin1String("nA"))
        return 0;
    if (unit == QLatin1String("uA") || unit == microAmpereUnit())
        return 1;
    if (unit == QLatin1String("mA"))
        return 2;
    return 3;
}

QString BaseModule::microAmpereUnit()
{
    return QString(QChar(0x00B5)) + QLatin1Char('A');
}

double BaseModule::voltageToVolts(double displayValue) const
{
    return m_voltageInKilovolts ? displayValue * voltsPerKilovolt : displayValue;
}

double BaseModule::voltageFromVolts(double volts) const
{
    return m_voltageInKilovolts ? volts / voltsPerKilovolt : volts;
}

double BaseModule::currentToAmperes(double displayValue) const
{
    return displayValue * amperesPerCurrentUnit(m_currentUnitIndex);
}

double BaseModule::currentFromAmperes(double amperes) const
{
    return amperes / amperesPerCurrentUnit(m_currentUnitIndex);
}

int BaseModule::deviceClass()
{
    return m_deviceClass;
}

void BaseModule::setDeviceClass(QString firmwareName)
{
    m_deviceClass = ModuleTypes::deviceClassOf(firmwareName);
}

void BaseModule::setFirmwareName(int deviceClass)
{
    if (deviceClass == 0 || !m_firmwareName.isEmpty())
        return;
    const QString name = ModuleTypes::nameOf(deviceClass);
    m_firmwareName = name.isEmpty() ? tr("Device Class %1").arg(deviceClass) : name;
}

BaseModule::ModuleConnectionState BaseModule::connectionState()
{
    return m_connectionState;
}

void BaseModule::setConnectionState(ModuleConnectionState value)
{
    m_connectionState = value;
}

QString BaseModule::firmwareName()
{
    return m_firmwareName;
}

bool BaseModule::currentControl()
{
    return true;
}

bool BaseModule::setAdjustment(bool)
{
    return notOffered();
}

bool BaseModule::adjustment()
{
    return false;
}

quint16 BaseModule::baseAddress()
{
    return 0;
}

void BaseModule::setBaseAddress(quint16)
{
}

bool BaseModule::fineAdjustmentOn()
{
    return true;
}

bool BaseModule::setFineAdjustmentOn(bool)
{
    return notOffered();
}

bool BaseModule::setAllChannelsDelayedTripAction(OutputSupervisionAction, int)
{
    return notOffered();
}

bool BaseModule::setAllChannelsInhibitAction(OutputSupervisionAction)
{
    return notOffered();
}

bool BaseModule::setChannelExternalMeasurementEnabled(int, bool)
{
    return notOffered();
}

bool BaseModule::setChannelRippleMeasurementEnabled(int, bool)
{
    return notOffered();
}

bool BaseModule::setChannelBothMeasurementsEnabled(int, bool)
{
    return notOffered();
}

bool BaseModule::doMultiplex()
{
    return notOffered();
}

bool BaseModule::setResistor(int)
{
    return notOffered();
}

int BaseModule::resistor()
{
    return 0;
}

bool BaseModule::channelDelayedTripEnabled(int)
{
    return false;
}

bool BaseModule::channelDelayedTripRampDown(int)
{
    return false;
}

int BaseModule::channelDelayedTripTime(int)
{
    return 0;
}

bool BaseModule::setChannelDelayedTripAction(int, OutputSupervisionAction, int)
{
    return notOffered();
}

BaseModule::OutputSupervisionAction BaseModule::channelInhibitAction(int)
{
    return IgnoreFailure;
}

bool BaseModule::setChannelInhibitAction(int, OutputSupervisionAction)
{
    return notOffered();
}

BaseModule::CurrentMeasurementRange BaseModule::channelCurrentMeasurementRange(int)
{
    return CurrentMeasurementRangeHigh;
}

bool BaseModule::useControllerUnits()
{
    return m_useControllerUnits;
}

void BaseModule::setUseControllerUnits(bool controllerUnits)
{
    m_useControllerUnits = controllerUnits;
}

QString BaseModule::formatVoltage(double value)
{
    return QStringLiteral("%L1").arg(value, 0, 'f', voltagePrecision(), QLatin1Char(' '));
}

QString BaseModule::formatVoltageUnit(double value)
{
    const QString unit = voltageUnit(0);
    return QStringLiteral("%1 %2").arg(formatVoltage(value), unit);
}

QString BaseModule::voltageUnit(int)
{
    return m_voltageInKilovolts ? QStringLiteral("kV") : QStringLiteral("V");
}

void BaseModule::setVoltageUnit(QString unit)
{
    m_voltageInKilovolts = (unit == QLatin1String("kV"));
}

int BaseModule::voltagePrecision()
{
    return m_voltagePrecision;
}

void BaseModule::setVoltagePrecision(int precision)
{
    m_voltagePrecision = precision;
}

QString BaseModule::formatCurrent(double value)
{
    return QStringLiteral("%L1").arg(value, 0, 'f', currentPrecision(), QLatin1Char(' '));
}

QString BaseModule::formatCurrentUnit(double value)
{
    const QString unit = currentUnit(0);
    return QStringLiteral("%1 %2").arg(formatCurrent(value), unit);
}

QString BaseModule::currentUnit(int)
{
    switch (m_currentUnitIndex) {
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

void BaseModule::setCurrentUnit(QString unit)
{
    m_currentUnitIndex = currentUnitIndexOf(unit);
}

int BaseModule::currentPrecision()
{
    return m_currentPrecision;
}

void BaseModule::setCurrentPrecision(int precision)
{
    m_currentPrecision = precision;
}

quint32 BaseModule::GetModuleIlkOutStatus()
{
    return 0;
}

quint32 BaseModule::GetModuleIlkOutControl()
{
    return 0;
}

bool BaseModule::SetModuleIlkOutControl(quint32)
{
    return notOffered();
}

quint32 BaseModule::GetModuleIlkOutCount()
{
    return 0;
}

quint32 BaseModule::GetModuleIlkOutLastTrigger()
{
    return 0;
}

quint32 BaseModule::GetModuleIlkOutChnActualActive()
{
    return 0;
}

quint32 BaseModule::GetModuleIlkOutChnEverTriggered()
{
    return 0;
}

bool BaseModule::setChannelVoltageNominal(int, float)
{
    return notOffered();
}

bool BaseModule::setChannelCurrentNominal(int, float)
{
    return notOffered();
}

bool BaseModule::setSpecialControlCommand(quint32)
{
    return notOffered();
}

quint32 BaseModule::specialControlCommand()
{
    return 0;
}

quint32 BaseModule::specialControlStatus()
{
    return 0;
}

bool BaseModule::sendHexLine(QByteArray)
{
    return notOffered();
}

bool BaseModule::programBaseAddress(quint16)
{
    return notOffered();
}

quint16 BaseModule::verifyBaseAddress()
{
    return 0;
}
