#include "ModuleProfile.h"

#include "device/BaseModule.h"

#include <QHash>
#include <QLocale>
#include <QRegularExpression>
#include <QSettings>
#include <QTemporaryFile>

#include <cmath>
#include <cstdio>

namespace {

const QString moduleGroup = QStringLiteral("Module");

QString channelGroup(int channel)
{
    return QStringLiteral("Channel%1").arg(channel);
}

// Upper-case digits, lower-case prefix: "0x0044".
QString hexWord(quint32 value, int digits)
{
    return QStringLiteral("0x") + QStringLiteral("%1").arg(value, digits, 16, QLatin1Char('0')).toUpper();
}

QString lowerHex(quint32 value, int digits)
{
    return QStringLiteral("0x%1").arg(value, digits, 16, QLatin1Char('0'));
}

QString shortest(double value)
{
    return QString::number(value, 'g', QLocale::FloatingPointShortest);
}

// Digits of `text` in `base` (no sign, no blanks); false when there is none or one is invalid.
bool parseDigits(const QString& text, int base, quint32* value)
{
    if (text.isEmpty())
        return false;
    quint64 result = 0;
    for (QChar c : text) {
        const char l = c.toLower().toLatin1();
        const int digit = (l >= '0' && l <= '9') ? l - '0' : (l >= 'a' && l <= 'f') ? l - 'a' + 10 : -1;
        if (digit < 0 || digit >= base)
            return false;
        result = result * quint64(base) + quint64(digit);
        if (result > 0xFFFFFFFFull)
            return false;
    }
    *value = quint32(result);
    return true;
}

double voltsPer(const QString& storedUnit)
{
    return storedUnit == QLatin1String("kV") ? BaseModule::voltsPerKilovolt : 1.0;
}

double amperesPer(const QString& storedUnit)
{
    return BaseModule::amperesPerCurrentUnit(BaseModule::currentUnitIndexOf(storedUnit));
}

// The display form of a stored unit (micro sign for "uA").
QString shownUnit(const QString& storedUnit)
{
    return storedUnit == QLatin1String("uA") ? BaseModule::microAmpereUnit() : storedUnit;
}

QString text(const QSettings& settings, const QString& key)
{
    const QVariant value = settings.value(key);
    return value.isValid() ? value.toString().trimmed() : QString();
}

} // namespace

quint32 ModuleProfile::parsePrefixed(const QString& text)
{
    quint32 value = 0;
    const QString t = text.trimmed();
    bool ok = false;
    if (t.startsWith(QLatin1String("0x"), Qt::CaseInsensitive))
        ok = parseDigits(t.mid(2), 16, &value);
    else if (t.startsWith(QLatin1Char('0')))
        ok = parseDigits(t, 8, &value);
    else
        ok = parseDigits(t, 10, &value);
    return ok ? value : 0;
}

quint32 ModuleProfile::parseDecimal(const QString& text)
{
    quint32 value = 0;
    return parseDigits(text.trimmed(), 10, &value) ? value : 0;
}

double ModuleProfile::parseFloat(const QString& text)
{
    bool ok = false;
    const double value = QLocale::c().toDouble(text.trimmed(), &ok);
    return ok && std::isfinite(value) ? value : 0.0;
}

QString ModuleProfile::formatFloat(double value, int minDecimals)
{
    int decimals = minDecimals;
    if (value != 0.0 && std::isfinite(value)) {
        // Six significant digits: as many decimals as the leading digit lies below the fifth place.
        const int leading = int(std::floor(std::log10(std::fabs(value))));
        decimals = qBound(minDecimals, 5 - leading, 20);
    }
    return QString::number(value, 'f', decimals);
}

QString ModuleProfile::storedVoltageUnit(const QString& unit)
{
    const QString t = unit.trimmed();
    if (t == QLatin1String("V") || t == QLatin1String("kV"))
        return t;
    return QString();
}

