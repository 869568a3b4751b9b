#include "device/Resolution.h"

#include "device/BaseModule.h"

#include <QSettings>
#include <QStringList>
#include <QtGlobal>

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

// Decimals beyond this make the table's texts absurdly long (and huge counts stall or abort the
// number formatting), so a stored precision must lie in 0..maxPrecision.
constexpr int maxPrecision = 6;
constexpr int defaultPrecision = 2;

int precisionOrDefault(const QString& key, const QString& text)
{
    const int precision = toInt(text);
    if (precision >= 0 && precision <= maxPrecision)
        return precision;
    qWarning("resolution: %s=%s is not a precision from 0 to %d; using %d", qPrintable(key), qPrintable(text), maxPrecision,
        defaultPrecision);
    return defaultPrecision;
}

QString unitOrDefault(const QString& key, const QString& text, const QStringList& known, const QString& fallback)
{
    if (known.contains(text))
        return text;
    qWarning("resolution: %s=%s is not one of %s; using %s", qPrintable(key), qPrintable(text),
        qPrintable(known.join(QLatin1Char(' '))), qPrintable(fallback));
    return fallback;
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
    const QString defaultVoltageUnit = QStringLiteral("V");
    const QString defaultCurrentUnit = QStringLiteral("mA");
    m_voltageUnit = unitOrDefault(QLatin1String(keyVoltageUnit), lookup(QLatin1String(keyVoltageUnit), defaultVoltageUnit),
        {defaultVoltageUnit, QStringLiteral("kV")}, defaultVoltageUnit);
    m_voltagePrecision = precisionOrDefault(
        QLatin1String(keyVoltagePrecision), lookup(QLatin1String(keyVoltagePrecision), QString::number(defaultPrecision)));
    QString currentUnit = lookup(QLatin1String(keyCurrentUnit), defaultCurrentUnit);
    if (currentUnit == BaseModule::microAmpereUnit())
        currentUnit = storedMicroAmpere;
    m_currentUnit = unitOrDefault(QLatin1String(keyCurrentUnit), currentUnit,
        {QStringLiteral("nA"), storedMicroAmpere, defaultCurrentUnit, QStringLiteral("A")}, defaultCurrentUnit);
    m_currentPrecision = precisionOrDefault(
        QLatin1String(keyCurrentPrecision), lookup(QLatin1String(keyCurrentPrecision), QString::number(defaultPrecision)));
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
