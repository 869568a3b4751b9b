#include "ChannelMenuCommands.h"

#include "CommandDesk.h"

#include "controller/ApplicationIdentity.h"
#include "device/BaseModule.h"
#include "device/ChannelSettings.h"
#include "device/DeviceSession.h"
#include "device/ModuleCommands.h"
#include "device/ModuleSnapshot.h"
#include "device/NominalRange.h"
#include "device/SetValueCheck.h"
#include "device/StatusWordBits.h"
#include "device/WriteJournal.h"
#include "dialogs/DialogInhibit.h"
#include "dialogs/DialogSetCurrent.h"
#include "dialogs/DialogSetUserNominalValues.h"
#include "dialogs/common/UserDialogs.h"

#include <QPointer>

#include <cmath>
#include <optional>

namespace {

using Urgency = CommandDesk::Urgency;

QString bipolarNote()
{
    return ChannelMenuCommands::tr("\n\nNote: the maximum delta for bipolar modules is 3000 V.");
}

QString allChannelsValueText(BaseModule* module, bool voltage, double value)
{
    return CommandOutcome::allChannelsValueText(*module, voltage, value);
}

QString tripText(int action, int delayMs)
{
    return ChannelMenuCommands::tr("set delayed trip action %1 after %2 ms").arg(action).arg(delayMs);
}

// What a current trip dialog showed once its values were answered, as its widgets round them.
struct TripShown
{
    double value = 0.0;
    int action = 0;
    int delayMs = 0;
    QString unit;
};

void fillTripDialog(DialogSetCurrent& dialog, const ChannelSettings& settings, int decimals, double maximum)
{
    dialog.setValuesAnswered();
    dialog.setAvailable(settings.currentControl);
    dialog.setDecimals(decimals);
    dialog.setMaximum(maximum);
    dialog.setUnit(settings.currentUnit);
    dialog.setValue(settings.currentSet);
    dialog.setDelayedTrip(settings.delayedTripEnabled);
    dialog.setRampDown(settings.delayedTripEnabled ? settings.delayedTripRampDown : true);
    dialog.setDelay(settings.delayedTripTimeMs);
}

} // namespace

ChannelMenuCommands::ChannelMenuCommands(CommandDesk* desk, WindowHooks hooks, QObject* parent)
    : QObject(parent)
    , m_desk(desk)
    , m_hooks(std::move(hooks))
{
}

// ---- Editing in the table ----

void ChannelMenuCommands::writeTypedValue(int row, bool voltage, const QString& text)
{
    const WriteSource source("table");
    const QString what = voltage ? tr("set voltage") : tr("set current");
    QPointer<BaseModule> module;
    if (!m_desk->commandModule(module, what) || row < 0 || row >= module->channelNumber())
        return;
    // The crate would refuse it too; checked here so the operator learns the range at once.
    const std::shared_ptr<const ModuleSnapshot> snapshot = m_desk->freshChannelRead(module);
    const SetValueCheck check = SetValueCheck::ofTyped(text, snapshot.get(), row, voltage, SetValueCheck::isBipolar(*module),
        voltage ? module->voltageUnit(row) : module->currentUnit(row));
    if (!check.accepted()) {
        m_desk->showRefusal(module, row, check.what, check.refusal);
        return;
    }
    m_desk->writeChannelValue(module, row, voltage, check.value);
}

// ---- Switching ----

void ChannelMenuCommands::switchChosen(
    BaseModule::SwitchAction action, const QString& what, bool removesVoltage, CommandDesk::Urgency urgency)
{
    QPointer<BaseModule> module;
    QList<int> channels;
    if (m_desk->commandChannels(module, channels, what, removesVoltage))
        m_desk->submitChannels(module, channels, action, what, urgency);
}

void ChannelMenuCommands::switchEvery(
    BaseModule::SwitchAction action, const QString& what, bool removesVoltage, CommandDesk::Urgency urgency)
{
    QPointer<BaseModule> module;
    if (m_desk->commandModule(module, what, removesVoltage))
        m_desk->submitChannels(module, CommandDesk::allChannelsOf(module), action, what, urgency);
}

