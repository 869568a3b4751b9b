// The control windows of the main window: supplies and temperatures, crates, variable groups
// (tool windows, created on first use and kept), and the modal current trip, external inhibit
// and user nominal value dialogs. Their writes go through the module operations and report a
// refusal like every other command (submitCommand).
#include "TesmarControl.h"

#include "dialogs/common/StatusMessages.h"

#include "ChannelTable.h"
#include "CrateCommands.h"
#include "dialogs/common/UserDialogs.h"
#include "ui_TesmarControl.h"

#include "device/BaseModule.h"
#include "device/CommandTarget.h"
#include "device/DeviceSession.h"
#include "device/ModuleCommands.h"
#include "device/ModuleSnapshot.h"
#include "device/NominalRange.h"
#include "dialogs/DialogCrate.h"
#include "dialogs/DialogFlexGroups.h"
#include "dialogs/DialogInhibit.h"
#include "dialogs/DialogSetCurrent.h"
#include "dialogs/DialogSetUserNominalValues.h"
#include "dialogs/DialogSuppliesTempLimits.h"

#include <QPointer>
#include <QStatusBar>

#include <cmath>

namespace {
void showAndActivate(QWidget* window)
{
    window->show();
    window->raise();
    window->activateWindow();
}
} // namespace

// ---- Tool windows ----

void TesmarControl::on_actionSuppliesAndTemperature_triggered()
{
    if (!dialogSuppliesTempLimits)
        dialogSuppliesTempLimits = new DialogSuppliesTempLimits(session.get(), this);
    showAndActivate(dialogSuppliesTempLimits);
}

void TesmarControl::on_actionCrates_triggered()
{
    if (!dialogCrate) {
        auto* window = new DialogCrate(session.get(), this);
        dialogCrate = window;
        window->setUserDialogs(dialogs());
        connect(window, &DialogCrate::setPowerOn, m_crateCommands, &CrateCommands::setPowerOn);
        connect(window, &DialogCrate::setFanSpeed, m_crateCommands, &CrateCommands::setFanSpeed);
    }
    dialogCrate->setUserDialogs(dialogs());
    dialogCrate->clearCrates();
    dialogCrate->setFanSpeedEnabled(crateFanSpeedEnabled);
    showAndActivate(dialogCrate);
}

void TesmarControl::on_actionVariableGroups_triggered()
{
    if (!dialogFlexGroups) {
        auto* window = new DialogFlexGroups(session.get(), this);
        dialogFlexGroups = window;
        connect(window, &DialogFlexGroups::setFlexGroup, this, &TesmarControl::setFlexGroup);
    }
    showAndActivate(dialogFlexGroups);
}

// ---- Reading what a dialog starts from ----

void TesmarControl::readChannelSettingsFor(QObject* dialog, const QPointer<BaseModule>& module, int channel,
    std::function<void(const ChannelSettings&)> fill, std::function<void(const QString&)> failed)
{
    // Read on the poller's thread: the dialog shows "---" meanwhile and the window stays usable.
    // The result reaches the dialog only while it exists, and only for the module it was opened on.
    const BaseModule* expected = module.data();
    session->readCurrentModuleOnce(
        dialog, [expected, channel, fill, failed](BaseModule& read) -> DeviceSession::ModuleReadResult {
            if (&read != expected)
                return [failed] { failed(tr("another module is shown now")); };
            ChannelSettings settings;
            QString reason;
            if (!ModuleCommands::readChannelSettings(read, channel, &settings, &reason))
                return [failed, reason] { failed(reason); };
            return [fill, settings] { fill(settings); };
        });
}

QString TesmarControl::unreadText(int channel, const QString& reason)
{
    const QString why = BaseModule::isNoAnswer(reason) ? noAnswerText() : reason;
    return tr("Channel %1 could not be read: %2. Nothing can be set from here; close and try again.").arg(channel).arg(why);
}

int TesmarControl::singleChannelTarget(QPointer<BaseModule>& module, const QString& what)
{
    const CommandTarget target = commandTarget(CommandTarget::Scope::OneChannel, what);
    module = target.module;
    return target.resolved() ? target.channels.first() : -1;
}

// ---- Current trip ----

