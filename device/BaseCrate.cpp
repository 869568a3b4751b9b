#include "device/BaseCrate.h"

BaseCrate::~BaseCrate() = default;

bool BaseCrate::lastReadFailed()
{
    return false;
}

bool BaseCrate::readPowerOn(bool* on)
{
    const bool value = powerOn();
    if (lastReadFailed())
        return fail(QStringLiteral("no answer"));
    *on = value;
    return succeed();
}

QString BaseCrate::lastError()
{
    return m_lastErrors.reason();
}

bool BaseCrate::succeed()
{
    return m_lastErrors.succeed();
}

bool BaseCrate::fail(const QString& reason)
{
    return m_lastErrors.fail(reason);
}

bool BaseCrate::reports(Quantity) const
{
    return true;
}

CrateReading BaseCrate::read()
{
    // lastReadFailed() tells only of the latest read: look after each one.
    bool failed = false;
    const auto checked = [&](auto value) {
        failed = lastReadFailed() || failed;
        return value;
    };
    CrateReading reading;
    reading.serialNumber = serialNumber();
    reading.firmwareRelease = firmwareRelease();
    reading.supply5V = checked(supply5V());
    reading.supply24V = checked(supply24V());
    reading.battery24V = checked(battery24V());
    reading.temperatureBackPlane = checked(temperatureBackPlane());
    reading.temperaturePowerSupply = checked(temperaturePowerSupply());
    reading.fanSpeed = checked(fanSpeed());
    reading.status = checked(status());
    reading.powerOn = checked(powerOn());
    reading.valid = !failed;
    return reading;
}

JournalWrite BaseCrate::journalSent(const QString& crateAddress, const char* quantity, const QString& value)
{
    JournalWrite write;
    write.crateAddress = crateAddress;
    write.serialNumber = serialNumber();
    write.channel = JournalWrite::channelText(JournalWrite::crateWide);
    write.quantity = QString::fromUtf8(quantity);
    write.value = value;
    WriteJournal::instance().sent(&write);
    return write;
}

void BaseCrate::journalResult(JournalWrite entry, const QString& reason)
{
    entry.result = reason.isEmpty() ? QStringLiteral("ok") : reason;
    WriteJournal::instance().finished(entry);
}
