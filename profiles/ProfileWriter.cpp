#include "ProfileWriter.h"

#include "controller/LogCategories.h"
#include "device/BaseModule.h"
#include "device/ChannelSettings.h"
#include "device/FailureText.h"
#include "device/StatusWordBits.h"
#include "device/WriteJournal.h"

#include <QCoreApplication>
#include <QDebug>
#include <QLocale>

#include <algorithm>
#include <cmath>
#include <utility>

namespace {
// Module control and status bits of the procedure.

QString hex4(quint32 value)
{
    return QStringLiteral("%1").arg(value & 0xFFFFu, 4, 16, QLatin1Char('0'));
}

QString shortest(double value)
{
    return QString::number(value, 'g', QLocale::FloatingPointShortest);
}

QString tr(const char* text)
{
    return QCoreApplication::translate("TesmarControl", text);
}
} // namespace

ProfileWriter::ProfileWriter(Hooks hooks)
    : m_hooks(std::move(hooks))
{
}

void ProfileWriter::pause()
{
    if (m_hooks.pause)
        m_hooks.pause();
}

ProfileWriter::Result ProfileWriter::fail(Result result, const QString& message)
{
    if (m_hooks.log)
        m_hooks.log(message);
    if (m_hooks.inform)
        m_hooks.inform(message);
    return result;
}

bool ProfileWriter::sameNominal(double readBack, double written)
{
    return std::fabs(readBack - written) <= 1e-6 * std::max(std::fabs(readBack), std::fabs(written)) + 1e-12;
}

bool ProfileWriter::checked(bool ok, BaseModule* module, const QString& what)
{
    if (!ok)
        fail(WriteRefused, tr("Error writing %1: %2. Giving up.").arg(what, FailureText::of(module->lastError())));
    return ok;
}