namespace {
QString tripText(int action, int delayMs)
{
    return TesmarControl::tr("set delayed trip action %1 after %2 ms").arg(action).arg(delayMs);
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

void TesmarControl::on_actionSetChannelCurrentTrip_triggered()
{
    const QString what = tr("set current trip");
    QPointer<BaseModule> module;
    const int channel = singleChannelTarget(module, what);
    if (channel < 0)
        return;
    TripShown shown;
    DialogSetCurrent dialog(this);
    dialog.setChannel(channel);
    dialog.setValuesPending(tr("Reading channel %1...").arg(channel));
    const int decimals = module->currentPrecision();
    readChannelSettingsFor(
        &dialog, module, channel,
        [&dialog, &shown, decimals](const ChannelSettings& settings) {
            fillTripDialog(dialog, settings, decimals, std::fabs(settings.currentNominal));
            shown = {dialog.value(), dialog.action(), dialog.delay(), settings.currentUnit};
        },
        [&dialog, channel](const QString& reason) { dialog.setValuesPending(unreadText(channel, reason), true); });
    if (dialogs()->exec(&dialog) != QDialog::Accepted || !dialog.valuesAnswered() || !isHeld(module))
        return;
    if (shown.unit != module->currentUnit(channel)) {
        showCommandMessage(tr("Set current trip: the units changed while the dialog was open; nothing was sent."));
        return;
    }
    // Only what the operator changed is sent.
    const bool valueChanged = dialog.value() != shown.value;
    const bool tripChanged = dialog.action() != shown.action || (dialog.action() != 0 && dialog.delay() != shown.delayMs);
    const WriteSource source("prompt");
    if (valueChanged)
        writeChannelValue(module, channel, false, float(dialog.value()));
    if (tripChanged) {
        const auto action = BaseModule::OutputSupervisionAction(dialog.action());
        const int delayMs = dialog.delay();
        submitWrite(module, channel, tripText(dialog.action(), delayMs),
            [=](BaseModule& each) { return each.setChannelDelayedTripAction(channel, action, delayMs); });
    }
    if (!valueChanged && !tripChanged)
        StatusMessages::showNote(
            statusBar(), tr("Set current trip: nothing was changed, nothing was sent."), refusalMessageMs);
}

void TesmarControl::on_actionSetAllChannelsCurrentTrip_triggered()
{
    const QString what = tr("set current trip for all channels");
    QPointer<BaseModule> module;
    if (!commandModule(module, what))
        return;
    // The limits come from the latest fresh read of every channel; the fields start from the
    // chosen channel (the first without a choice), read now.
    const std::shared_ptr<const ModuleSnapshot> snapshot = freshChannelRead(module);
    const NominalRange range = snapshot ? NominalRange::of(*snapshot, allChannelsOf(module), false) : NominalRange();
    if (!range.found || range.largest <= 0.0f) {
        showNoReading(module, tr("set current trip"));
        return;
    }
    const int channel = qMax(0, selectedChannel());
    DialogSetCurrent dialog(this);
    dialog.setChannel(-1);
    dialog.setMaximum(range.largest);
    dialog.setSmallestNominal(range.smallest);
    dialog.setValuesPending(tr("Reading channel %1...").arg(channel));
    QString unit;
    const int decimals = module->currentPrecision();
    const double largest = range.largest;
    readChannelSettingsFor(
        &dialog, module, channel,
        [&dialog, &unit, decimals, largest](const ChannelSettings& settings) {
            fillTripDialog(dialog, settings, decimals, largest);
            unit = settings.currentUnit;
        },
        [&dialog, channel](const QString& reason) { dialog.setValuesPending(unreadText(channel, reason), true); });
    if (dialogs()->exec(&dialog) != QDialog::Accepted || !dialog.valuesAnswered() || !isHeld(module))
        return;
    if (unit != module->currentUnit(0)) {
        showCommandMessage(tr("Set current trip: the units changed while the dialog was open; nothing was sent."));
        return;
    }
    // Asked for every channel: every field shown is sent, changed or not.
    const WriteSource source("prompt");
    const float value = float(dialog.value());
    const auto action = BaseModule::OutputSupervisionAction(dialog.action());
    const int delayMs = dialog.delay();
    const QString tripWhat = tripText(dialog.action(), delayMs) + tr(" for all channels");
    submitCommand(module, allChannelsValueText(module, false, value), 0, [=](BaseModule& each) {
        CommandOutcome outcome = CommandOutcome::ofWrite(
            each, each.setAllChannelsCurrentSet(value), -1, allChannelsValueText(&each, false, value));
        outcome.failures +=
            CommandOutcome::ofWrite(each, each.setAllChannelsDelayedTripAction(action, delayMs), -1, tripWhat).failures;
        return outcome;
    });
}

// ---- External inhibit ----

void TesmarControl::runInhibitDialog(bool allChannels)
{
    const QString what =
        allChannels ? tr("set external inhibit action for all channels") : tr("set external inhibit action");
    QPointer<BaseModule> module;
    int channel = -1;
    if (allChannels) {
        if (!commandModule(module, what))
            return;
        channel = qMax(0, selectedChannel());
    } else {
        channel = singleChannelTarget(module, what);
        if (channel < 0)
            return;
    }
    DialogInhibit dialog(this);
    dialog.setChannel(allChannels ? -1 : channel);
    dialog.setValuesPending(tr("Reading channel %1...").arg(channel));
    int shownAction = -1;
    readChannelSettingsFor(
        &dialog, module, channel,
        [&dialog, &shownAction](const ChannelSettings& settings) {
            dialog.setValuesAnswered();
            dialog.setAction(settings.inhibitAction);
            shownAction = dialog.action();
        },
        [&dialog, channel](const QString& reason) { dialog.setValuesPending(unreadText(channel, reason), true); });
    if (dialogs()->exec(&dialog) != QDialog::Accepted || !dialog.valuesAnswered() || !isHeld(module))
        return;
    const WriteSource source("prompt");
    const auto action = BaseModule::OutputSupervisionAction(dialog.action());
    if (allChannels) {
        submitWrite(module, -1, tr("set external inhibit action %1 for all channels").arg(dialog.action()),
            [action](BaseModule& each) { return each.setAllChannelsInhibitAction(action); });
    } else if (dialog.action() != shownAction) {
        submitWrite(module, channel, tr("set external inhibit action %1").arg(dialog.action()),
            [channel, action](BaseModule& each) { return each.setChannelInhibitAction(channel, action); });
    } else {
        StatusMessages::showNote(
            statusBar(), tr("External inhibit: nothing was changed, nothing was sent."), refusalMessageMs);
    }
}

void TesmarControl::on_actionSetChannelExternalInhibitAction_triggered()
{
    runInhibitDialog(false);
}

void TesmarControl::on_actionSetAllChannelsExternalInhibitAction_triggered()
{
    runInhibitDialog(true);
}

// ---- User nominal values ----

void TesmarControl::on_actionSetChannelNominalValues_triggered()
{
    const QString what = tr("set nominal values");
    QPointer<BaseModule> module;
    const int row = singleChannelTarget(module, what);
    if (row < 0)
        return;

    DialogSetUserNominalValues dialog(this);
    dialog.setValuesPending(tr("Reading channel %1...").arg(row));
    const int voltageDecimals = module->voltagePrecision();
    const int currentDecimals = module->currentPrecision();
    // What the spin boxes show is the module's value rounded to their decimals: a value the
    // operator did not touch compares equal to it and is not written.
    double shownVoltage = 0.0;
    double shownCurrent = 0.0;
    QString voltageUnit;
    QString currentUnit;
    readChannelSettingsFor(
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
        [&dialog, row](const QString& reason) { dialog.setValuesPending(unreadText(row, reason), true); });

    if (dialogs()->exec(&dialog) != QDialog::Accepted || !dialog.valuesAnswered() || !isHeld(module))
        return;
    if (voltageUnit != module->voltageUnit(row) || currentUnit != module->currentUnit(row)) {
        showCommandMessage(tr("Set nominal values: the units changed while the dialog was open; nothing was sent."));
        return;
    }
    const double voltage = dialog.voltageNominal();
    const double current = dialog.currentNominal();
    if (voltage == shownVoltage && current == shownCurrent) {
        StatusMessages::showNote(
            statusBar(), tr("Set nominal values: nothing was changed, nothing was sent."), refusalMessageMs);
        return;
    }

    const WriteSource source("prompt");
    const std::optional<double> newVoltage = voltage != shownVoltage ? std::optional<double>(voltage) : std::nullopt;
    const std::optional<double> newCurrent = current != shownCurrent ? std::optional<double>(current) : std::nullopt;
    submitCommand(module, what, 0, [=](BaseModule& each) {
        return ModuleCommands::changeNominalValues(each, row, newVoltage, voltageUnit, newCurrent, currentUnit);
    });
}