void ChannelMenuCommands::switchOn()
{
    switchChosen(BaseModule::SwitchAction::On, tr("switch on"));
}

void ChannelMenuCommands::switchOff()
{
    switchChosen(BaseModule::SwitchAction::Off, tr("switch off"), true);
}

void ChannelMenuCommands::emergencyOff()
{
    switchChosen(BaseModule::SwitchAction::EmergencyOff, tr("emergency off"), true, Urgency::EmergencyOff);
}

void ChannelMenuCommands::clearEmergencyOff()
{
    switchChosen(BaseModule::SwitchAction::ClearEmergencyOff, tr("clear emergency off"));
}

void ChannelMenuCommands::clearEvents()
{
    switchChosen(BaseModule::SwitchAction::ClearEvents, tr("clear events"));
}

void ChannelMenuCommands::switchAllOn()
{
    switchEvery(BaseModule::SwitchAction::On, tr("switch on"));
}

void ChannelMenuCommands::switchAllOff()
{
    switchEvery(BaseModule::SwitchAction::Off, tr("switch off"), true);
}

void ChannelMenuCommands::emergencyOffAll()
{
    switchEvery(BaseModule::SwitchAction::EmergencyOff, tr("emergency off"), true, Urgency::EmergencyOff);
}

void ChannelMenuCommands::clearEmergencyOffAll()
{
    switchEvery(BaseModule::SwitchAction::ClearEmergencyOff, tr("clear emergency off"));
}

// ---- Measurement ----

void ChannelMenuCommands::setMeasurementControlBit(quint32 bit, bool on)
{
    const WriteSource source("command");
    const QString what = on ? tr("set measurement bit 0x%1").arg(bit & 0xFFFF, 4, 16, QLatin1Char('0'))
                            : tr("clear measurement bit 0x%1").arg(bit & 0xFFFF, 4, 16, QLatin1Char('0'));
    QPointer<BaseModule> module;
    QList<int> channels;
    if (!m_desk->commandChannels(module, channels, what))
        return;
    // The word is read fresh and written in one step: a failed read writes nothing.
    m_desk->submitChannels(
        module, channels,
        [on, bit](
            BaseModule& each, int channel) { return each.updateChannelControl(channel, on ? 0u : bit, on ? bit : 0u); },
        what);
}

void ChannelMenuCommands::externalMeasurementOn()
{
    setMeasurementControlBit(ChannelControlBit::externalMeasurement, true);
}

void ChannelMenuCommands::externalMeasurementOff()
{
    setMeasurementControlBit(ChannelControlBit::externalMeasurement, false);
}

void ChannelMenuCommands::rippleMeasurementOn()
{
    setMeasurementControlBit(ChannelControlBit::rippleMeasurement, true);
}

void ChannelMenuCommands::rippleMeasurementOff()
{
    // Only the 16-bit control word carries meaning.
    setMeasurementControlBit(ChannelControlBit::rippleMeasurement | 0xFFFF0000u, false);
}

void ChannelMenuCommands::measureBothAtCursor(BaseModule* module, int channel)
{
    m_desk->submitWrite(module, channel, tr("both measurements on"),
        [channel](BaseModule& m) { return m.setChannelBothMeasurementsEnabled(channel, true); });
}

void ChannelMenuCommands::switchBothMeasurements(bool on)
{
    const WriteSource source("command");
    const QString what = on ? tr("both measurements on") : tr("both measurements off");
    QPointer<BaseModule> module;
    QList<int> channels;
    if (!m_desk->commandChannels(module, channels, what))
        return;
    m_desk->submitChannels(
        module, channels,
        [on](BaseModule& each, int channel) { return each.setChannelBothMeasurementsEnabled(channel, on); }, what);
}

// ---- Prompted values ----

