#include "ProfileWriteJob.h"

#include "controller/LogCategories.h"
#include "device/BaseModule.h"
#include "device/ChannelSettings.h"
#include "device/FailureText.h"
#include "device/StatusWordBits.h"

#include <QLocale>
#include <QMetaMethod>

#include <algorithm>
#include <cmath>
#include <utility>

namespace {

QString hex4(quint32 value)
{
    return QStringLiteral("%1").arg(value & 0xFFFFu, 4, 16, QLatin1Char('0'));
}

QString shortest(double value)
{
    return QString::number(value, 'g', QLocale::FloatingPointShortest);
}

// Equal within the float round trip of the module's conversion (a few units in the last place).
bool sameNominal(double readBack, double written)
{
    return std::fabs(readBack - written) <= 1e-6 * std::max(std::fabs(readBack), std::fabs(written)) + 1e-12;
}

// One write of a batch: its name for the log and the call.
using Write = std::pair<QString, std::function<bool(BaseModule&)>>;

// Runs `writes` in order on the device side up to the first the module refuses; returns its
// index (-1: all taken) and the module's reason in `reason`.
int firstRefused(BaseModule& module, const QVector<Write>& writes, QString* reason)
{
    for (int i = 0; i < writes.size(); ++i) {
        if (!writes.at(i).second(module)) {
            *reason = module.lastError();
            return i;
        }
    }
    return -1;
}

} // namespace

ProfileWriteJob::ProfileWriteJob(DeviceSession* session, BaseModule* module, const ModuleProfile& profile, QObject* parent)
    : ServiceJob(session, module, QStringLiteral("profile"), parent)
    , m_profile(profile)
{
    // Connected first, so the log says how the module was left before anyone else hears the end.
    connect(this, &ServiceJob::finished, this, &ProfileWriteJob::reportEnd);
}

void ProfileWriteJob::reportEnd()
{
    m_waitingForAnswer = false;
    if (error() != Cancelled && error() != ModuleGone)
        return; // the procedure's own ends are logged where they happen
    if (!m_sent) {
        emit logLine(tr("Writing stopped: %1 Nothing was written.").arg(errorText()));
        return;
    }
    emit logLine(tr("Writing stopped: %1 The module was left where the procedure stood: it may still be in stop "
                    "mode, with the values written so far.")
                     .arg(errorText()));
}

void ProfileWriteJob::fail(int error, const QString& message)
{
    emit logLine(message);
    finish(error, message);
}

ServiceJob::Continuation ProfileWriteJob::refusal(const QString& what, const QString& reason)
{
    return [this, what, reason] {
        fail(WriteRefused, tr("Error writing %1: %2. Giving up.").arg(what, FailureText::of(reason)));
    };
}

void ProfileWriteJob::advance(const QString& step)
{
    setProgress(++m_done, 3 * m_channels + 3, step);
}

void ProfileWriteJob::begin()
{
    const int profileChannels = int(m_profile.channels.size());
    runStep([this, profileChannels](BaseModule& module, StepWrites&) -> Continuation {
        const int channels = qMin(module.channelNumber(), profileChannels);
        const QString voltageUnit = module.voltageUnit(0);
        const QString currentUnit = module.currentUnit(0);
        return [this, channels, voltageUnit, currentUnit] {
            m_channels = channels;
            m_voltageUnit = voltageUnit;
            m_currentUnit = currentUnit;
            m_voltageHardwareNominal.resize(channels);
            m_currentHardwareNominal.resize(channels);
            checkChannel(0);
        };
    });
}

