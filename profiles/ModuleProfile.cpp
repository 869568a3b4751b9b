#include "ModuleProfile.h"

#include "device/BaseModule.h"
#include "device/ToolWindowReading.h"

#include <QFile>
#include <QHash>
#include <QLocale>
#include <QRegularExpression>
#include <QSettings>
#include <QTemporaryFile>

#include <cmath>
#include <cstdio>
#include <utility>

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
    // An unquoted comma makes QSettings read a list: "1,5" must stay the text it is, and fail.
    const QVariant value = settings.value(key);
    if (value.typeId() == QMetaType::QStringList)
        return value.toStringList().join(QLatin1Char(','));
    return value.isValid() ? value.toString().trimmed() : QString();
}

} // namespace

quint32 ModuleProfile::parsePrefixed(const QString& text, bool* ok)
{
    quint32 value = 0;
    const QString t = text.trimmed();
    bool converted = false;
    if (t.startsWith(QLatin1String("0x"), Qt::CaseInsensitive))
        converted = parseDigits(t.mid(2), 16, &value);
    else if (t.startsWith(QLatin1Char('0')))
        converted = parseDigits(t, 8, &value);
    else
        converted = parseDigits(t, 10, &value);
    if (ok)
        *ok = converted;
    return converted ? value : 0;
}

quint32 ModuleProfile::parseDecimal(const QString& text, bool* ok)
{
    quint32 value = 0;
    const bool converted = parseDigits(text.trimmed(), 10, &value);
    if (ok)
        *ok = converted;
    return converted ? value : 0;
}