void ChannelMenuCommands::promptChannelValue(bool voltage, bool allChannels)
{
    const WriteSource source("prompt");
    const QString what = voltage ? tr("set voltage") : tr("set current");
    QPointer<BaseModule> module;
    QList<int> channels;
    if (allChannels ? !m_desk->commandModule(module, what) : !m_desk->commandChannels(module, channels, what))
        return;
    if (allChannels)
        channels = CommandDesk::allChannelsOf(module);
    // Limits and the value offered come from the latest channel read while it is fresh; a read
    // that failed or is too old offers nothing to start from, so nothing is asked.
    // Several channels are offered the module's full range, with a note when some allow less.
    const std::shared_ptr<const ModuleSnapshot> snapshot = m_desk->freshChannelRead(module);
    const QList<int> ranged = channels.size() > 1 ? CommandDesk::allChannelsOf(module) : channels;
    const NominalRange range = snapshot ? NominalRange::of(*snapshot, ranged, voltage) : NominalRange();
    if (!range.found || range.largest <= 0.0f) {
        m_desk->showNoReading(module, what);
        return;
    }
    const int cursor = m_hooks.selectedChannel();
    const int shown = channels.contains(cursor) ? cursor : channels.first();
    const ChannelReading& reading = snapshot->channels.at(shown);
    const QString unit = voltage ? snapshot->voltageUnit : snapshot->currentUnit;
    const bool bipolar = voltage && SetValueCheck::isBipolar(*module);
    const float lower = bipolar ? -range.largest : 0.0f;
    QString label;
    if (allChannels) {
        label = (voltage ? tr("Input a Set voltage (%L1...%L2 %3) for all channels:")
                         : tr("Input a Set current (%L1...%L2 %3) for all channels:"))
                    .arg(double(lower))
                    .arg(double(range.largest))
                    .arg(unit)
            + CommandDesk::someChannelsNote(range, unit);
    } else if (channels.size() > 1) {
        label = (voltage ? tr("Input a voltage (0...%L1 %2) for the selected channels:")
                         : tr("Input a current (0...%L1 %2) for the selected channels:"))
                    .arg(double(range.largest))
                    .arg(unit)
            + CommandDesk::someChannelsNote(range, unit);
    } else if (voltage) {
        label = tr("Input a voltage (%L1...%L2 %3) for channel %4:")
                    .arg(double(lower))
                    .arg(double(range.largest))
                    .arg(unit)
                    .arg(shown);
    } else {
        label = tr("Input a current (0...%L1 %2) for channel %3:").arg(double(range.largest)).arg(unit).arg(shown);
    }
    if (bipolar)
        label += bipolarNote();

    bool ok = false;
    const double value = m_desk->dialogs()->getDouble(m_desk->window(), ApplicationIdentity::title(), label,
        voltage ? reading.voltageSet : reading.currentSet, lower, range.largest,
        voltage ? module->voltagePrecision() : module->currentPrecision(), &ok);
    if (!ok || !m_desk->isHeld(module))
        return;
    // The units may have been changed while the prompt was open: the number is not sent in
    // units other than the ones it was asked in.
    if (unit != (voltage ? module->voltageUnit(0) : module->currentUnit(0))) {
        m_desk->showCommandMessage(
            tr("%1: the units changed while asking; nothing was sent.").arg(CommandOutcome::capitalised(what)));
        return;
    }
    if (allChannels) {
        m_desk->submitWrite(module, -1, allChannelsValueText(module, voltage, value), [=](BaseModule& m) {
            return voltage ? m.setAllChannelsVoltageSet(float(value)) : m.setAllChannelsCurrentSet(float(value));
        });
        return;
    }
    const QString valueWhat = SetValueCheck::valueText(voltage, value, unit);
    const auto quantity = voltage ? BaseModule::SetQuantity::Voltage : BaseModule::SetQuantity::Current;
    m_desk->submitCommand(
        module, valueWhat, int(channels.size()),
        [channels, quantity, value, valueWhat](BaseModule& each) {
            return CommandOutcome{CommandOutcome::ofReasons(
                                      each, channels, each.setChannelsValue(channels, quantity, float(value)), valueWhat),
                {}};
        },
        Urgency::Normal, channels);
}

