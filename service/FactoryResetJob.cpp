#include "FactoryResetJob.h"

#include "device/BaseModule.h"
#include "device/StatusWordBits.h"
#include "device/VmeModule.h"
#include "service/ServiceJob.h"

#include <cmath>

namespace {
constexpr quint32 requestStop = ModuleControlBit::stop;
constexpr quint32 saveSetValuesBit = ModuleControlBit::saveSetValues;
// Store the set values as the module's defaults: save with fine adjustment, clear and stop.
constexpr quint32 storeFactoryDefaults = ModuleControlBit::saveSetValues | ModuleControlBit::fineAdjustment
    | ModuleControlBit::clearEvents | ModuleControlBit::stop;
static_assert(storeFactoryDefaults == 0x9044, "the module's store command");
constexpr quint32 allBits = 0xFFFFFFFF;

// How often a value is read until it shows what was written, 1 ms apart. The module takes its
// time for each; these are the limits the module's makers give.
constexpr int channelReadBackReads = 200;
constexpr int stopReads = 199;
constexpr int saveReads = 5000;
constexpr int readBackWaitMs = 1;
constexpr double nominalTolerance = 1e-12;
} // namespace

FactoryResetJob::FactoryResetJob(DeviceSession* session, BaseModule* module, QObject* parent)
    : ServiceJob(session, module, QStringLiteral("factory reset"), parent)
{
    connect(this, &ServiceJob::refused, this, [this] { m_refused = true; });
}

// Steps capture the job only for their continuations, which run in the job's thread; on the
// device side a step touches the module and its own copies alone.

void FactoryResetJob::begin()
{
    runStep([this](BaseModule& module, StepWrites&) -> Continuation {
        const int channels = module.channelNumber();
        // Where the 24-channel layout keeps its hardware nominal values is not documented (its
        // variable group table lies where they would be). Its reset keeps the channels' nominal
        // values as they are instead of writing what an undocumented address holds, and takes
        // the current set value from the channel's own current nominal.
        const bool keepNominals = module.deviceClass() == VmeModule::class29;
        return [this, channels, keepNominals] {
            m_channels = channels;
            m_keepNominals = keepNominals;
            if (keepNominals)
                emit message(tr("This module type does not document its hardware nominal values: the "
                                "channels keep their nominal values."));
            firstPass(0);
        };
    });
}

void FactoryResetJob::advance(const QString& step)
{
    // Two passes over the channels, the module's settings and the store.
    setProgress(++m_done, 2 * m_channels + 2, step);
}

bool FactoryResetJob::readNominals(BaseModule& module, int channel, bool keepNominals, Nominals* nominals)
{
    if (keepNominals) {
        nominals->voltage = module.channelVoltageNominal(channel);
        nominals->current = module.channelCurrentNominal(channel);
    } else {
        nominals->voltage = module.channelVoltageHardwareNominal(channel);
        nominals->current = module.channelCurrentHardwareNominal(channel);
    }
    nominals->voltageUnit = module.voltageUnit(channel);
    nominals->currentUnit = module.currentUnit(channel);
    return std::isfinite(nominals->voltage) && std::isfinite(nominals->current) && nominals->voltage > 0
        && nominals->current > 0;
}

void FactoryResetJob::nominalsUnreadable(int channel)
{
    giveUp(tr("Error reading the nominal values of Channel %1. Giving up.").arg(channel));
}

void FactoryResetJob::firstPass(int channel)
{
    if (channel >= m_channels) {
        secondPass(0);
        return;
    }
    // Every channel off with its nominal values back at the hardware's.
    const bool keepNominals = m_keepNominals;
    runStep([this, channel, keepNominals](BaseModule& module, StepWrites& writes) -> Continuation {
        Nominals nominals;
        if (!readNominals(module, channel, keepNominals, &nominals))
            return [this, channel] { nominalsUnreadable(channel); };
        writes.check(module.setChannelControl(channel, 0), channel, tr("set control 0"));
        if (!keepNominals) {
            writes.check(module.setChannelVoltageNominal(channel, nominals.voltage), channel, tr("set nominal voltage"));
            writes.check(module.setChannelCurrentNominal(channel, nominals.current), channel, tr("set nominal current"));
        }
        return [this, channel] {
            advance(tr("Channel %1 off").arg(channel));
            firstPass(channel + 1);
        };
    });
}

void FactoryResetJob::secondPass(int channel)
{
    if (channel >= m_channels) {
        writeModuleDefaults();
        return;
    }
    // The same again, now waiting until each value reads back.
    const bool keepNominals = m_keepNominals;
    runStep([this, channel, keepNominals](BaseModule& module, StepWrites& writes) -> Continuation {
        Nominals nominals;
        if (!readNominals(module, channel, keepNominals, &nominals))
            return [this, channel] { nominalsUnreadable(channel); };
        writes.check(module.setChannelControl(channel, 0), channel, tr("set control 0"));
        return [this, channel, nominals] {
            pollUntil(
                QStringLiteral("Control[%1]").arg(channel), channelReadBackReads, readBackWaitMs,
                [channel](BaseModule& module) {
                    // Only an answered read counts: a failed one reads 0 and would look like the
                    // reset word.
                    quint32 control = 0;
                    return module.readChannelControl(channel, &control) && control == 0;
                },
                [this, channel, nominals] { resetNominal(channel, nominals, true); },
                [this, channel, nominals] {
                    emit channelReset(
                        channel, nominals.voltage, nominals.voltageUnit, nominals.current, nominals.currentUnit);
                    giveUp(tr("Error resetting Channel %1 Control word. Giving up.").arg(channel));
                });
        };
    });
}