QString ModuleProfile::storedCurrentUnit(const QString& unit)
{
    const QString t = unit.trimmed();
    if (t == QLatin1String("uA") || t == BaseModule::microAmpereUnit() || t == QStringLiteral("\u03BCA"))
        return QStringLiteral("uA");
    if (t == QLatin1String("nA") || t == QLatin1String("mA") || t == QLatin1String("A"))
        return t;
    return QString();
}

ModuleProfile ModuleProfile::fromModule(BaseModule* module, const std::function<void()>& betweenReads)
{
    // Each read is one request to the crate; the caller may process events between them.
    const auto read = [&](auto value) {
        if (betweenReads)
            betweenReads();
        return value;
    };
    ModuleProfile p;
    p.voltageUnit = storedVoltageUnit(module->voltageUnit(0));
    p.currentUnit = storedCurrentUnit(module->currentUnit(0));
    p.control = quint16(read(module->control()));
    p.eventMask = read(module->eventMask());
    p.eventChannelMask = read(module->eventChannelMask());
    p.eventGroupMask = read(module->eventGroupMask());
    p.restartTimeMs = read(module->restartTime());
    p.adcSamplesPerSecond = read(module->adcSamplesPerSecond());
    p.digitalFilter = read(module->digitalFilter());
    p.voltageRampSpeedPercentPerSecond = read(module->voltageRampSpeed());
    p.currentRampSpeedPercentPerSecond = read(module->currentRampSpeed());
    const int count = module->channelNumber();
    p.channels.resize(qMax(0, count));
    for (int n = 0; n < p.channels.size(); ++n) {
        Channel& c = p.channels[n];
        c.control = read(module->channelControl(n));
        c.eventMask = read(module->channelEventMask(n));
        c.voltageSet = read(module->channelVoltageSet(n));
        c.currentSet = read(module->channelCurrentSet(n));
        c.voltageInterlockMinSet = read(module->channelVoltageInterlockMinSet(n));
        c.voltageInterlockMaxSet = read(module->channelVoltageInterlockMaxSet(n));
        c.currentInterlockMinSet = read(module->channelCurrentInterlockMinSet(n));
        c.currentInterlockMaxSet = read(module->channelCurrentInterlockMaxSet(n));
        c.voltageNominal = read(module->channelVoltageNominal(n));
        c.currentNominal = read(module->channelCurrentNominal(n));
    }
    return p;
}