double ModuleProfile::parseFloat(const QString& text, bool* ok)
{
    bool converted = false;
    const double value = QLocale::c().toDouble(text.trimmed(), &converted);
    converted = converted && std::isfinite(value);
    if (ok)
        *ok = converted;
    return converted ? value : 0.0;
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

bool ModuleProfile::readFromModule(BaseModule* module, ModuleProfile* profile, QString* error)
{
    using Quantity = BaseModule::Quantity;
    const auto failed = [&](const QString& what) {
        const QString reason = module->lastError();
        *error = QStringLiteral("%1 (%2)").arg(what, reason.isEmpty() ? QStringLiteral("no answer") : reason);
        return false;
    };
    ModuleProfile p;
    p.voltageUnit = storedVoltageUnit(module->voltageUnit(0));
    p.currentUnit = storedCurrentUnit(module->currentUnit(0));
    const QString m = moduleGroup + QLatin1Char('.');

    // Module words: the control word checked, the others as a group judged by the connection.
    if (module->reports(Quantity::ModuleControl)) {
        quint32 word = 0;
        if (!module->readControl(&word))
            return failed(m + QStringLiteral("Control"));
        p.control = quint16(word);
    } else {
        p.control = quint16(module->control());
    }
    ToolWindowReading::Groups groups;
    groups.moduleWords = true;
    groups.channelEventWords = module->reports(Quantity::ChannelEventMask);
    groups.bounds = true;
    const ToolWindowReading words = ToolWindowReading::read(*module, groups);
    const int channelCount = qMax(0, module->channelNumber());
    const bool moduleWordsRead = ToolWindowReading::readableGroups(*module, [] {
        ToolWindowReading::Groups g;
        g.moduleWords = true;
        return g;
    }()) > 0;
    if (moduleWordsRead && !words.moduleWordsValid)
        return failed(m + QStringLiteral("EventMask"));
    p.eventMask = moduleWordsRead ? words.eventMask : module->eventMask();
    p.eventChannelMask = moduleWordsRead ? words.eventChannelMask : module->eventChannelMask();
    p.eventGroupMask = moduleWordsRead ? words.eventGroupMask : module->eventGroupMask();
    p.restartTimeMs = moduleWordsRead ? words.restartTime : module->restartTime();
    if (groups.channelEventWords && !words.channelEventWordsValid)
        return failed(QStringLiteral("Channel0.EventMask"));
    const bool boundsRead = module->reports(Quantity::ChannelBounds);
    if (boundsRead && !words.boundsValid)
        return failed(QStringLiteral("Channel0.VoltageIlkMinSet"));

    // No checked read exists for these two: a module that answers them reports them, so the
    // connection right after them decides, as for the groups above.
    p.adcSamplesPerSecond = module->adcSamplesPerSecond();
    p.digitalFilter = module->digitalFilter();
    if (module->reports(Quantity::AdcSampleRate) && !module->connected())
        return failed(m + QStringLiteral("AdcSamples"));

    const ModuleReading values = module->readModuleValues(false, false);
    if (!values.rampSpeedsValid)
        return failed(m + QStringLiteral("VoltageRampSpeed"));
    p.voltageRampSpeedPercentPerSecond = values.voltageRampSpeed;
    // A module without current control has no current ramp: the file keeps the default.
    if (values.currentControl)
        p.currentRampSpeedPercentPerSecond = values.currentRampSpeed;

    const QVector<ChannelReading> channels = module->readChannels();
    p.channels.resize(channelCount);
    for (int n = 0; n < channelCount; ++n) {
        if (n >= channels.size() || !channels.at(n).complete)
            return failed(channelGroup(n) + QStringLiteral(".VoltageSet"));
        const ChannelReading& r = channels.at(n);
        Channel& c = p.channels[n];
        c.control = r.control;
        c.voltageSet = r.voltageSet;
        c.currentSet = r.currentSet;
        c.voltageNominal = r.voltageNominal;
        c.currentNominal = r.currentNominal;
        const auto at = [n](const QVector<quint32>& v) { return n < v.size() ? v.at(n) : 0u; };
        const auto atF = [n](const QVector<float>& v) { return n < v.size() ? double(v.at(n)) : 0.0; };
        c.eventMask = groups.channelEventWords ? at(words.channelEventMask) : module->channelEventMask(n);
        c.voltageInterlockMinSet = boundsRead ? atF(words.voltageInterlockMin) : module->channelVoltageInterlockMinSet(n);
        c.voltageInterlockMaxSet = boundsRead ? atF(words.voltageInterlockMax) : module->channelVoltageInterlockMaxSet(n);
        c.currentInterlockMinSet = boundsRead ? atF(words.currentInterlockMin) : module->channelCurrentInterlockMinSet(n);
        c.currentInterlockMaxSet = boundsRead ? atF(words.currentInterlockMax) : module->channelCurrentInterlockMaxSet(n);
    }
    *profile = p;
    return true;
}

bool ModuleProfile::checkAgainst(
    const QVector<float>& voltageHardwareNominal, const QVector<float>& currentHardwareNominal, QString* error) const
{
    for (int n = 0; n < channels.size(); ++n) {
        const Channel& c = channels.at(n);
        const double vMax = n < voltageHardwareNominal.size() ? std::fabs(double(voltageHardwareNominal.at(n))) : 0.0;
        const double iMax = n < currentHardwareNominal.size() ? std::fabs(double(currentHardwareNominal.at(n))) : 0.0;
        // The float round trip of the hardware value may differ from the text by a few units in
        // the last place.
        const auto above = [](double value, double limit) { return std::fabs(value) > limit * (1.0 + 1e-6); };
        const std::pair<const char*, double> voltages[] = {{"VoltageSet", c.voltageSet},
            {"VoltageIlkMinSet", c.voltageInterlockMinSet}, {"VoltageIlkMaxSet", c.voltageInterlockMaxSet},
            {"VoltageMaxSet", c.voltageNominal}};
        for (const auto& v : voltages) {
            if (above(v.second, vMax)) {
                *error = QStringLiteral("%1.%2 %3 %4 is above the channel's hardware nominal %5 %4")
                             .arg(channelGroup(n), QLatin1String(v.first), shortest(v.second), shownUnit(voltageUnit),
                                 shortest(vMax));
                return false;
            }
        }
        const std::pair<const char*, double> currents[] = {{"CurrentSet", c.currentSet},
            {"CurrentIlkMinSet", c.currentInterlockMinSet}, {"CurrentIlkMaxSet", c.currentInterlockMaxSet},
            {"CurrentMaxSet", c.currentNominal}};
        for (const auto& i : currents) {
            if (above(i.second, iMax)) {
                *error = QStringLiteral("%1.%2 %3 %4 is above the channel's hardware nominal %5 %4")
                             .arg(channelGroup(n), QLatin1String(i.first), shortest(i.second), shownUnit(currentUnit),
                                 shortest(iMax));
                return false;
            }
        }
    }
    return true;
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

bool ModuleProfile::load(const QString& fileName, int channelCount, ModuleProfile* profile, QString* error)
{
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly)) {
        *error = QStringLiteral("The profile %1 cannot be read (%2).").arg(fileName, file.errorString());
        return false;
    }
    file.close();
    const QSettings settings(fileName, QSettings::IniFormat);
    if (settings.status() != QSettings::NoError || settings.allKeys().isEmpty()) {
        *error = QStringLiteral("The profile %1 is empty or not a profile file: nothing written.").arg(fileName);
        return false;
    }
    ModuleProfile p;
    QString badKey;
    // A present value that does not convert names its key; an absent one gives `fallback`.
    const auto convert = [&](const QString& key, auto parse, auto fallback) {
        if (!settings.contains(key))
            return fallback;
        bool ok = false;
        const auto value = parse(text(settings, key), &ok);
        if (!ok && badKey.isEmpty())
            badKey = QStringLiteral("%1 = \"%2\"")
                         .arg(QString(key).replace(QLatin1Char('/'), QLatin1Char('.')), text(settings, key));
        return decltype(fallback)(value);
    };
    const auto prefixed = [&](const QString& key, quint32 fallback) { return convert(key, &parsePrefixed, fallback); };
    const auto decimal = [&](const QString& key, quint32 fallback) { return convert(key, &parseDecimal, fallback); };
    const auto floating = [&](const QString& key, double fallback) { return convert(key, &parseFloat, fallback); };

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
    if (!badKey.isEmpty()) {
        *error =
            QStringLiteral("The profile %1 has a value that does not convert: %2. Nothing written.").arg(fileName, badKey);
        return false;
    }
    *profile = p;
    return true;
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
