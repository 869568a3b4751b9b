#include "AutomaticStepping.h"

#include "controller/LogCategories.h"
#include "device/BaseModule.h"
#include "device/DeviceSession.h"
#include "device/FailureText.h"
#include "device/WriteJournal.h"

#include <QDateTime>
#include <QDebug>
#include <QLocale>

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

AutomaticStepping::AutomaticStepping(DeviceSession* session, QObject* parent)
    : QObject(parent)
    , m_session(session)
    , m_logFile(QStringLiteral("autologfile.csv"))
{
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

void AutomaticStepping::submit(BaseModule* module, Request request, Outcome outcome)
{
    m_pending = std::move(outcome);
    const int index = m_session ? int(m_session->modules().indexOf(module)) : -1;
    if (index < 0) {
        deliver(Answer());
        return;
    }
    // Only compared on the poller's thread: the module at `index` may be another object by the
    // time the request runs (a rediscovery in between).
    const BaseModule* target = module;
    m_session->submitCommand(
        this, index, DeviceSession::Priority::Normal,
        [this, target, request = std::move(request)](BaseModule& module) -> DeviceSession::CommandResult {
            if (&module != target)
                return [this] { deliver(Answer()); };
            const WriteSource source("automatic");
            Answer answer = request(module);
            answer.reached = true;
            return [this, answer] { deliver(answer); };
        },
        [this] { deliver(Answer()); });
}

void AutomaticStepping::deliver(const Answer& answer)
{
    const Outcome outcome = std::move(m_pending);
    m_pending = nullptr;
    if (outcome)
        outcome(answer);
}

bool AutomaticStepping::takeUsable(QList<QPointer<BaseModule>>* modules, Module* next) const
{
    while (!modules->isEmpty()) {
        BaseModule* module = modules->takeFirst().data();
        if (!usable(module))
            continue;
        next->module = module;
        next->address = module->address();
        next->voltsPerUnit = voltsPerUnit(module);
        next->serialNumber = module->serialNumber();
        return true;
    }
    return false;
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

void AutomaticStepping::step(const Parameters& parameters, const Target& target)
{
    if (m_busy)
        return;
    if (!m_logFile.isOpen()) {
        // Appending: records of earlier runs stay, and no old tail is left behind new lines.
        if (!m_logFile.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Unbuffered))
            emit controlLog(tr("%1: can not open %2 for writing.").arg(clockTime(), m_logFile.fileName()));
    }

    BaseModule* current = target.current.data();
    if (!usable(current)) {
        emit controlLog(tr("%1: no module selected; nothing changed.").arg(clockTime()));
        emit stepFinished(false);
        return;
    }
    if (parameters.scope == SelectedChannel && target.row < 0) {
        emit controlLog(tr("%1: no channel selected; nothing changed.").arg(clockTime()));
        emit stepFinished(false);
        return;
    }
    m_busy = true;
    const int row = qMax(0, target.row);
    const QString address = current->address();
    const double factor = voltsPerUnit(current);
    const QList<QPointer<BaseModule>> modules = scopeModules(parameters, target);
    submit(
        current,
        [](BaseModule& module) {
            Answer answer;
            answer.readings = module.readChannels();
            return answer;
        },
        [this, parameters, modules, row, address, factor](const Answer& answer) {
            if (row >= answer.readings.size() || !answer.readings.at(row).complete) {
                emit controlLog(tr("%1: %2.%3.VSet could not be read; nothing changed.").arg(clockTime(), address).arg(row));
                m_busy = false;
                emit stepFinished(false);
                return;
            }
            m_demandedVolts = nextVolts(double(answer.readings.at(row).voltageSet) * factor, parameters, &m_up);
            applyTo(modules, parameters, row);
        });
}

void AutomaticStepping::applyTo(QList<QPointer<BaseModule>> modules, const Parameters& parameters, int row)
{
    Module next;
    if (!takeUsable(&modules, &next)) {
        qCDebug(lcProfiles).noquote() << QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd;HH:mm:ss.zzz"))
                                      << "autoTimer Vset" << m_demandedVolts;
        m_busy = false;
        emit stepFinished(true);
        return;
    }
    const float value = float(m_demandedVolts / next.voltsPerUnit);
    const bool channelScope = parameters.scope == SelectedChannel;
    submit(
        next.module,
        [channelScope, row, value](BaseModule& module) {
            Answer answer;
            answer.ok = channelScope ? module.setChannelVoltageSet(row, value) : module.setAllChannelsVoltageSet(value);
            if (!answer.ok)
                answer.error = module.lastError();
            return answer;
        },
        [this, modules, parameters, row, channelScope, next](const Answer& answer) {
            if (answer.reached && !answer.ok) {
                const QString subject = channelScope ? QStringLiteral("%1.%2").arg(next.address).arg(row) : next.address;
                emit controlLog(tr("%1: %2").arg(clockTime(),
                    FailureText::sentence(tr("%1: Vset %2 V").arg(subject, number(m_demandedVolts)), answer.error)));
            }
            applyTo(modules, parameters, row);
        });
}

void AutomaticStepping::controlPass(const Parameters& parameters, const Target& target)
{
    if (m_busy)
        return;
    m_busy = true;
    qCDebug(lcProfiles) << "autoTimerControl Vset" << m_demandedVolts;
    checkModules(scopeModules(parameters, target), parameters, target.row, 0);
}

void AutomaticStepping::checkModules(QList<QPointer<BaseModule>> modules, const Parameters& parameters, int row, int errors)
{
    Module next;
    if (!takeUsable(&modules, &next)) {
        qCDebug(lcProfiles).noquote() << clockTime() << "errors:" << errors;
        m_busy = false;
        emit controlPassFinished(errors);
        return;
    }
    const bool currents = parameters.scope == SelectedModule;
    submit(
        next.module,
        [currents](BaseModule& module) {
            Answer answer;
            answer.readings = module.readChannels();
            // The module's channels in the high current range, for the measured currents.
            for (int channel = 0; currents && channel < answer.readings.size(); ++channel) {
                if (answer.readings.at(channel).complete
                    && module.channelCurrentMeasurementRange(channel) == BaseModule::CurrentMeasurementRangeHigh)
                    answer.highRangeChannels.append(channel);
            }
            return answer;
        },
        [this, modules, parameters, row, errors, next](const Answer& answer) {
            const int found = answer.reached && next.module ? evaluate(next, answer, parameters, row) : 0;
            checkModules(modules, parameters, row, errors + found);
        });
}

int AutomaticStepping::evaluate(const Module& module, const Answer& answer, const Parameters& parameters, int row)
{
    const QVector<ChannelReading>& readings = answer.readings;
    writeRecord(module, readings);
    if (!readComplete(readings)) {
        emit controlLog(tr("%1: %2 did not answer; its set voltages were not checked.").arg(clockTime(), module.address));
        return 0;
    }
    if (parameters.scope == SelectedModule) {
        // No check of the set values: the measured currents of the channels in the high range.
        for (int channel : answer.highRangeChannels) {
            const ChannelReading& r = readings.at(channel);
            emit controlLog(tr("Channel %1: High Range Imeas = %2, Status = %3 (%4)")
                                .arg(channel)
                                .arg(number(r.currentMeasure))
                                .arg(r.status & 0xFFFFu, 4, 16, QLatin1Char('0'))
                                .arg(clockTime()));
        }
        return 0;
    }
    int errors = 0;
    for (int channel = 0; channel < readings.size(); ++channel) {
        if (parameters.scope == SelectedChannel && channel != row)
            continue;
        const ChannelReading& r = readings.at(channel);
        if (!r.complete)
            continue;
        const double volts = double(r.voltageSet) * module.voltsPerUnit;
        if (std::fabs(volts - m_demandedVolts) > deviationLimitVolts) {
            ++errors;
            emit controlLog(tr("%1: %2.%3.VSet = %4 (demand was %5)")
                                .arg(clockTime(), module.address)
                                .arg(channel)
                                .arg(number(volts), number(m_demandedVolts)));
        }
    }
    return errors;
}

void AutomaticStepping::writeRecord(const Module& module, const QVector<ChannelReading>& readings)
{
    if (!m_logFile.isOpen())
        return;
    // Locale numbers without group separators, so ";" stays the only field separator.
    QLocale locale;
    locale.setNumberOptions(QLocale::OmitGroupSeparator);
    const auto n = [&](double value) { return locale.toString(value, 'g', 7); };
    const double factor = module.voltsPerUnit;
    QString line = QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd;HH:mm:ss.zzz"))
        + QStringLiteral(";%1;%2;").arg(n(m_demandedVolts)).arg(module.serialNumber);
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