// 0. Every value within what the channels can do, before anything is sent. Only the hardware
// nominal values are read, as many channels per step as the module reads at about the cost of one
// (an MPOD module: all of them in one round trip).
void ProfileWriteJob::checkChannel(int channel)
{
    if (channel >= m_channels) {
        checkProfile();
        return;
    }
    runStep([this, channel, channels = m_channels](BaseModule& module, StepWrites&) -> Continuation {
        const int count = qMin(qMax(1, module.hardwareNominalsReadTogether()), channels - channel);
        QVector<float> voltages;
        QVector<float> currents;
        const int read = module.readHardwareNominals(channel, count, &voltages, &currents);
        if (read < count) {
            const QString reason = module.lastError();
            return [this, unread = channel + qMax(0, read), reason] {
                fail(HardwareNominalNotRead,
                    tr("Channel %1: the hardware nominal values could not be read (%2), so the profile cannot be "
                       "checked. Nothing written. Giving up.")
                        .arg(unread)
                        .arg(reason));
            };
        }
        return [this, channel, count, voltages, currents] {
            for (int i = 0; i < count; ++i) {
                m_voltageHardwareNominal[channel + i] = voltages.at(i);
                m_currentHardwareNominal[channel + i] = currents.at(i);
            }
            const int last = channel + count - 1;
            m_done += count - 1;
            advance(count == 1 ? tr("Checking channel %1").arg(channel)
                               : tr("Checking channels %1 to %2").arg(channel).arg(last));
            checkChannel(channel + count);
        };
    });
}

void ProfileWriteJob::checkProfile()
{
    ModuleProfile checkedProfile = m_profile;
    checkedProfile.channels.resize(m_channels);
    if (checkedProfile.voltageUnit.isEmpty())
        checkedProfile.voltageUnit = m_voltageUnit;
    if (checkedProfile.currentUnit.isEmpty())
        checkedProfile.currentUnit = m_currentUnit;
    QString outOfRange;
    if (!checkedProfile.checkAgainst(m_voltageHardwareNominal, m_currentHardwareNominal, &outOfRange)) {
        fail(AboveHardwareNominal, tr("%1. Nothing written. Giving up.").arg(outOfRange));
        return;
    }
    requestStopMode();
}

// 1. Stop mode.
void ProfileWriteJob::requestStopMode()
{
    emit logLine(tr("\nSetting Module to mode STOP ..."));
    m_working = (m_profile.control | ModuleControlBit::stop | ModuleControlBit::clearEvents) & 0xFFFFu;
    m_sent = true;
    const quint32 word = m_working;
    runStep([this, word](BaseModule& module, StepWrites&) -> Continuation {
        if (!module.setControl(word))
            return refusal(tr("Module.Control 0x%1").arg(hex4(word)), module.lastError());
        return [this] {
            advance(tr("Setting the module to stop mode"));
            pollStopMode(stopModePolls);
        };
    });
}

void ProfileWriteJob::pollStopMode(int polls)
{
    runStep([this, polls](BaseModule& module, StepWrites&) -> Continuation {
        const bool stopped = (module.status() & 0xFFFFu) & ModuleStatusBit::stopped;
        return [this, polls, stopped] {
            if (stopped)
                firstPass(0);
            else if (polls <= 1)
                fail(StopModeNotReached,
                    tr("Error setting Module to mode STOP. Giving up.\nPlease turn the channels off and try again!"));
            else
                after(m_pollWaitMs, [this, polls] { pollStopMode(polls - 1); });
        };
    });
}

// 2. Control words and nominal values first, so the set values below fit the new ranges. Not
// checked here: the second pass writes them again and reads each one back.
void ProfileWriteJob::firstPass(int channel)
{
    if (channel >= m_channels) {
        writeModuleValues();
        return;
    }
    const ModuleProfile::Channel c = m_profile.channels.at(channel);
    runStep([this, channel, c](BaseModule& module, StepWrites&) -> Continuation {
        module.setChannelControl(channel, c.control);
        module.setChannelVoltageNominal(channel, float(c.voltageNominal));
        module.setChannelCurrentNominal(channel, float(c.currentNominal));
        return [this, channel] {
            advance(tr("Channel %1: control word and nominal values").arg(channel));
            firstPass(channel + 1);
        };
    });
}