ProfileWriter::Result ProfileWriter::write(BaseModule* module, const ModuleProfile& profile)
{
    const WriteSource source("profile");
    const auto log = [this](const QString& line) {
        if (m_hooks.log)
            m_hooks.log(line);
    };
    const int channels = qMin(module->channelNumber(), int(profile.channels.size()));

    // 0. Every value within what the channels can do, before anything is sent.
    QVector<float> voltageHardwareNominal(channels);
    QVector<float> currentHardwareNominal(channels);
    for (int ch = 0; ch < channels; ++ch) {
        ChannelSettings settings;
        if (!module->readChannelSettings(ch, &settings)) {
            return fail(HardwareNominalNotRead,
                tr("Channel %1: the hardware nominal values could not be read (%2), so the profile cannot be "
                   "checked. Nothing written. Giving up.")
                    .arg(ch)
                    .arg(module->lastError()));
        }
        voltageHardwareNominal[ch] = settings.voltageHardwareNominal;
        currentHardwareNominal[ch] = settings.currentHardwareNominal;
    }
    ModuleProfile checkedProfile = profile;
    checkedProfile.channels.resize(channels);
    if (checkedProfile.voltageUnit.isEmpty())
        checkedProfile.voltageUnit = module->voltageUnit(0);
    if (checkedProfile.currentUnit.isEmpty())
        checkedProfile.currentUnit = module->currentUnit(0);
    QString outOfRange;
    if (!checkedProfile.checkAgainst(voltageHardwareNominal, currentHardwareNominal, &outOfRange))
        return fail(AboveHardwareNominal, tr("%1. Nothing written. Giving up.").arg(outOfRange));

    // 1. Stop mode.
    log(tr("\nSetting Module to mode STOP ..."));
    quint32 working = (profile.control | ModuleControlBit::stop | ModuleControlBit::clearEvents) & 0xFFFFu;
    if (!checked(module->setControl(working), module, tr("Module.Control 0x%1").arg(hex4(working))))
        return WriteRefused;
    for (int polls = stopModePolls;;) {
        const quint32 status = module->status() & 0xFFFFu;
        pause();
        if (status & ModuleStatusBit::stopped)
            break;
        if (--polls == 0) {
            return fail(StopModeNotReached,
                tr("Error setting Module to mode STOP. Giving up.\nPlease turn the channels off and try again!"));
        }
    }

    // 2. Control words and nominal values first, so the set values below fit the new ranges. Not
    // checked here: the second pass writes them again and reads each one back.
    for (int ch = 0; ch < channels; ++ch) {
        const ModuleProfile::Channel& c = profile.channels.at(ch);
        module->setChannelControl(ch, c.control);
        module->setChannelVoltageNominal(ch, float(c.voltageNominal));
        module->setChannelCurrentNominal(ch, float(c.currentNominal));
    }

    // 3. Module values.
    using Write = std::pair<QString, std::function<bool()>>;
    const Write moduleWrites[] = {
        {tr("Module.EventMask"), [&] { return module->setEventMask(profile.eventMask); }},
        {tr("Module.EventChannelMask"), [&] { return module->setEventChannelMask(profile.eventChannelMask); }},
        {tr("Module.EventGroupMask"), [&] { return module->setEventGroupMask(profile.eventGroupMask); }},
        {tr("Module.DigitalFilter"), [&] { return module->setDigitalFilter(profile.digitalFilter); }},
        {tr("Module.AdcSamples"), [&] { return module->setAdcSamplesPerSecond(profile.adcSamplesPerSecond); }},
        {tr("Module.RestartTime"), [&] { return module->setRestartTime(profile.restartTimeMs); }},
        {tr("Module.VoltageRampSpeed"),
            [&] { return module->setVoltageRampSpeed(float(profile.voltageRampSpeedPercentPerSecond)); }},
        {tr("Module.CurrentRampSpeed"),
            [&] { return module->setCurrentRampSpeed(float(profile.currentRampSpeedPercentPerSecond)); }},
    };
    for (const Write& w : moduleWrites) {
        if (!checked(w.second(), module, w.first))
            return WriteRefused;
    }

    // 4. Channels, each control word and nominal value confirmed by reading it back.
    for (int ch = 0; ch < channels; ++ch) {
        const ModuleProfile::Channel& c = profile.channels.at(ch);
        const QString vu = module->voltageUnit(ch);
        const QString cu = module->currentUnit(ch);
        const QString channelName = QStringLiteral("Channel%1").arg(ch);

        if (!checked(
                module->setChannelControl(ch, c.control), module, tr("%1.Control 0x%2").arg(channelName, hex4(c.control))))
            return WriteRefused;
        // Only a word the module answered confirms the write (or shows it differs).
        int polls = channelReadBackPolls;
        quint32 readBack = 0;
        bool read = false;
        while (!((read = module->readChannelControl(ch, &readBack)) && readBack == c.control) && --polls > 0)
            pause();
        qCDebug(lcProfiles, "Control[%d]:  timeout = %d", ch, polls);
        if (polls == 0) {
            return fail(ChannelNotConfirmed,
                tr("Error setting Channel %1 Control word to %2 (%3). Giving up.")
                    .arg(ch)
                    .arg(hex4(c.control),
                        read ? tr("read back %1").arg(hex4(readBack)) : tr("not read back: %1").arg(module->lastError())));
        }

        const float voltageNominal = float(c.voltageNominal);
        if (!checked(module->setChannelVoltageNominal(ch, voltageNominal), module,
                tr("%1.VoltageMaxSet %2 %3").arg(channelName, shortest(voltageNominal), vu)))
            return WriteRefused;
        ChannelSettings readBackSettings;
        const auto readNominals = [&] { return module->readChannelSettings(ch, &readBackSettings); };
        polls = channelReadBackPolls;
        while (!(readNominals() && sameNominal(readBackSettings.voltageNominal, voltageNominal)) && --polls > 0)
            pause();
        qCDebug(lcProfiles, "Vnominal[%d]: timeout = %d", ch, polls);
        if (polls == 0) {
            return fail(ChannelNotConfirmed,
                tr("Error setting Channel %1 VoltageMaxSet to %2 %4 (read back %3 %4). Giving up.")
                    .arg(ch)
                    .arg(shortest(voltageNominal), shortest(readBackSettings.voltageNominal), vu));
        }

        const float currentNominal = float(c.currentNominal);
        if (!checked(module->setChannelCurrentNominal(ch, currentNominal), module,
                tr("%1.CurrentMaxSet %2 %3").arg(channelName, shortest(currentNominal), cu)))
            return WriteRefused;
        polls = channelReadBackPolls;
        while (!(readNominals() && sameNominal(readBackSettings.currentNominal, currentNominal)) && --polls > 0)
            pause();
        qCDebug(lcProfiles, "Inominal[%d]: timeout = %d", ch, polls);
        if (polls == 0) {
            return fail(ChannelNotConfirmed,
                tr("Error setting Channel %1 CurrentMaxSet to %2 %4 (read back %3 %4). Giving up.")
                    .arg(ch)
                    .arg(shortest(currentNominal), shortest(readBackSettings.currentNominal), cu));
        }

        const auto value = [&](const char* key, double v, const QString& unit) {
            return QStringLiteral("%1.%2 %3 %4").arg(channelName, QLatin1String(key), shortest(float(v)), unit);
        };
        const Write channelWrites[] = {
            {value("VoltageSet", c.voltageSet, vu), [&] { return module->setChannelVoltageSet(ch, float(c.voltageSet)); }},
            {value("CurrentSet", c.currentSet, cu), [&] { return module->setChannelCurrentSet(ch, float(c.currentSet)); }},
            {QStringLiteral("%1.EventMask 0x%2").arg(channelName, hex4(c.eventMask)),
                [&] { return module->setChannelEventMask(ch, c.eventMask); }},
            {value("VoltageIlkMaxSet", c.voltageInterlockMaxSet, vu),
                [&] { return module->setChannelVoltageInterlockMaxSet(ch, float(c.voltageInterlockMaxSet)); }},
            {value("VoltageIlkMinSet", c.voltageInterlockMinSet, vu),
                [&] { return module->setChannelVoltageInterlockMinSet(ch, float(c.voltageInterlockMinSet)); }},
            {value("CurrentIlkMaxSet", c.currentInterlockMaxSet, cu),
                [&] { return module->setChannelCurrentInterlockMaxSet(ch, float(c.currentInterlockMaxSet)); }},
            {value("CurrentIlkMinSet", c.currentInterlockMinSet, cu),
                [&] { return module->setChannelCurrentInterlockMinSet(ch, float(c.currentInterlockMinSet)); }},
        };
        for (const Write& w : channelWrites) {
            if (!checked(w.second(), module, w.first))
                return WriteRefused;
        }
    }

    // 5. Store the set values in the module's own memory; the module clears the request when done.
    for (;;) {
        working |= ModuleControlBit::stop | ModuleControlBit::saveSetValues;
        if (!checked(module->setControl(working), module, tr("Module.Control 0x%1").arg(hex4(working))))
            return WriteRefused;
        // A poll whose read is not answered is no answer to the request: only a word read counts.
        bool acknowledged = false;
        int polls = saveAcknowledgePolls;
        do {
            pause();
            quint32 word = 0;
            if (module->readControl(&word)) {
                working = word & 0xFFFFu;
                acknowledged = working & ModuleControlBit::saveSetValues;
            }
        } while (!acknowledged && --polls > 0);
        qCDebug(lcProfiles, "Control.saveSetValues: timeout = %d, control = %x", polls, working);
        if (acknowledged)
            break;
        if (!m_hooks.askRetry || !m_hooks.askRetry(tr("Error setting ModuleControl.DoSaveSetValues. Try again?"))) {
            return fail(SaveNotAcknowledged,
                tr("The module did not take the request to store its set values; it was left in stop mode."));
        }
    }
    int polls = saveFinishPolls;
    bool finished = false;
    do {
        pause();
        quint32 word = 0;
        if (module->readControl(&word)) {
            working = word & 0xFFFFu;
            finished = !(working & ModuleControlBit::saveSetValues);
        }
    } while (!finished && --polls > 0);
    qCDebug(lcProfiles, "Control.saveSetValues: timeout = %d, control = %x", polls, working);
    if (!finished) {
        return fail(SaveNotFinished,
            tr("Error saving the set values: the module did not report storing them finished in time "
               "(ModuleControl.DoSaveSetValues still set, or not read). The profile may not be stored in the "
               "module, and the module was left in stop mode. Giving up."));
    }

    // Stop mode released, events cleared, from the word the module holds now.
    if (!checked(
            module->updateControl(ModuleControlBit::saveSetValues | ModuleControlBit::stop, ModuleControlBit::clearEvents),
            module, tr("Module.Control (release stop mode)")))
        return WriteRefused;
    log(tr("Profile written into device!"));
    if (m_hooks.inform)
        m_hooks.inform(tr("Profile written into device!"));
    return Written;
}