bool ModuleProfile::save(const QString& fileName) const
{
    // QSettings does not notice a write that ends early (a full disk truncates its file and it
    // still reports success). So the profile is written into a copy beside the file, read back
    // key by key, and only a complete copy replaces the file.
    QTemporaryFile copy(fileName + QStringLiteral(".XXXXXX"));
    if (!copy.open())
        return false;
    QFile old(fileName);
    if (old.exists()) {
        if (!old.open(QIODevice::ReadOnly))
            return false;
        const QByteArray content = old.readAll();
        if (copy.write(content) != content.size() || !copy.flush())
            return false;
    }
    copy.close();

    QHash<QString, QString> expected;
    {
        QSettings settings(copy.fileName(), QSettings::IniFormat);
        if (settings.status() != QSettings::NoError)
            return false;
        const auto set = [&](const QString& key, const QString& value) {
            settings.setValue(key, value);
            expected.insert(key, value);
        };
        const auto setNumber = [&](const QString& key, quint32 value) {
            settings.setValue(key, uint(value));
            expected.insert(key, QString::number(value));
        };
        const QString m = moduleGroup + QLatin1Char('/');
        set(m + QStringLiteral("Control"), hexWord(control, 4));
        set(m + QStringLiteral("EventMask"), hexWord(eventMask, 4));
        set(m + QStringLiteral("EventChannelMask"), hexWord(eventChannelMask, 8));
        set(m + QStringLiteral("EventGroupMask"), hexWord(eventGroupMask, 8));
        setNumber(m + QStringLiteral("RestartTime"), restartTimeMs);
        setNumber(m + QStringLiteral("AdcSamples"), adcSamplesPerSecond);
        setNumber(m + QStringLiteral("DigitalFilter"), digitalFilter);
        set(m + QStringLiteral("VoltageRampSpeed"), QString::number(voltageRampSpeedPercentPerSecond, 'f', 3));
        set(m + QStringLiteral("CurrentRampSpeed"), QString::number(currentRampSpeedPercentPerSecond, 'f', 3));
        set(m + QStringLiteral("VoltageUnit"), voltageUnit);
        set(m + QStringLiteral("CurrentUnit"), currentUnit);

        for (int n = 0; n < channels.size(); ++n) {
            const Channel& c = channels.at(n);
            const QString g = channelGroup(n) + QLatin1Char('/');
            set(g + QStringLiteral("Control"), hexWord(c.control, 4));
            set(g + QStringLiteral("EventMask"), hexWord(c.eventMask, 4));
            set(g + QStringLiteral("VoltageSet"), formatFloat(c.voltageSet, 3));
            set(g + QStringLiteral("CurrentSet"), formatFloat(c.currentSet, 6));
            set(g + QStringLiteral("VoltageIlkMinSet"), formatFloat(c.voltageInterlockMinSet, 3));
            set(g + QStringLiteral("VoltageIlkMaxSet"), formatFloat(c.voltageInterlockMaxSet, 3));
            set(g + QStringLiteral("CurrentIlkMinSet"), formatFloat(c.currentInterlockMinSet, 6));
            set(g + QStringLiteral("CurrentIlkMaxSet"), formatFloat(c.currentInterlockMaxSet, 6));
            set(g + QStringLiteral("VoltageMaxSet"), formatFloat(c.voltageNominal, 3));
            set(g + QStringLiteral("CurrentMaxSet"), formatFloat(c.currentNominal, 6));
        }

        // Channel groups of a bigger module saved here before would be loaded as this module's.
        static const QRegularExpression channelName(QStringLiteral("^Channel(\\d+)$"));
        const QStringList groups = settings.childGroups();
        for (const QString& group : groups) {
            const QRegularExpressionMatch match = channelName.match(group);
            if (match.hasMatch() && match.captured(1).toLongLong() >= channels.size())
                settings.remove(group);
        }
        // Whatever else the file held stays, and must survive as well.
        const QStringList keys = settings.allKeys();
        for (const QString& key : keys) {
            if (!expected.contains(key))
                expected.insert(key, settings.value(key).toString());
        }
        settings.sync();
        if (settings.status() != QSettings::NoError)
            return false;
    }

    const QFileDevice::Permissions readable =
        QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadGroup | QFileDevice::ReadOther;
    if (!QFile::setPermissions(copy.fileName(), old.exists() ? old.permissions() : readable))
        return false;
    const QSettings written(copy.fileName(), QSettings::IniFormat);
    if (written.status() != QSettings::NoError || written.allKeys().size() != expected.size())
        return false;
    for (auto it = expected.cbegin(); it != expected.cend(); ++it) {
        if (written.value(it.key()).toString() != it.value())
            return false;
    }
    // Replaces the old file in one step: readers see the old profile or the new one.
    if (std::rename(QFile::encodeName(copy.fileName()).constData(), QFile::encodeName(fileName).constData()) != 0)
        return false;
    copy.setAutoRemove(false);
    return true;
}

