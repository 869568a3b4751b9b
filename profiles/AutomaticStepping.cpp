#include "AutomaticStepping.h"

#include "controller/LogCategories.h"
#include "device/BaseModule.h"
#include "device/FailureText.h"
#include "device/WriteJournal.h"

#include <QDateTime>
#include <QDebug>
#include <QLocale>
#include <QScopedValueRollback>

#include <cmath>

namespace {
QString clockTime()
{
    return QTime::currentTime().toString(QStringLiteral("HH:mm:ss"));
}

// Single-precision values in their shortest useful form: 300.002, not 300.0020141601562.
QString number(double value)
{
    return QString::number(value, 'g', 7);
}

bool readComplete(const QVector<ChannelReading>& readings)
{
    for (const ChannelReading& r : readings) {
        if (r.complete)
            return true;
    }
    return false;
}
} // namespace

AutomaticStepping::AutomaticStepping(QObject* parent)
    : QObject(parent)
    , m_logFile(QStringLiteral("autologfile.csv"))
{
}

void AutomaticStepping::setBetweenRequests(std::function<void()> hook)
{
    m_betweenRequests = std::move(hook);
}

void AutomaticStepping::setUsable(std::function<bool(BaseModule*)> hook)
{
    m_usable = std::move(hook);
}

void AutomaticStepping::setLogFileName(const QString& fileName)
{
    m_logFile.close();
    m_logFile.setFileName(fileName);
}

double AutomaticStepping::nextVolts(double baseVolts, const Parameters& parameters, bool* up)
{
    double value = 0;
    if (*up) {
        value = baseVolts + parameters.incrementVolts;
        if (value >= parameters.upperVolts) {
            value = parameters.upperVolts;
            *up = false;
        }
    } else {
        value = baseVolts - parameters.incrementVolts;
        if (parameters.lowerVolts >= value) {
            value = parameters.lowerVolts;
            *up = true;
        }
    }
    return value;
}

double AutomaticStepping::voltsPerUnit(BaseModule* module)
{
    return module->voltageUnit(0) == QLatin1String("kV") ? BaseModule::voltsPerKilovolt : 1.0;
}

bool AutomaticStepping::usable(BaseModule* module) const
{
    return module && (!m_usable || m_usable(module));
}

void AutomaticStepping::betweenRequests()
{
    if (m_betweenRequests)
        m_betweenRequests();
}

QList<QPointer<BaseModule>> AutomaticStepping::scopeModules(const Parameters& parameters, const Target& target) const
{
    QList<QPointer<BaseModule>> modules;
    switch (parameters.scope) {
    case SelectedChannel:
    case SelectedModule:
        if (target.current)
            modules.append(target.current);
        break;
    case WholeSystem:
    case FirstFourModules:
        for (const QPointer<BaseModule>& module : target.modules) {
            if (parameters.scope == FirstFourModules && modules.size() == 4)
                break;
            if (module)
                modules.append(module);
        }
        break;
    }
    return modules;
}

bool AutomaticStepping::step(const Parameters& parameters, const Target& target)
{
    const WriteSource source("automatic");
    const QScopedValueRollback<bool> busy(m_busy, true);
    if (!m_logFile.isOpen()) {
        // Appending: records of earlier runs stay, and no old tail is left behind new lines.
        if (!m_logFile.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Unbuffered))
            emit controlLog(tr("%1: can not open %2 for writing.").arg(clockTime(), m_logFile.fileName()));
    }

    BaseModule* current = target.current.data();
    if (!usable(current)) {
        emit controlLog(tr("%1: no module selected; nothing changed.").arg(clockTime()));
        return false;
    }
    if (parameters.scope == SelectedChannel && target.row < 0) {
        emit controlLog(tr("%1: no channel selected; nothing changed.").arg(clockTime()));
        return false;
    }
    const int row = qMax(0, target.row);
    const QString address = current->address();
    const double factor = voltsPerUnit(current);
    const QVector<ChannelReading> readings = current->readChannels();
    betweenRequests();
    if (row >= readings.size() || !readings.at(row).complete) {
        emit controlLog(tr("%1: %2.%3.VSet could not be read; nothing changed.").arg(clockTime(), address).arg(row));
        return false;
    }
    const double baseVolts = double(readings.at(row).voltageSet) * factor;
    m_demandedVolts = nextVolts(baseVolts, parameters, &m_up);

    // Guarded: a module released while events were processed reads as null.
    const QList<QPointer<BaseModule>> modules = scopeModules(parameters, target);
    for (const QPointer<BaseModule>& guarded : modules) {
        BaseModule* module = guarded.data();
        if (!usable(module))
            continue;
        const float value = float(m_demandedVolts / voltsPerUnit(module));
        const bool ok = parameters.scope == SelectedChannel ? module->setChannelVoltageSet(row, value)
                                                            : module->setAllChannelsVoltageSet(value);
        if (!ok) {
            const QString subject = parameters.scope == SelectedChannel
                ? QStringLiteral("%1.%2").arg(module->address()).arg(row)
                : module->address();
            emit controlLog(tr("%1: %2").arg(clockTime(),
                FailureText::sentence(tr("%1: Vset %2 V").arg(subject, number(m_demandedVolts)), module->lastError())));
        }
        betweenRequests();
    }
    qCDebug(lcProfiles).noquote() << QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd;HH:mm:ss.zzz"))
                                  << "autoTimer Vset" << m_demandedVolts;
    return true;
}