void ChannelMenuCommands::promptVoltage()
{
    promptChannelValue(true, false);
}

void ChannelMenuCommands::promptCurrent()
{
    promptChannelValue(false, false);
}

void ChannelMenuCommands::promptAllVoltages()
{
    promptChannelValue(true, true);
}

void ChannelMenuCommands::promptAllCurrents()
{
    promptChannelValue(false, true);
}

void ChannelMenuCommands::setVoltagesIncremental()
{
    const WriteSource source("command");
    const QString what = tr("set incremental voltages");
    QPointer<BaseModule> module;
    if (!m_desk->commandModule(module, what))
        return;
    const int n = module->channelNumber();
    const std::shared_ptr<const ModuleSnapshot> snapshot = m_desk->freshChannelRead(module);
    const NominalRange range = snapshot && n > 0 ? NominalRange::of(*snapshot, {0}, true) : NominalRange();
    if (!range.found || range.largest <= 0.0f) {
        m_desk->showNoReading(module, what);
        return;
    }
    const float nominal = range.largest;
    const bool descending = m_incrementalDescending;
    m_desk->submitChannels(
        module, CommandDesk::allChannelsOf(module),
        [descending, n, nominal](BaseModule& each, int channel) {
            return each.setChannelVoltageSet(channel, ModuleCommands::incrementalVoltage(channel, n, nominal, descending));
        },
        tr("set voltage"));
    m_incrementalDescending = !m_incrementalDescending;
}

// ---- Selection prompt ----

void ChannelMenuCommands::selectChannel()
{
    QPointer<BaseModule> module = m_desk->session()->currentModule();
    if (!module || module->channelNumber() <= 0)
        return;
    const int last = module->channelNumber() - 1;
    bool ok = false;
    const int row = m_desk->dialogs()->getInt(m_desk->window(), ApplicationIdentity::title(),
        tr("Select Channel (0...%1):").arg(last), qBound(0, m_hooks.selectedChannel(), last), 0, last, 1, &ok);
    if (ok && m_desk->isHeld(module))
        m_hooks.selectChannel(row);
}

// ---- Current trip ----

void ChannelMenuCommands::currentTrip()
{
    const QString what = tr("set current trip");
    QPointer<BaseModule> module;
    const int channel = m_desk->singleChannelTarget(module, what);
    if (channel < 0)
        return;
    TripShown shown;
    DialogSetCurrent dialog(m_desk->window());
    dialog.setChannel(channel);
    dialog.setValuesPending(tr("Reading channel %1...").arg(channel));
    const int decimals = module->currentPrecision();
    m_desk->readChannelSettingsFor(
        &dialog, module, channel,
        [&dialog, &shown, decimals](const ChannelSettings& settings) {
            fillTripDialog(dialog, settings, decimals, std::fabs(settings.currentNominal));
            shown = {dialog.value(), dialog.action(), dialog.delay(), settings.currentUnit};
        },
        [&dialog, channel](
            const QString& reason) { dialog.setValuesPending(CommandDesk::unreadText(channel, reason), true); });
    if (m_desk->dialogs()->exec(&dialog) != QDialog::Accepted || !dialog.valuesAnswered() || !m_desk->isHeld(module))
        return;
    if (shown.unit != module->currentUnit(channel)) {
        m_desk->showCommandMessage(tr("Set current trip: the units changed while the dialog was open; nothing was sent."));
        return;
    }
    // Only what the operator changed is sent.
    const bool valueChanged = dialog.value() != shown.value;
    const bool tripChanged = dialog.action() != shown.action || (dialog.action() != 0 && dialog.delay() != shown.delayMs);
    const WriteSource source("prompt");
    if (valueChanged)
        m_desk->writeChannelValue(module, channel, false, float(dialog.value()));
    if (tripChanged) {
        const auto action = BaseModule::OutputSupervisionAction(dialog.action());
        const int delayMs = dialog.delay();
        m_desk->submitWrite(module, channel, tripText(dialog.action(), delayMs),
            [=](BaseModule& each) { return each.setChannelDelayedTripAction(channel, action, delayMs); });
    }
    if (!valueChanged && !tripChanged)
        m_desk->showNote(tr("Set current trip: nothing was changed, nothing was sent."));
}

