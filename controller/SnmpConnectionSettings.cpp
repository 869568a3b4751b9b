#include "controller/SnmpConnectionSettings.h"

#include <QCoreApplication>
#include <QSettings>

namespace {

struct FieldInfo
{
    const char* key;
    const char* variable;
    int minimum; // numbers only
    int maximum;
    bool number;
};

constexpr FieldInfo fields[SnmpConnectionSettings::fieldCount] = {
    {"Snmp/Port", "TESMAR_SNMP_PORT", SnmpConnectionSettings::minimumPort, SnmpConnectionSettings::maximumPort, true},
    {"Snmp/ReadCommunity", "TESMAR_SNMP_READ_COMMUNITY", 0, 0, false},
    {"Snmp/WriteCommunity", "TESMAR_SNMP_WRITE_COMMUNITY", 0, 0, false},
    {"Snmp/TimeoutMs", "TESMAR_SNMP_TIMEOUT_MS", SnmpConnectionSettings::minimumTimeoutMs,
        SnmpConnectionSettings::maximumTimeoutMs, true},
    {"Snmp/Retries", "TESMAR_SNMP_RETRIES", SnmpConnectionSettings::minimumRetries, SnmpConnectionSettings::maximumRetries,
        true},
};

// The library's rule: the whole text a decimal number, no sign, no blanks.
bool isDecimal(const QString& text)
{
    if (text.isEmpty() || text.size() > 9)
        return false;
    for (const QChar c : text) {
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return false;
    }
    return true;
}

QString tr(const char* text)
{
    return QCoreApplication::translate("SnmpConnectionSettings", text);
}

} // namespace

QString SnmpConnectionSettings::key(Field field)
{
    return QLatin1String(fields[field].key);
}

QString SnmpConnectionSettings::environmentVariable(Field field)
{
    return QLatin1String(fields[field].variable);
}

QString SnmpConnectionSettings::environmentOverride(Field field)
{
    // The library's rules: any community that is not empty, a number only when it is valid.
    const QString text = qEnvironmentVariable(fields[field].variable);
    if (!fields[field].number)
        return text;
    return problem(field, text).isEmpty() ? text : QString();
}

QString SnmpConnectionSettings::problem(Field field, const QString& text)
{
    const FieldInfo& info = fields[field];
    if (!info.number) {
        if (text.isEmpty())
            return tr("a community must not be empty");
        // Communities travel as plain octets; anything beyond printable ASCII would not be the
        // same community on the crate.
        for (const QChar c : text) {
            if (c.unicode() < 0x21 || c.unicode() > 0x7e)
                return tr("a community takes printable ASCII characters without blanks");
        }
        return QString();
    }
    if (!isDecimal(text) || text.toInt() < info.minimum || text.toInt() > info.maximum)
        return tr("must be a whole number from %1 to %2").arg(info.minimum).arg(info.maximum);
    return QString();
}

QString SnmpConnectionSettings::value(Field field) const
{
    switch (field) {
    case Port:
        return QString::number(port);
    case ReadCommunity:
        return readCommunity;
    case WriteCommunity:
        return writeCommunity;
    case TimeoutMs:
        return QString::number(timeoutMs);
    case Retries:
        return QString::number(retries);
    }
    return QString();
}

bool SnmpConnectionSettings::setValue(Field field, const QString& text)
{
    if (!problem(field, text).isEmpty())
        return false;
    switch (field) {
    case Port:
        port = text.toInt();
        break;
    case ReadCommunity:
        readCommunity = text;
        break;
    case WriteCommunity:
        writeCommunity = text;
        break;
    case TimeoutMs:
        timeoutMs = text.toInt();
        break;
    case Retries:
        retries = text.toInt();
        break;
    }
    return true;
}

SnmpConnectionSettings SnmpConnectionSettings::load(QSettings& settings)
{
    SnmpConnectionSettings result;
    for (int i = 0; i < fieldCount; ++i) {
        const Field field = Field(i);
        const QVariant stored = settings.value(key(field));
        if (!stored.isValid())
            continue;
        if (!result.setValue(field, stored.toString().trimmed()))
            qWarning("%s \"%s\" in the settings is not valid (%s); using %s", qPrintable(key(field)),
                qPrintable(stored.toString()), qPrintable(problem(field, stored.toString().trimmed())),
                qPrintable(result.value(field)));
    }
    return result;
}

void SnmpConnectionSettings::save(QSettings& settings) const
{
    settings.setValue(key(Port), port);
    settings.setValue(key(ReadCommunity), readCommunity);
    settings.setValue(key(WriteCommunity), writeCommunity);
    settings.setValue(key(TimeoutMs), timeoutMs);
    settings.setValue(key(Retries), retries);
}

bool SnmpConnectionSettings::operator==(const SnmpConnectionSettings& other) const
{
    return port == other.port && readCommunity == other.readCommunity && writeCommunity == other.writeCommunity
        && timeoutMs == other.timeoutMs && retries == other.retries;
}