ModuleProfile ModuleProfile::load(const QString& fileName, int channelCount)
{
    const QSettings settings(fileName, QSettings::IniFormat);
    ModuleProfile p;
    const auto prefixed = [&](const QString& key, quint32 fallback) {
        const QString t = text(settings, key);
        return settings.contains(key) ? parsePrefixed(t) : fallback;
    };
    const auto decimal = [&](const QString& key, quint32 fallback) {
        return settings.contains(key) ? parseDecimal(text(settings, key)) : fallback;
    };
    const auto floating = [&](const QString& key, double fallback) {
        return settings.contains(key) ? parseFloat(text(settings, key)) : fallback;
    };

    const QString m = moduleGroup + QLatin1Char('/');
    p.control = quint16(prefixed(m + QStringLiteral("Control"), 0));
    p.eventMask = prefixed(m + QStringLiteral("EventMask"), 0);
    p.eventChannelMask = prefixed(m + QStringLiteral("EventChannelMask"), 0);
    p.eventGroupMask = prefixed(m + QStringLiteral("EventGroupMask"), 0);
    p.restartTimeMs = decimal(m + QStringLiteral("RestartTime"), 0);
    p.adcSamplesPerSecond = decimal(m + QStringLiteral("AdcSamples"), 500);
    p.digitalFilter = decimal(m + QStringLiteral("DigitalFilter"), 64);
    p.voltageRampSpeedPercentPerSecond = floating(m + QStringLiteral("VoltageRampSpeed"), 1.0);
    p.currentRampSpeedPercentPerSecond = floating(m + QStringLiteral("CurrentRampSpeed"), 50.0);
    p.voltageUnit = storedVoltageUnit(text(settings, m + QStringLiteral("VoltageUnit")));
    p.currentUnit = storedCurrentUnit(text(settings, m + QStringLiteral("CurrentUnit")));
    if (!p.recordsUnits())
        p.voltageUnit = p.currentUnit = QString(); // half a record says nothing reliable

    p.channels.resize(qMax(0, channelCount));
    for (int n = 0; n < p.channels.size(); ++n) {
        const QString g = channelGroup(n) + QLatin1Char('/');
        Channel& c = p.channels[n];
        c.control = prefixed(g + QStringLiteral("Control"), 0);
        c.eventMask = prefixed(g + QStringLiteral("EventMask"), 0);
        c.voltageSet = floating(g + QStringLiteral("VoltageSet"), 0);
        c.currentSet = floating(g + QStringLiteral("CurrentSet"), 0);
        c.voltageInterlockMinSet = floating(g + QStringLiteral("VoltageIlkMinSet"), 0);
        c.voltageInterlockMaxSet = floating(g + QStringLiteral("VoltageIlkMaxSet"), 0);
        c.currentInterlockMinSet = floating(g + QStringLiteral("CurrentIlkMinSet"), 0);
        c.currentInterlockMaxSet = floating(g + QStringLiteral("CurrentIlkMaxSet"), 0);
        c.voltageNominal = floating(g + QStringLiteral("VoltageMaxSet"), 0);
        c.currentNominal = floating(g + QStringLiteral("CurrentMaxSet"), 0);
    }
    return p;
}

ModuleProfile ModuleProfile::convertedTo(const QString& toVoltageUnit, const QString& toCurrentUnit) const
{
    ModuleProfile p = *this;
    const QString voltageTo = storedVoltageUnit(toVoltageUnit);
    const QString currentTo = storedCurrentUnit(toCurrentUnit);
    if (!recordsUnits() || voltageTo.isEmpty() || currentTo.isEmpty()) {
        p.voltageUnit = voltageTo;
        p.currentUnit = currentTo;
        return p;
    }
    const double v = voltsPer(voltageUnit) / voltsPer(voltageTo);
    const double i = amperesPer(currentUnit) / amperesPer(currentTo);
    // Twelve significant digits drop the binary dust of the factor (0.003 A is 3 mA, not
    // 3.0000000000000004 mA); the module takes single precision anyway.
    const auto scaled = [](double value, double factor) { return QString::number(value * factor, 'g', 12).toDouble(); };
    for (Channel& c : p.channels) {
        for (double* value : {&c.voltageSet, &c.voltageInterlockMinSet, &c.voltageInterlockMaxSet, &c.voltageNominal})
            *value = scaled(*value, v);
        for (double* value : {&c.currentSet, &c.currentInterlockMinSet, &c.currentInterlockMaxSet, &c.currentNominal})
            *value = scaled(*value, i);
    }
    p.voltageUnit = voltageTo;
    p.currentUnit = currentTo;
    return p;
}