void FactoryResetJob::resetNominal(int channel, const Nominals& nominals, bool voltage)
{
    if (m_keepNominals) {
        writeChannelDefaults(channel, nominals);
        return;
    }
    const float value = voltage ? nominals.voltage : nominals.current;
    runStep([this, channel, nominals, voltage, value](BaseModule& module, StepWrites& writes) -> Continuation {
        if (voltage)
            writes.check(module.setChannelVoltageNominal(channel, value), channel, tr("set nominal voltage"));
        else
            writes.check(module.setChannelCurrentNominal(channel, value), channel, tr("set nominal current"));
        return [this, channel, nominals, voltage, value] {
            pollUntil(
                QString::fromLatin1(voltage ? "Vnominal[%1]" : "Inominal[%1]").arg(channel), channelReadBackReads,
                readBackWaitMs,
                [channel, voltage, value](BaseModule& module) {
                    const float read =
                        voltage ? module.channelVoltageNominal(channel) : module.channelCurrentNominal(channel);
                    return std::fabs(double(read) - double(value)) <= nominalTolerance;
                },
                [this, channel, nominals, voltage] {
                    if (voltage)
                        resetNominal(channel, nominals, false);
                    else
                        writeChannelDefaults(channel, nominals);
                },
                [this, channel, nominals, voltage] {
                    emit channelReset(
                        channel, nominals.voltage, nominals.voltageUnit, nominals.current, nominals.currentUnit);
                    giveUp((voltage ? tr("Error resetting Channel %1 voltage nominal. Giving up.")
                                    : tr("Error resetting Channel %1 current nominal. Giving up."))
                               .arg(channel));
                });
        };
    });
}

void FactoryResetJob::writeChannelDefaults(int channel, const Nominals& nominals)
{
    const float current = nominals.current;
    runStep([this, channel, nominals, current](BaseModule& module, StepWrites& writes) -> Continuation {
        writes.check(module.setChannelEventMask(channel, allBits), channel, tr("set event mask"));
        writes.check(module.setChannelVoltageSet(channel, 0), channel, tr("set voltage 0"));
        writes.check(module.setChannelCurrentSet(channel, current), channel, tr("set current"));
        writes.check(module.setChannelVoltageInterlockMaxSet(channel, 0), channel, tr("set voltage upper bound 0"));
        writes.check(module.setChannelVoltageInterlockMinSet(channel, 0), channel, tr("set voltage lower bound 0"));
        writes.check(module.setChannelCurrentInterlockMaxSet(channel, 0), channel, tr("set current upper bound 0"));
        writes.check(module.setChannelCurrentInterlockMinSet(channel, 0), channel, tr("set current lower bound 0"));
        return [this, channel, nominals] {
            emit channelReset(channel, nominals.voltage, nominals.voltageUnit, nominals.current, nominals.currentUnit);
            advance(tr("Channel %1 reset").arg(channel));
            secondPass(channel + 1);
        };
    });
}

void FactoryResetJob::writeModuleDefaults()
{
    runStep([this](BaseModule& module, StepWrites& writes) -> Continuation {
        writes.check(module.setVoltageRampSpeed(1.0f), -1, tr("set voltage ramp speed"));
        writes.check(module.setCurrentRampSpeed(50.0f), -1, tr("set current ramp speed"));
        writes.check(module.setEventMask(allBits), -1, tr("set module event mask"));
        writes.check(module.setEventChannelMask(allBits), -1, tr("set event channel mask"));
        writes.check(module.setEventGroupMask(allBits), -1, tr("set event group mask"));
        writes.check(module.setDigitalFilter(64), -1, tr("set digital filter"));
        writes.check(module.setAdcSamplesPerSecond(500), -1, tr("set ADC sample rate"));
        writes.check(module.setRestartTime(0), -1, tr("set restart time"));
        writes.check(module.setControl(requestStop), -1, tr("set module control 0x4"));
        return [this] {
            advance(tr("Module settings"));
            after(readBackWaitMs, [this] {
                pollUntil(
                    QStringLiteral("Mod.Status"), stopReads, readBackWaitMs,
                    [](BaseModule& module) { return (module.status() & ModuleStatusBit::stopped) != 0; },
                    [this] { storeSettings(); }, [this] { giveUp(tr("Error setting Module to mode STOP. Giving up.")); });
            });
        };
    });
}

void FactoryResetJob::storeSettings()
{
    runStep([this](BaseModule& module, StepWrites& writes) -> Continuation {
        writes.check(module.setControl(storeFactoryDefaults), -1, tr("store the settings"));
        return [this] { waitForStore(); };
    });
}

void FactoryResetJob::giveUp(const QString& text)
{
    m_gaveUp = text;
    waitForStore();
}

void FactoryResetJob::waitForStore()
{
    // The module stores its set values; the job waits until it reports that it is done. The
    // store is finished only when an answered read shows the save bit cleared.
    auto ended = [this](bool stored) {
        if (!m_gaveUp.isEmpty())
            finish(GaveUp, m_gaveUp);
        else if (!stored)
            finish(GaveUp, tr("The module did not report its settings stored. Giving up."));
        else if (m_refused)
            finish(Refused, tr("The module refused some of the settings."));
        else {
            advance(tr("Stored"));
            finish();
        }
    };
    after(readBackWaitMs, [this, ended] {
        pollUntil(
            QStringLiteral("Control.saveSetValues"), saveReads, readBackWaitMs,
            [](BaseModule& module) {
                quint32 control = 0;
                return module.readControl(&control) && (control & saveSetValuesBit) == 0;
            },
            [ended] { ended(true); }, [ended] { ended(false); });
    });
}
