#include "device/SnmpCrate.h"
#include "device/ControllerLock.h"

#include "controller/SnmpController.h"

#include <QRegularExpression>

template <typename Entry, typename... Args>
auto SnmpCrate::read(Entry entry, Args... arguments)
{
    std::lock_guard<std::recursive_mutex> lock(ControllerLock::of(*m_controller));
    const auto value = m_controller->call(entry, arguments...);
    m_lastReadFailed = !m_controller->errorString().isEmpty();
    return value;
}

SnmpCrate::SnmpCrate(SnmpController* controller)
    : m_controller(controller)
{
    std::lock_guard<std::recursive_mutex> lock(ControllerLock::of(*m_controller));
    const char* description = read(&SnmpController::getSysDescr);
    if (!description)
        m_lastReadFailed = true;
    const Identity identity = parseSystemDescription(QString::fromLatin1(description ? description : ""));
    m_firmwareRelease = identity.firmwareRelease;
    m_serialNumber = identity.serialNumber;
}

SnmpCrate::Identity SnmpCrate::parseSystemDescription(const QString& description)
{
    static const QRegularExpression releasePattern(QStringLiteral("MPOD \\d+\\.\\d+\\.\\d+\\.\\d+"));
    static const QRegularExpression serialPattern(QStringLiteral("\\((\\d+),"));
    Identity identity;
    const QRegularExpressionMatch release = releasePattern.match(description);
    if (release.hasMatch())
        identity.firmwareRelease = release.captured(0);
    const QRegularExpressionMatch serial = serialPattern.match(description);
    if (serial.hasMatch())
        identity.serialNumber = serial.captured(1).toInt();
    return identity;
}

CrateReading SnmpCrate::read()
{
    bool answered = true;
    const auto checked = [&](auto value) {
        answered = m_controller->errorString().isEmpty() && answered;
        return value;
    };
    CrateReading reading;
    reading.serialNumber = serialNumber();
    reading.firmwareRelease = firmwareRelease();
    // Values an MPOD crate does not report stay 0; only the ones read decide validity.
    reading.supply24V = checked(supply24V());
    reading.fanSpeed = checked(fanSpeed());
    reading.powerOn = checked(powerOn());
    reading.valid = answered;
    return reading;
}

bool SnmpCrate::reports(Quantity quantity) const
{
    return quantity == Quantity::Supply24V || quantity == Quantity::FanSpeed;
}

float SnmpCrate::supply5V()
{
    return 0.0f;
}

float SnmpCrate::supply24V()
{
    return float(read(&SnmpController::getPsAuxVoltage, 4));
}

float SnmpCrate::battery24V()
{
    return 0.0f;
}

float SnmpCrate::temperatureBackPlane()
{
    return 0.0f;
}

float SnmpCrate::temperaturePowerSupply()
{
    return 0.0f;
}

int SnmpCrate::fanSpeed()
{
    return read(&SnmpController::getFanNominalSpeed);
}

bool SnmpCrate::setFanSpeed(int speed)
{
    std::lock_guard<std::recursive_mutex> lock(ControllerLock::of(*m_controller));
    const QString reason = journaled(crateAddress(), "fan speed", QStringLiteral("%1 rpm").arg(speed),
        [&] { return refusal(m_controller->call(&SnmpController::setFanNominalSpeed, speed)); });
    return reason.isEmpty() ? succeed() : fail(reason);
}

int SnmpCrate::fanStageBackPlane()
{
    return 0;
}

int SnmpCrate::fanStagePowerSupply()
{
    return 0;
}

int SnmpCrate::status()
{
    return 0;
}

bool SnmpCrate::acLinePower()
{
    return true;
}

bool SnmpCrate::powerOn()
{
    return read(&SnmpController::getMainSwitch) != 0;
}

bool SnmpCrate::readPowerOn(bool* on)
{
    std::lock_guard<std::recursive_mutex> lock(ControllerLock::of(*m_controller));
    const int value = read(&SnmpController::getMainSwitch);
    // This thread's own reason: another thread's reads cannot make this one look answered.
    const QString reason = m_controller->errorString();
    if (!reason.isEmpty())
        return fail(reason);
    *on = value != 0;
    return succeed();
}

bool SnmpCrate::setPowerOn(bool on)
{
    std::lock_guard<std::recursive_mutex> lock(ControllerLock::of(*m_controller));
    const QString reason = journaled(crateAddress(), "main switch", on ? QStringLiteral("on") : QStringLiteral("off"),
        [&] { return refusal(m_controller->call(&SnmpController::setMainSwitch, on ? 1 : 0)); });
    return reason.isEmpty() ? succeed() : fail(reason);
}

QString SnmpCrate::crateAddress()
{
    return JournalWrite::snmpCrateAddress(m_controller->address());
}

QString SnmpCrate::refusal(int libraryResult)
{
    if (libraryResult)
        return QString();
    const QString reason = m_controller->errorString();
    return reason.isEmpty() ? QStringLiteral("not confirmed by the crate") : reason;
}

int SnmpCrate::serialNumber()
{
    return m_serialNumber;
}

QString SnmpCrate::firmwareRelease()
{
    return m_firmwareRelease;
}

int SnmpCrate::bitRate()
{
    return 125;
}

bool SnmpCrate::alive()
{
    return true;
}

int SnmpCrate::alarmFlag()
{
    return 0;
}

QString SnmpCrate::alarmInformation()
{
    return QString();
}

float SnmpCrate::alarmValue()
{
    return 0.0f;
}

bool SnmpCrate::lastReadFailed()
{
    return m_lastReadFailed;
}