QStringList ModuleProfile::previewLines(
    const QString& fileName, const QString& toVoltageUnit, const QString& toCurrentUnit) const
{
    const ModuleProfile p = convertedTo(toVoltageUnit, toCurrentUnit);
    const QString vu = shownUnit(p.voltageUnit.isEmpty() ? toVoltageUnit : p.voltageUnit);
    const QString cu = shownUnit(p.currentUnit.isEmpty() ? toCurrentUnit : p.currentUnit);
    QStringList lines;
    lines << QStringLiteral("Using profile from file %1\n").arg(fileName);
    if (!recordsUnits()) {
        lines << QStringLiteral("Warning: the profile records no units; its voltages are taken as %1 and its "
                                "currents as %2, the module's display units now.")
                     .arg(vu, cu);
    } else if (voltageUnit != p.voltageUnit || currentUnit != p.currentUnit) {
        lines << QStringLiteral("Voltages converted from %1 to %2, currents from %3 to %4.")
                     .arg(shownUnit(voltageUnit), vu, shownUnit(currentUnit), cu);
    }

    const QString m = moduleGroup;
    lines << QStringLiteral("%1.Control\t\t%2").arg(m, lowerHex(p.control, 4))
          << QStringLiteral("%1.EventMask\t\t%2").arg(m, lowerHex(p.eventMask, 4))
          << QStringLiteral("%1.EventChannelMask\t\t%2").arg(m, lowerHex(p.eventChannelMask, 8))
          << QStringLiteral("%1.EventGroupMask\t\t%2").arg(m, lowerHex(p.eventGroupMask, 8))
          << QStringLiteral("%1.RestartTime (ms)\t\t%2").arg(m).arg(p.restartTimeMs)
          << QStringLiteral("%1.AdcSamples (1/s)\t\t%2").arg(m).arg(p.adcSamplesPerSecond)
          << QStringLiteral("%1.DigitalFilter\t\t%2").arg(m).arg(p.digitalFilter)
          << QStringLiteral("%1.VoltageRampSpeed (%)\t%2").arg(m, shortest(p.voltageRampSpeedPercentPerSecond))
          << QStringLiteral("%1.CurrentRampSpeed (%)\t%2").arg(m, shortest(p.currentRampSpeedPercentPerSecond));

    for (int n = 0; n < p.channels.size(); ++n) {
        const Channel& c = p.channels.at(n);
        const QString g = channelGroup(n);
        lines << QString();
        lines << QStringLiteral("%1.Control\t\t%2").arg(g, lowerHex(c.control, 4))
              << QStringLiteral("%1.EventMask\t\t%2").arg(g, lowerHex(c.eventMask, 4))
              << QStringLiteral("%1.VoltageSet (%2)\t\t%3").arg(g, vu, shortest(c.voltageSet))
              << QStringLiteral("%1.CurrentSet (%2)\t\t%3").arg(g, cu, shortest(c.currentSet))
              << QStringLiteral("%1.VoltageIlkMinSet (%2)\t%3").arg(g, vu, shortest(c.voltageInterlockMinSet))
              << QStringLiteral("%1.VoltageIlkMaxSet (%2)\t%3").arg(g, vu, shortest(c.voltageInterlockMaxSet))
              << QStringLiteral("%1.CurrentIlkMinSet (%2)\t%3").arg(g, cu, shortest(c.currentInterlockMinSet))
              << QStringLiteral("%1.CurrentIlkMaxSet (%2)\t%3").arg(g, cu, shortest(c.currentInterlockMaxSet))
              << QStringLiteral("%1.VoltageMaxSet (%2)\t\t%3").arg(g, vu, shortest(c.voltageNominal))
              << QStringLiteral("%1.CurrentMaxSet (%2)\t%3").arg(g, cu, shortest(c.currentNominal));
    }
    return lines;
}
