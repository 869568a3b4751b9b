#include "device/CurrentAlarms.h"

#include <QSettings>

#include <cmath>

namespace {
const char* const organisationName = "Tesmar";
const char* const applicationName = "alarms";

QString key(int serialNumber, int channel, const char* name)
{
    return QStringLiteral("%1/channel%2/%3").arg(serialNumber).arg(channel).arg(QLatin1String(name));
}

// A stored number, or `fallback` (with a warning) when it is not a finite number >= 0.
double storedNumber(const QSettings& settings, const QString& name, double fallback)
{
    const QVariant stored = settings.value(name);
    if (!stored.isValid())
        return fallback;
    bool ok = false;
    const double value = stored.toString().trimmed().toDouble(&ok);
    if (ok && std::isfinite(value) && value >= 0)
        return value;
    qWarning("alarms: %s=%s is not a number of 0 or more; no limit", qPrintable(name), qPrintable(stored.toString()));
    return -1;
}
} // namespace

QVector<CurrentLimit> CurrentLimitSettings::load(int serialNumber, int channels)
{
    const QSettings settings(
        QSettings::IniFormat, QSettings::UserScope, QLatin1String(organisationName), QLatin1String(applicationName));
    QVector<CurrentLimit> limits(qMax(0, channels));
    for (int channel = 0; channel < limits.size(); ++channel) {
        const double limitA = storedNumber(settings, key(serialNumber, channel, "currentLimitAmperes"), 0);
        const double holdMs = storedNumber(settings, key(serialNumber, channel, "holdTimeMs"), 0);
        if (limitA > 0 && holdMs >= 0)
            limits[channel] = CurrentLimit{limitA, qint64(holdMs)};
    }
    return limits;
}

bool CurrentLimitSettings::save(int serialNumber, int channel, const CurrentLimit& limit)
{
    QSettings settings(
        QSettings::IniFormat, QSettings::UserScope, QLatin1String(organisationName), QLatin1String(applicationName));
    if (limit.isSet()) {
        settings.setValue(key(serialNumber, channel, "currentLimitAmperes"), limit.limitA);
        settings.setValue(key(serialNumber, channel, "holdTimeMs"), qMax<qint64>(0, limit.holdMs));
    } else {
        settings.remove(QStringLiteral("%1/channel%2").arg(serialNumber).arg(channel));
    }
    settings.sync();
    return settings.status() == QSettings::NoError;
}

CurrentAlarms::CurrentAlarms(int channels)
    : m_channels(qMax(0, channels))
{
}

void CurrentAlarms::setLimits(const QVector<CurrentLimit>& limits)
{
    for (int channel = 0; channel < m_channels.size(); ++channel)
        setLimit(channel, limits.value(channel));
}

void CurrentAlarms::setLimit(int channel, const CurrentLimit& limit)
{
    if (channel < 0 || channel >= m_channels.size() || m_channels.at(channel).limit == limit)
        return;
    m_channels[channel] = Channel();
    m_channels[channel].limit = limit;
}

CurrentLimit CurrentAlarms::limit(int channel) const
{
    return channel >= 0 && channel < m_channels.size() ? m_channels.at(channel).limit : CurrentLimit();
}

bool CurrentAlarms::update(qint64 atMs, const float* currentsA)
{
    // Not read for a while: what the currents did meanwhile is unknown.
    const bool unobserved = m_lastReadMs < 0 || atMs - m_lastReadMs > gapAfterMs;
    m_lastReadMs = atMs;
    bool fired = false;
    for (int index = 0; index < m_channels.size(); ++index) {
        Channel& c = m_channels[index];
        if (!c.limit.isSet())
            continue;
        const float current = currentsA[index];
        if (std::isnan(current)) {
            c.aboveSinceMs = -1;
            continue;
        }
        if (c.alarm)
            c.highestA = std::max(c.highestA, current);
        // Compared as the reading travels (single precision): a reading of exactly the limit is
        // not above it.
        if (current <= float(c.limit.limitA)) {
            c.aboveSinceMs = -1;
            c.armed = true;
            continue;
        }
        if (c.aboveSinceMs < 0 || unobserved)
            c.aboveSinceMs = atMs;
        if (c.armed && !c.alarm && atMs - c.aboveSinceMs >= c.limit.holdMs) {
            c.alarm = true;
            c.armed = false;
            c.firedAtMs = atMs;
            c.firedAtA = current;
            c.highestA = current;
            fired = true;
        }
    }
    return fired;
}

bool CurrentAlarms::anyAlarm() const
{
    for (const Channel& c : m_channels) {
        if (c.alarm)
            return true;
    }
    return false;
}

bool CurrentAlarms::acknowledge(int channel)
{
    if (!alarm(channel))
        return false;
    m_channels[channel].alarm = false;
    return true;
}