void ChannelMenuCommands::currentTripAll()
{
    const QString what = tr("set current trip for all channels");
    QPointer<BaseModule> module;
    if (!m_desk->commandModule(module, what))
        return;
    // The limits come from the latest fresh read of every channel; the fields start from the
    // chosen channel (the first without a choice), read now.
    const std::shared_ptr<const ModuleSnapshot> snapshot = m_desk->freshChannelRead(module);
    const NominalRange range =
        snapshot ? NominalRange::of(*snapshot, CommandDesk::allChannelsOf(module), false) : NominalRange();
    if (!range.found || range.largest <= 0.0f) {
        m_desk->showNoReading(module, tr("set current trip"));
        return;
    }
    const int channel = qMax(0, m_hooks.selectedChannel());
    DialogSetCurrent dialog(m_desk->window());
    dialog.setChannel(-1);
    dialog.setMaximum(range.largest);
    dialog.setSmallestNominal(range.smallest);
    dialog.setValuesPending(tr("Reading channel %1...").arg(channel));
    QString unit;
    const int decimals = module->currentPrecision();
    const double largest = range.largest;
    m_desk->readChannelSettingsFor(
        &dialog, module, channel,
        [&dialog, &unit, decimals, largest](const ChannelSettings& settings) {
            fillTripDialog(dialog, settings, decimals, largest);
            unit = settings.currentUnit;
        },
        [&dialog, channel](
            const QString& reason) { dialog.setValuesPending(CommandDesk::unreadText(channel, reason), true); });
    if (m_desk->dialogs()->exec(&dialog) != QDialog::Accepted || !dialog.valuesAnswered() || !m_desk->isHeld(module))
        return;
    if (unit != module->currentUnit(0)) {
        m_desk->showCommandMessage(tr("Set current trip: the units changed while the dialog was open; nothing was sent."));
        return;
    }
    // Asked for every channel: every field shown is sent, changed or not.
    const WriteSource source("prompt");
    const float value = float(dialog.value());
    const auto action = BaseModule::OutputSupervisionAction(dialog.action());
    const int delayMs = dialog.delay();
    const QString tripWhat = tripText(dialog.action(), delayMs) + tr(" for all channels");
    m_desk->submitCommand(module, allChannelsValueText(module, false, value), 0, [=](BaseModule& each) {
        CommandOutcome outcome = CommandOutcome::ofWrite(
            each, each.setAllChannelsCurrentSet(value), -1, allChannelsValueText(&each, false, value));
        outcome.failures +=
            CommandOutcome::ofWrite(each, each.setAllChannelsDelayedTripAction(action, delayMs), -1, tripWhat).failures;
        return outcome;
    });
}

// ---- External inhibit ----

void ChannelMenuCommands::runInhibitDialog(bool allChannels)
{
    const QString what =
        allChannels ? tr("set external inhibit action for all channels") : tr("set external inhibit action");
    QPointer<BaseModule> module;
    int channel = -1;
    if (allChannels) {
        if (!m_desk->commandModule(module, what))
            return;
        channel = qMax(0, m_hooks.selectedChannel());
    } else {
        channel = m_desk->singleChannelTarget(module, what);
        if (channel < 0)
            return;
    }
    DialogInhibit dialog(m_desk->window());
    dialog.setChannel(allChannels ? -1 : channel);
    dialog.setValuesPending(tr("Reading channel %1...").arg(channel));
    int shownAction = -1;
    m_desk->readChannelSettingsFor(
        &dialog, module, channel,
        [&dialog, &shownAction](const ChannelSettings& settings) {
            dialog.setValuesAnswered();
            dialog.setAction(settings.inhibitAction);
            shownAction = dialog.action();
        },
        [&dialog, channel](
            const QString& reason) { dialog.setValuesPending(CommandDesk::unreadText(channel, reason), true); });
    if (m_desk->dialogs()->exec(&dialog) != QDialog::Accepted || !dialog.valuesAnswered() || !m_desk->isHeld(module))
        return;
    const WriteSource source("prompt");
    const auto action = BaseModule::OutputSupervisionAction(dialog.action());
    if (allChannels) {
        m_desk->submitWrite(module, -1, tr("set external inhibit action %1 for all channels").arg(dialog.action()),
            [action](BaseModule& each) { return each.setAllChannelsInhibitAction(action); });
    } else if (dialog.action() != shownAction) {
        m_desk->submitWrite(module, channel, tr("set external inhibit action %1").arg(dialog.action()),
            [channel, action](BaseModule& each) { return each.setChannelInhibitAction(channel, action); });
    } else {
        m_desk->showNote(tr("External inhibit: nothing was changed, nothing was sent."));
    }
}