int AutomaticStepping::controlPass(const Parameters& parameters, const Target& target)
{
    const QScopedValueRollback<bool> busy(m_busy, true);
    qCDebug(lcProfiles) << "autoTimerControl Vset" << m_demandedVolts;
    int errors = 0;
    const QList<QPointer<BaseModule>> modules = scopeModules(parameters, target);
    for (const QPointer<BaseModule>& guarded : modules) {
        BaseModule* module = guarded.data();
        if (!usable(module))
            continue;
        const QVector<ChannelReading> readings = module->readChannels();
        betweenRequests();
        if (!guarded)
            continue;
        writeRecord(module, readings);
        if (!readComplete(readings)) {
            emit controlLog(
                tr("%1: %2 did not answer; its set voltages were not checked.").arg(clockTime(), module->address()));
            continue;
        }

        if (parameters.scope == SelectedModule) {
            // No check of the set values: the measured currents of the channels in the high range.
            for (int channel = 0; channel < readings.size(); ++channel) {
                const ChannelReading& r = readings.at(channel);
                if (!r.complete
                    || module->channelCurrentMeasurementRange(channel) != BaseModule::CurrentMeasurementRangeHigh)
                    continue;
                emit controlLog(tr("Channel %1: High Range Imeas = %2, Status = %3 (%4)")
                                    .arg(channel)
                                    .arg(number(r.currentMeasure))
                                    .arg(r.status & 0xFFFFu, 4, 16, QLatin1Char('0'))
                                    .arg(clockTime()));
            }
            continue;
        }

        const double factor = voltsPerUnit(module);
        for (int channel = 0; channel < readings.size(); ++channel) {
            if (parameters.scope == SelectedChannel && channel != target.row)
                continue;
            const ChannelReading& r = readings.at(channel);
            if (!r.complete)
                continue;
            const double volts = double(r.voltageSet) * factor;
            if (std::fabs(volts - m_demandedVolts) > deviationLimitVolts) {
                ++errors;
                emit controlLog(tr("%1: %2.%3.VSet = %4 (demand was %5)")
                                    .arg(clockTime(), module->address())
                                    .arg(channel)
                                    .arg(number(volts), number(m_demandedVolts)));
            }
        }
    }
    qCDebug(lcProfiles).noquote() << clockTime() << "errors:" << errors;
    return errors;
}

void AutomaticStepping::writeRecord(BaseModule* module, const QVector<ChannelReading>& readings)
{
    if (!m_logFile.isOpen())
        return;
    // Locale numbers without group separators, so ";" stays the only field separator.
    QLocale locale;
    locale.setNumberOptions(QLocale::OmitGroupSeparator);
    const auto n = [&](double value) { return locale.toString(value, 'g', 7); };
    const double factor = voltsPerUnit(module);
    QString line = QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd;HH:mm:ss.zzz"))
        + QStringLiteral(";%1;%2;").arg(n(m_demandedVolts)).arg(module->serialNumber());
    for (const ChannelReading& r : readings) {
        if (!r.complete) {
            line += QStringLiteral(";;;");
            continue;
        }
        const double set = double(r.voltageSet) * factor;
        const double measured = double(r.voltageMeasure) * factor;
        line += QStringLiteral("%1;%2;%3;").arg(n(set), n(measured), n(m_demandedVolts - measured));
    }
    // One write per line on an unbuffered file.
    m_logFile.write((line + QLatin1Char('\n')).toLatin1());
}