// 3. Module values.
void ProfileWriteJob::writeModuleValues()
{
    const ModuleProfile p = m_profile;
    runStep([this, p](BaseModule& module, StepWrites&) -> Continuation {
        const QVector<Write> writes = {
            {tr("Module.EventMask"), [&](BaseModule& m) { return m.setEventMask(p.eventMask); }},
            {tr("Module.EventChannelMask"), [&](BaseModule& m) { return m.setEventChannelMask(p.eventChannelMask); }},
            {tr("Module.EventGroupMask"), [&](BaseModule& m) { return m.setEventGroupMask(p.eventGroupMask); }},
            {tr("Module.DigitalFilter"), [&](BaseModule& m) { return m.setDigitalFilter(p.digitalFilter); }},
            {tr("Module.AdcSamples"), [&](BaseModule& m) { return m.setAdcSamplesPerSecond(p.adcSamplesPerSecond); }},
            {tr("Module.RestartTime"), [&](BaseModule& m) { return m.setRestartTime(p.restartTimeMs); }},
            {tr("Module.VoltageRampSpeed"),
                [&](BaseModule& m) { return m.setVoltageRampSpeed(float(p.voltageRampSpeedPercentPerSecond)); }},
            {tr("Module.CurrentRampSpeed"),
                [&](BaseModule& m) { return m.setCurrentRampSpeed(float(p.currentRampSpeedPercentPerSecond)); }},
        };
        QString reason;
        const int refused = firstRefused(module, writes, &reason);
        if (refused >= 0)
            return refusal(writes.at(refused).first, reason);
        return [this] {
            advance(tr("Module values"));
            writeChannel(0);
        };
    });
}

void ProfileWriteJob::confirm(const QString& debugLine, int polls, Probe probe, Continuation next)
{
    runStep([this, debugLine, polls, probe, next](BaseModule& module, StepWrites&) -> Continuation {
        const Check check = probe(module);
        return [this, debugLine, polls, probe, next, check] {
            // As many polls left as were not needed: all of them when the first read matched.
            const int remaining = check.matched ? polls : polls - 1;
            if (check.matched || remaining == 0)
                qCDebug(lcProfiles).noquote() << debugLine.arg(remaining);
            if (check.matched)
                next();
            else if (remaining == 0)
                fail(ChannelNotConfirmed, check.failure);
            else
                after(
                    m_pollWaitMs, [this, debugLine, remaining, probe, next] { confirm(debugLine, remaining, probe, next); });
        };
    });
}