void ChannelMenuCommands::inhibitAction()
{
    runInhibitDialog(false);
}

void ChannelMenuCommands::inhibitActionAll()
{
    runInhibitDialog(true);
}

// ---- User nominal values ----

void ChannelMenuCommands::nominalValues()
{
    const QString what = tr("set nominal values");
    QPointer<BaseModule> module;
    const int row = m_desk->singleChannelTarget(module, what);
    if (row < 0)
        return;

    DialogSetUserNominalValues dialog(m_desk->window());
    dialog.setValuesPending(tr("Reading channel %1...").arg(row));
    const int voltageDecimals = module->voltagePrecision();
    const int currentDecimals = module->currentPrecision();
    // What the spin boxes show is the module's value rounded to their decimals: a value the
    // operator did not touch compares equal to it and is not written.
    double shownVoltage = 0.0;
    double shownCurrent = 0.0;
    QString voltageUnit;
    QString currentUnit;
    m_desk->readChannelSettingsFor(
        &dialog, module, row,
        [&](const ChannelSettings& settings) {
            dialog.setValuesAnswered();
            dialog.setVoltageDecimals(voltageDecimals);
            dialog.setVoltageMaximum(settings.voltageHardwareNominal);
            dialog.setVoltageNominal(settings.voltageNominal);
            dialog.setVoltageUnit(settings.voltageUnit);
            dialog.setCurrentDecimals(currentDecimals);
            dialog.setCurrentMaximum(settings.currentHardwareNominal);
            dialog.setCurrentNominal(settings.currentNominal);
            dialog.setCurrentUnit(settings.currentUnit);
            shownVoltage = dialog.voltageNominal();
            shownCurrent = dialog.currentNominal();
            voltageUnit = settings.voltageUnit;
            currentUnit = settings.currentUnit;
        },
        [&dialog, row](const QString& reason) { dialog.setValuesPending(CommandDesk::unreadText(row, reason), true); });

    if (m_desk->dialogs()->exec(&dialog) != QDialog::Accepted || !dialog.valuesAnswered() || !m_desk->isHeld(module))
        return;
    if (voltageUnit != module->voltageUnit(row) || currentUnit != module->currentUnit(row)) {
        m_desk->showCommandMessage(tr("Set nominal values: the units changed while the dialog was open; nothing was sent."));
        return;
    }
    const double voltage = dialog.voltageNominal();
    const double current = dialog.currentNominal();
    if (voltage == shownVoltage && current == shownCurrent) {
        m_desk->showNote(tr("Set nominal values: nothing was changed, nothing was sent."));
        return;
    }

    const WriteSource source("prompt");
    const std::optional<double> newVoltage = voltage != shownVoltage ? std::optional<double>(voltage) : std::nullopt;
    const std::optional<double> newCurrent = current != shownCurrent ? std::optional<double>(current) : std::nullopt;
    m_desk->submitCommand(module, what, 0, [=](BaseModule& each) {
        return ModuleCommands::changeNominalValues(each, row, newVoltage, voltageUnit, newCurrent, currentUnit);
    });
}
