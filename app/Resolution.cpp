#include "app/Resolution.h"

#include "device/BaseModule.h"

#include <QSettings>

namespace {

const char* const keyUseControllerUnits = "useControllerUnits";
const char* const keyVoltageUnit = "voltageUnit";
const char* const keyVoltagePrecision = "voltagePrecision";
const char* const keyCurrentUnit = "currentUnit";
const char* const keyCurrentPrecision = "currentPrecision";

const QString storedMicroAmpere = QStringLiteral("uA");

// Unconvertible text reads as 0.
int toInt(const QString& text)
{
    return text.toInt(nullptr, 10);
}

} // namespace

Resolution::Resolution(QObject* parent)
    : QObject(parent)
    , m_organisationName(QStringLiteral("Tesmar"))
    , m_applicationName(QStringLiteral("resolution"))
    , m_defaultGroupName(QStringLiteral("default"))
    , m_voltageUnit(QStringLiteral("V"))
    , m_currentUnit(QStringLiteral("mA"))
{
}

void Resolution::setSerialNumber(int value)
{
    m_serialNumber = value;
}

void Resolution::setFirmwareName(QString value)
{
    m_firmwareName = value;
}

QString Resolution::currentUnit() const
{
    return m_currentUnit == storedMicroAmpere ? BaseModule::microAmpereUnit() : m_currentUnit;
}

void Resolution::setCurrentUnit(const QString& unit)
{
    m_currentUnit = unit == BaseModule::microAmpereUnit() ? storedMicroAmpere : unit;
}

QString Resolution::groupName(int scope) const
{
    switch (scope) {
    case AllModules:
        return m_defaultGroupName;
    case FirmwareNameScope:
        return m_firmwareName;
    case SerialNumberScope:
        return QString::number(m_serialNumber);
    default:
        return QString();
    }
}

QString Resolution::lookup(const QString& key, const QString& fallback)
{
    QSettings settings(QSettings::IniFormat, QSettings::UserScope, m_organisationName, m_applicationName);
    for (int scope = SerialNumberScope; scope >= AllModules; --scope) {
        const QString group = groupName(scope);
        // An empty group name would read the file's top level, which belongs to no scope.
        if (group.isEmpty())
            continue;
        const QString text = settings.value(group + QLatin1Char('/') + key).toString();
        if (!text.isEmpty()) {
            m_scope = scope;
            return text;
        }
    }
    m_scope = AllModules;
    return fallback;
}

void Resolution::load()
{
    m_useControllerUnits = toInt(lookup(QLatin1String(keyUseControllerUnits), QStringLiteral("1")));
    m_voltageUnit = lookup(QLatin1String(keyVoltageUnit), QStringLiteral("V"));
    m_voltagePrecision = toInt(lookup(QLatin1String(keyVoltagePrecision), QStringLiteral("2")));
    m_currentUnit = lookup(QLatin1String(keyCurrentUnit), QStringLiteral("mA"));
    m_currentPrecision = toInt(lookup(QLatin1String(keyCurrentPrecision), QStringLiteral("2")));
}

bool Resolution::save(int scope)
{
    if (scope < AllModules || scope > SerialNumberScope || groupName(scope).isEmpty())
        return false;
    QSettings settings(QSettings::IniFormat, QSettings::UserScope, m_organisationName, m_applicationName);
    if (scope < m_scope) {
        const QString narrower = groupName(m_scope);
        if (!narrower.isEmpty())
            settings.remove(narrower);
    }
    m_scope = scope;
    settings.beginGroup(groupName(scope));
    settings.setValue(QLatin1String(keyUseControllerUnits), m_useControllerUnits);
    settings.setValue(QLatin1String(keyVoltageUnit), m_voltageUnit);
    settings.setValue(QLatin1String(keyVoltagePrecision), m_voltagePrecision);
    settings.setValue(QLatin1String(keyCurrentUnit), m_currentUnit);
    settings.setValue(QLatin1String(keyCurrentPrecision), m_currentPrecision);
    settings.endGroup();
    settings.sync();
    return settings.status() == QSettings::NoError;
}