// 4. Channels, each control word and nominal value confirmed by reading it back.
void ProfileWriteJob::writeChannel(int channel)
{
    if (channel >= m_channels) {
        requestStore();
        return;
    }
    const ModuleProfile::Channel c = m_profile.channels.at(channel);
    const QString name = QStringLiteral("Channel%1").arg(channel);
    const float voltageNominal = float(c.voltageNominal);
    const float currentNominal = float(c.currentNominal);

    // Only a word the module answered confirms the write (or shows it differs).
    const Probe control = [channel, c](BaseModule& module) {
        quint32 readBack = 0;
        const bool read = module.readChannelControl(channel, &readBack);
        return Check{read && readBack == c.control,
            tr("Error setting Channel %1 Control word to %2 (%3). Giving up.")
                .arg(channel)
                .arg(hex4(c.control),
                    read ? tr("read back %1").arg(hex4(readBack)) : tr("not read back: %1").arg(module.lastError()))};
    };
    const auto nominal = [channel](bool voltage, float written) -> Probe {
        return [channel, voltage, written](BaseModule& module) {
            ChannelSettings readBack;
            const bool read = module.readChannelSettings(channel, &readBack);
            const double value = voltage ? readBack.voltageNominal : readBack.currentNominal;
            const QString unit = voltage ? module.voltageUnit(channel) : module.currentUnit(channel);
            const QString text = voltage
                ? tr("Error setting Channel %1 VoltageMaxSet to %2 %4 (read back %3 %4). Giving up.")
                : tr("Error setting Channel %1 CurrentMaxSet to %2 %4 (read back %3 %4). Giving up.");
            return Check{
                read && sameNominal(value, written), text.arg(channel).arg(shortest(written), shortest(value), unit)};
        };
    };
    // One write of the channel, checked, then `next` on the job's thread.
    const auto write = [this](std::function<bool(BaseModule&)> call, std::function<QString(BaseModule&)> what,
                           Continuation next) {
        runStep([this, call, what, next](BaseModule& module, StepWrites&) -> Continuation {
            if (!call(module))
                return refusal(what(module), module.lastError());
            return next;
        });
    };

    write([channel, c](BaseModule& m) { return m.setChannelControl(channel, c.control); },
        [name, c](BaseModule&) { return tr("%1.Control 0x%2").arg(name, hex4(c.control)); },
        [=] {
            confirm(QStringLiteral("Control[%1]:  timeout = %2").arg(channel), channelReadBackPolls, control, [=] {
                write([=](BaseModule& m) { return m.setChannelVoltageNominal(channel, voltageNominal); },
                    [=](BaseModule& m) {
                        return tr("%1.VoltageMaxSet %2 %3").arg(name, shortest(voltageNominal), m.voltageUnit(channel));
                    },
                    [=] {
                        confirm(QStringLiteral("Vnominal[%1]: timeout = %2").arg(channel), channelReadBackPolls,
                            nominal(true, voltageNominal), [=] {
                                write([=](BaseModule& m) { return m.setChannelCurrentNominal(channel, currentNominal); },
                                    [=](BaseModule& m) {
                                        return tr("%1.CurrentMaxSet %2 %3")
                                            .arg(name, shortest(currentNominal), m.currentUnit(channel));
                                    },
                                    [=] {
                                        confirm(QStringLiteral("Inominal[%1]: timeout = %2").arg(channel),
                                            channelReadBackPolls, nominal(false, currentNominal),
                                            [=] { writeChannelValues(channel); });
                                    });
                            });
                    });
            });
        });
}

void ProfileWriteJob::writeChannelValues(int channel)
{
    const ModuleProfile::Channel c = m_profile.channels.at(channel);
    runStep([this, channel, c](BaseModule& module, StepWrites&) -> Continuation {
        const QString name = QStringLiteral("Channel%1").arg(channel);
        const QString vu = module.voltageUnit(channel);
        const QString cu = module.currentUnit(channel);
        const auto value = [&](const char* key, double v, const QString& unit) {
            return QStringLiteral("%1.%2 %3 %4").arg(name, QLatin1String(key), shortest(float(v)), unit);
        };
        const int ch = channel;
        const QVector<Write> writes = {
            {value("VoltageSet", c.voltageSet, vu),
                [&](BaseModule& m) { return m.setChannelVoltageSet(ch, float(c.voltageSet)); }},
            {value("CurrentSet", c.currentSet, cu),
                [&](BaseModule& m) { return m.setChannelCurrentSet(ch, float(c.currentSet)); }},
            {QStringLiteral("%1.EventMask 0x%2").arg(name, hex4(c.eventMask)),
                [&](BaseModule& m) { return m.setChannelEventMask(ch, c.eventMask); }},
            {value("VoltageIlkMaxSet", c.voltageInterlockMaxSet, vu),
                [&](BaseModule& m) { return m.setChannelVoltageInterlockMaxSet(ch, float(c.voltageInterlockMaxSet)); }},
            {value("VoltageIlkMinSet", c.voltageInterlockMinSet, vu),
                [&](BaseModule& m) { return m.setChannelVoltageInterlockMinSet(ch, float(c.voltageInterlockMinSet)); }},
            {value("CurrentIlkMaxSet", c.currentInterlockMaxSet, cu),
                [&](BaseModule& m) { return m.setChannelCurrentInterlockMaxSet(ch, float(c.currentInterlockMaxSet)); }},
            {value("CurrentIlkMinSet", c.currentInterlockMinSet, cu),
                [&](BaseModule& m) { return m.setChannelCurrentInterlockMinSet(ch, float(c.currentInterlockMinSet)); }},
        };
        QString reason;
        const int refused = firstRefused(module, writes, &reason);
        if (refused >= 0)
            return refusal(writes.at(refused).first, reason);
        return [this, channel] {
            advance(tr("Channel %1 written").arg(channel));
            writeChannel(channel + 1);
        };
    });
}

