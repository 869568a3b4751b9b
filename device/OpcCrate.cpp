#include "device/OpcCrate.h"
#include "device/ControllerLock.h"

#include "controller/OpcController.h"

#include <mutex>

OpcCrate::OpcCrate(OpcController* controller, const QString& name)
    : m_controller(controller)
    , m_prefix(name.endsWith(QLatin1Char('.')) ? name : name + QLatin1Char('.'))
{
}

QString OpcCrate::item(const char* suffix) const
{
    return m_prefix + QLatin1String(suffix);
}

template <typename Getter>
auto OpcCrate::readItem(Getter getter, const char* suffix)
{
    bool answered = false;
    const auto value = (m_controller->*getter)(item(suffix), &answered);
    m_lastReadFailed = !answered;
    return value;
}

float OpcCrate::supply5V()
{
    return readItem(&OpcController::getFloat, "Supply5V");
}

float OpcCrate::supply24V()
{
    return readItem(&OpcController::getFloat, "Supply24V");
}

float OpcCrate::battery24V()
{
    return readItem(&OpcController::getFloat, "Battery");
}

float OpcCrate::temperatureBackPlane()
{
    return readItem(&OpcController::getFloat, "TempBackPlane");
}

float OpcCrate::temperaturePowerSupply()
{
    return readItem(&OpcController::getFloat, "TempPowerSupply");
}

int OpcCrate::fanSpeed()
{
    return 0;
}

bool OpcCrate::setFanSpeed(int)
{
    return fail(QStringLiteral("not offered by this crate"));
}

int OpcCrate::fanStageBackPlane()
{
    return readItem(&OpcController::getByte, "FanStageBackPlane");
}

int OpcCrate::fanStagePowerSupply()
{
    return readItem(&OpcController::getByte, "FanStagePowerSupply");
}

int OpcCrate::status()
{
    return readItem(&OpcController::getByte, "Status");
}

bool OpcCrate::acLinePower()
{
    return readItem(&OpcController::getBool, "StatusACLinePower");
}

bool OpcCrate::powerOn()
{
    return readItem(&OpcController::getBool, "On");
}

bool OpcCrate::setPowerOn(bool on)
{
    std::lock_guard<std::recursive_mutex> lock(ControllerLock::of(*m_controller));
    const QString reason =
        journaled(m_controller->address(), "main switch", on ? QStringLiteral("on") : QStringLiteral("off"), [&] {
            // The write is confirmed by the crate's own reading of the switch afterwards.
            m_controller->setBool(item("On"), on);
            bool now = false;
            if (!readPowerOn(&now))
                return lastError();
            return now == on
                ? QString()
                : QStringLiteral("not taken (reads back %1)").arg(now ? QStringLiteral("on") : QStringLiteral("off"));
        });
    return reason.isEmpty() ? succeed() : fail(reason);
}

bool OpcCrate::readPowerOn(bool* on)
{
    bool answered = false;
    const bool value = m_controller->getBool(item("On"), &answered);
    m_lastReadFailed = !answered;
    if (!answered)
        return fail(QStringLiteral("no answer"));
    *on = value;
    return succeed();
}

int OpcCrate::serialNumber()
{
    bool isNumber = false;
    const int number = readItem(&OpcController::getString, "DeviceID").toInt(&isNumber);
    return isNumber ? number : 0;
}

QString OpcCrate::firmwareRelease()
{
    return readItem(&OpcController::getString, "SoftwareID");
}

int OpcCrate::bitRate()
{
    return readItem(&OpcController::getUnsignedShort, "BitRate");
}

bool OpcCrate::alive()
{
    return readItem(&OpcController::getBool, "Alive");
}

int OpcCrate::alarmFlag()
{
    return readItem(&OpcController::getBool, "AlarmFlag");
}

QString OpcCrate::alarmInformation()
{
    return readItem(&OpcController::getString, "AlarmInformation");
}

float OpcCrate::alarmValue()
{
    return readItem(&OpcController::getFloat, "AlarmValue");
}

bool OpcCrate::lastReadFailed()
{
    return m_lastReadFailed;
}
