#include "device/ModuleCommands.h"

#include "device/BaseModule.h"
#include "device/ChannelSettings.h"
#include "device/CommandTarget.h"
#include "device/ModuleSnapshot.h"
#include "device/StatusWordBits.h"

CommandOutcome ModuleCommands::changeWord(BaseModule& module, const QString& what, const QString& wordName, int channel,
    quint32 clearBits, quint32 setBits, const std::function<quint32(BaseModule&)>& read,
    const std::function<bool(BaseModule&, quint32)>& write)
{
    const quint32 word = read(module);
    if (!module.connected())
        return CommandOutcome{{tr("%1 not written: the module did not answer").arg(wordName)}, {}};
    return CommandOutcome::ofWrite(module, write(module, ((word & ~clearBits) | setBits) & 0xFFFF), channel, what);
}

CommandOutcome ModuleCommands::changeChannelControl(
    BaseModule& module, int channel, quint32 clearBits, quint32 setBits, const QString& what)
{
    const bool ok = module.updateChannelControl(channel, clearBits, setBits);
    if (!ok || !(clearBits & ChannelControlBit::emergencyOff))
        return CommandOutcome::ofWrite(module, ok, channel, what);
    return CommandOutcome::ofWrite(module, module.clearChannelEmergencyOff(channel), channel, tr("clear emergency off"));
}

CommandOutcome ModuleCommands::changeNominalValues(BaseModule& module, int channel, std::optional<double> voltage,
    const QString& voltageUnit, std::optional<double> current, const QString& currentUnit)
{
    quint32 control = 0;
    if (!module.readControl(&control))
        return CommandOutcome::ofWrite(module, false, -1, tr("set stop mode"));
    const bool wasStopped = control & ModuleControlBit::stop;
    if (!wasStopped) {
        CommandOutcome stop =
            CommandOutcome::ofWrite(module, module.updateControl(0, ModuleControlBit::stop), -1, tr("set stop mode"));
        if (!stop.failures.isEmpty())
            return stop;
    }
    CommandOutcome outcome;
    if (voltage)
        outcome.failures += CommandOutcome::ofWrite(module, module.setChannelVoltageNominal(channel, float(*voltage)),
            channel, nominalText(true, *voltage, voltageUnit))
                                .failures;
    if (current)
        outcome.failures += CommandOutcome::ofWrite(module, module.setChannelCurrentNominal(channel, float(*current)),
            channel, nominalText(false, *current, currentUnit))
                                .failures;
    if (!wasStopped)
        outcome.failures +=
            CommandOutcome::ofWrite(module, module.updateControl(ModuleControlBit::stop, 0), -1, tr("leave stop mode"))
                .failures;
    module.setConnectionState(BaseModule::ModuleStateUnknown);
    return outcome;
}

QString ModuleCommands::nominalRefusal(const ModuleSnapshot* snapshot, qint64 nowMs)
{
    if (!snapshot || !snapshot->values.statusValid || !snapshot->connected(nowMs)
        || !(snapshot->values.status & ModuleStatusBit::stopped))
        return tr("(the module is not in stop mode)");
    return QString();
}

QString ModuleCommands::nominalText(bool voltage, double value, const QString& unit)
{
    return (voltage ? tr("set nominal voltage %1 %2") : tr("set nominal current %1 %2"))
        .arg(CommandOutcome::numberText(value), unit);
}

CommandOutcome ModuleCommands::switchAllChannels(BaseModule& module, BaseModule::SwitchAction action, const QString& what)
{
    CommandOutcome outcome;
    for (const QString& failure : CommandOutcome::ofSwitch(module, CommandTarget::allChannels(module), action, what))
        outcome.failures.append(tr("%1: %2").arg(module.address(), failure));
    return outcome;
}

float ModuleCommands::incrementalVoltage(int channel, int count, float nominal, bool descending)
{
    const float step = qMin(nominal / float(count), 100.0f);
    const int stepsBelowNominal = descending ? channel : count - 1 - channel;
    return nominal - float(stepsBelowNominal) * step;
}

bool ModuleCommands::readChannelSettings(BaseModule& module, int channel, ChannelSettings* settings, QString* reason)
{
    for (int attempt = 1;; ++attempt) {
        if (module.readChannelSettings(channel, settings))
            return true;
        *reason = module.lastError();
        if (attempt >= settingsReadAttempts || !BaseModule::isNoAnswer(*reason))
            return false;
    }
}