// 5. Store the set values in the module's own memory; the module clears the request when done.
void ProfileWriteJob::requestStore()
{
    m_working |= ModuleControlBit::stop | ModuleControlBit::saveSetValues;
    const quint32 word = m_working;
    runStep([this, word](BaseModule& module, StepWrites&) -> Continuation {
        if (!module.setControl(word))
            return refusal(tr("Module.Control 0x%1").arg(hex4(word)), module.lastError());
        return [this] { after(m_pollWaitMs, [this] { pollStore(true, saveAcknowledgePolls); }); };
    });
}

// Reads the store request's bit until it shows (`untilSet`: the request acknowledged) or until it
// is gone (the store finished), up to `polls` reads pollWaitMs() apart. A poll whose read is not
// answered is neither: only a word read counts.
void ProfileWriteJob::pollStore(bool untilSet, int polls)
{
    runStep([this, untilSet, polls](BaseModule& module, StepWrites&) -> Continuation {
        quint32 word = 0;
        const bool read = module.readControl(&word);
        return [this, untilSet, polls, read, word] {
            if (read)
                m_working = word & 0xFFFFu;
            const bool saving = m_working & ModuleControlBit::saveSetValues;
            const bool reached = read && saving == untilSet;
            const int remaining = reached ? polls : polls - 1;
            if (!reached && remaining > 0) {
                after(m_pollWaitMs, [this, untilSet, remaining] { pollStore(untilSet, remaining); });
                return;
            }
            qCDebug(lcProfiles, "Control.saveSetValues: timeout = %d, control = %x", remaining, m_working);
            if (untilSet)
                storeAcknowledged(reached);
            else
                storeFinished(reached);
        };
    });
}

void ProfileWriteJob::storeAcknowledged(bool acknowledged)
{
    if (acknowledged) {
        after(m_pollWaitMs, [this] { pollStore(false, saveFinishPolls); });
        return;
    }
    m_waitingForAnswer = true;
    if (!isSignalConnected(QMetaMethod::fromSignal(&ProfileWriteJob::retryRequested)))
        answerRetry(false); // nobody to ask: No
    else
        emit retryRequested(tr("Error setting ModuleControl.DoSaveSetValues. Try again?"));
}

void ProfileWriteJob::answerRetry(bool retry)
{
    if (!isRunning() || !m_waitingForAnswer)
        return;
    m_waitingForAnswer = false;
    if (retry)
        requestStore();
    else
        fail(SaveNotAcknowledged,
            tr("The module did not take the request to store its set values; it was left in stop mode."));
}

void ProfileWriteJob::storeFinished(bool finished)
{
    if (!finished) {
        fail(SaveNotFinished,
            tr("Error saving the set values: the module did not report storing them finished in time "
               "(ModuleControl.DoSaveSetValues still set, or not read). The profile may not be stored in the "
               "module, and the module was left in stop mode. Giving up."));
        return;
    }
    advance(tr("Set values stored"));
    releaseStopMode();
}

// Stop mode released, events cleared, from the word the module holds now.
void ProfileWriteJob::releaseStopMode()
{
    runStep([this](BaseModule& module, StepWrites&) -> Continuation {
        if (!module.updateControl(ModuleControlBit::saveSetValues | ModuleControlBit::stop, ModuleControlBit::clearEvents))
            return refusal(tr("Module.Control (release stop mode)"), module.lastError());
        return [this] {
            emit logLine(tr("Profile written into device!"));
            finish();
        };
    });
}
